#!/usr/bin/env bash
# Runs the game's frame benchmark: the real program with a steering player
# from the title through the stage to QUIT (about two and a half minutes),
# once drawing through Direct3D and once with the software renderer, on the
# display if there is one, else on the harness's private Xvfb. Prints each
# run's figures, then software against Direct3D as ratios.
#   bench/game_frames.sh            (uses the build of tools/test.sh)
# Where frames are slow (an emulated CPU), a shorter route: the stage's move
# counter jumps from <move> to just before the boss, and the run ends after
# <presents> frames:
#   RIDOV_GAME_FRAMES_BOSS_AT=<move> RIDOV_GAME_FRAMES_LIMIT=<presents> bench/game_frames.sh
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${RIDOV_BUILD_DIR:-$root/build}"
source "$root/tools/setup/env.sh"
cmake "$build" >/dev/null  # an existing build folder, configured again
cmake --build "$build" -j"$(nproc)" --target quinsel_frames quinsel_frames_soft >/dev/null
source "$root/tools/harness.sh"
started=
[[ -n "${DISPLAY:-}" ]] || { harness_start; started=1; }
work="$(mktemp -d)"
trap '[[ -z "$started" ]] || harness_stop >/dev/null 2>&1 || true; rm -rf "$work"' EXIT

# run <program> <folder>: one run; its figures in <folder>/game_frames.txt.
run() {
  mkdir -p "$2"
  cp "$build"/game-pack/*.RVA "$2/"
  (cd "$2" && timeout 3000 wine "$build/bench/$1.exe") >/dev/null 2>&1 || true
  [[ -f "$2/game_frames.txt" ]] || { echo "game_frames: $1 wrote no figures"; exit 1; }
}
run quinsel_frames "$work/direct3d"
run quinsel_frames_soft "$work/software"
echo "== Direct3D"
cat "$work/direct3d/game_frames.txt"
echo "== software renderer (16-bit 960 x 720 screen)"
cat "$work/software/game_frames.txt"
echo "== software / Direct3D"
# Main-thread CPU per frame of each phase, the busiest frames, peak memory.
figures() {
  awk '
    /^title .*frames: CPU/ { sub(/ ms.*/, "", $7); print "title", $7 }
    /^play .*frames: CPU/ { sub(/ ms.*/, "", $7); print "play", $7 }
    /^boss .*frames: CPU/ { sub(/ ms.*/, "", $7); print "boss", $7 }
    /^play +busiest/ { for (i = 1; i <= NF; i++) if ($i == "ms" && $(i + 1) == "main") { print "play-busiest", $(i - 1); break } }
    /^boss +busiest/ { for (i = 1; i <= NF; i++) if ($i == "ms" && $(i + 1) == "main") { print "boss-busiest", $(i - 1); break } }
    /^peak memory/ { print "working-set", $5; print "committed", $8 }
  ' "$1"
}
join <(figures "$work/direct3d/game_frames.txt" | sort) <(figures "$work/software/game_frames.txt" | sort) |
  awk '{ unit = ($1 ~ /working|committed/) ? "MB" : "ms/frame";
         printf "%-13s Direct3D %8.2f  software %8.2f %-8s ratio %.2f\n", $1, $2, $3, unit, ($2 > 0 ? $3 / $2 : 0) }'
# The slowest of the play and boss figures, means and busiest frames alike.
awk '/^(play|boss) / { for (i = 1; i <= NF; i++) if ($i == "ms" && $(i + 1) == "main") if ($(i - 1) + 0 > worst) worst = $(i - 1) + 0 }
     END { printf "software: slowest phase %.2f ms main-thread CPU per frame; 60 frames a second needs 16.67 (%s)\n", worst,
           worst <= 16.67 ? "held" : "not held" }' "$work/software/game_frames.txt"
