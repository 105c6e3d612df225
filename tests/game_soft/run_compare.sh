#!/usr/bin/env bash
# The same scripted run of the game on both drawing roads, then their frames
# compared (compare_frames.py): the title, play under the fade-in, the busy
# opening, the boss, the pause menu.
#   run_compare.sh <quinsel_shots.exe> <quinsel_soft_shots.exe> <compare_frames.py> <data folder> <picture folder>
# The data folder holds the archives the game reads; the picture folder gets
# both roads' frames as PNG and a picture of each difference.
set -euo pipefail
direct3d="$1"
software="$2"
comparer="$3"
data="$4"
pictures="$5"
source "$(dirname "${BASH_SOURCE[0]}")/../game_run/common.sh"
python="${RIDOV_HOST_PYTHON:-python3}"
scale="${RIDOV_TIME_SCALE:-1}"

# run <program> <folder>: the run to its end (the probe ends it after the
# pause menu's shot), exit code 0.
run() {
  mkdir -p "$2"
  cp "$data"/*.RVA "$2/"
  local started status=0
  started=$(date +%s)
  (cd "$2" && exec timeout $((90 * scale)) wine "$1") >"$2/output.txt" 2>&1 || status=$?
  echo "$(basename "$1"): ended with $status after $(($(date +%s) - started)) s"
  ((status == 0)) || { tail -n 20 "$2/output.txt"; fail "$(basename "$1") ended with $status"; }
}
run "$direct3d" "$work/direct3d"
run "$software" "$work/software"
"$python" "$comparer" "$work/direct3d" "$work/software" "$pictures" || fail "the frames of the two roads differ"
echo "PASS"
