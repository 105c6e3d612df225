#!/usr/bin/env bash
# Runs the game's frame benchmark: the real program with a steering player
# from the title through the stage to QUIT (about two and a half minutes),
# on the display if there is one, else on the harness's private Xvfb.
#   bench/game_frames.sh            (uses the build of tools/test.sh)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${RIDOV_BUILD_DIR:-$root/build}"
source "$root/tools/setup/env.sh"
cmake "$build" >/dev/null  # an existing build folder, configured again
cmake --build "$build" -j"$(nproc)" --target quinsel_frames >/dev/null
source "$root/tools/harness.sh"
started=
[[ -n "${DISPLAY:-}" ]] || { harness_start; started=1; }
work="$(mktemp -d)"
trap '[[ -z "$started" ]] || harness_stop >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
cp "$build"/game-pack/*.RVA "$work/"
(cd "$work" && timeout 600 wine "$build/bench/quinsel_frames.exe") >/dev/null 2>&1 || true
[[ -f "$work/game_frames.txt" ]] || { echo "game_frames: the program wrote no figures"; exit 1; }
cat "$work/game_frames.txt"
