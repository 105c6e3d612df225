#!/usr/bin/env bash
# Builds the library and every test for i686 Windows and runs them under
# Wine: headless tests with no display, display tests on a private Xvfb,
# sound through an ALSA null device. Extra arguments go to ctest.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$root/tools/setup/build.sh"
ridov_build

source "$root/tools/harness.sh"
harness_start
trap harness_stop EXIT
ctest --test-dir "$build" --output-on-failure --timeout 300 -j"$(nproc)" "$@"
