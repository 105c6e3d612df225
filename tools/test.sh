#!/usr/bin/env bash
# Builds the library and every test for i686 Windows and runs them under
# Wine: headless tests with no display, display tests on a private Xvfb,
# sound through an ALSA null device. Extra arguments go to ctest.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/tools/setup/setup.sh"
source "$root/tools/setup/env.sh"

deps_prefix="$("$root/tools/setup/deps.sh" | tail -n 1)"

build="${RIDOV_BUILD_DIR:-$root/build}"
if [[ ! -f "$build/CMakeCache.txt" ]]; then
  cmake -S "$root" -B "$build" -G "Unix Makefiles" \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" \
    -DRIDOV_DEPS_PREFIX="$deps_prefix" >/dev/null
else
  cmake -S "$root" -B "$build" -DRIDOV_DEPS_PREFIX="$deps_prefix" >/dev/null
fi
cmake --build "$build" -j"$(nproc)" -- --no-print-directory

source "$root/tools/harness.sh"
harness_start
trap harness_stop EXIT
ctest --test-dir "$build" --output-on-failure --timeout 300 -j"$(nproc)" "$@"
