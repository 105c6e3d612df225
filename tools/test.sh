#!/usr/bin/env bash
# Builds the library and every test for i686 Windows and runs them under
# Wine: headless tests with no display, display tests on a private Xvfb,
# sound through an ALSA null device (a WAV capture for the tests that ask
# for one), after the source checks of tools/lint.sh. Extra arguments go
# to ctest.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# Source checks first: a finding fails the run before anything is built.
"$root/tools/setup/setup.sh"
"$root/tools/lint.sh"
source "$root/tools/setup/build.sh"
ridov_build

source "$root/tools/harness.sh"
harness_start
trap harness_stop EXIT
# Under the user-mode emulator (machines whose kernel runs no 32-bit code)
# a Wine process can, rarely, hang in its exit after its tests passed: a
# test that times out there runs once more.
repeat=()
[[ -z "${RIDOV_EMULATED_CPU:-}" ]] || repeat=(--repeat after-timeout:2)
ctest --test-dir "$build" --output-on-failure --timeout 300 -j"$(nproc)" "${repeat[@]}" "$@"
