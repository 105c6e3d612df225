#!/usr/bin/env bash
# The installable package end to end: installs the build into a scratch
# prefix, checks the files and that the package names no folder of this
# machine's build, configures and builds tests/examples/package (a separate
# project: find_package(RiDov) over the prefix, the project's toolchain
# file), then runs its probed sprites example under Wine on the display.
#   run_package.sh <cmake> <build dir> <source dir> <third-party prefix>
set -uo pipefail
cmake="$1" build="$2" source="$3" deps="$4"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
fail() {
  echo "FAIL: $*"
  exit 1
}

prefix="$work/prefix"
"$cmake" --install "$build" --prefix "$prefix" >"$work/install.txt" 2>&1 || { cat "$work/install.txt"; fail "install"; }
for f in include/RiDov.h lib/libRiDov.a lib/cmake/RiDov/RiDovConfig.cmake lib/cmake/RiDov/RiDovConfigVersion.cmake \
  lib/cmake/RiDov/RiDovTargets.cmake lib/RiDov/third-party/libz.a lib/RiDov/third-party/libpng16.a \
  lib/RiDov/third-party/libBulletDynamics.a; do
  [[ -f "$prefix/$f" ]] || fail "not installed: $f"
done
if grep -rl -e "$build" -e "$source" -e "$deps" "$prefix/lib/cmake"; then
  fail "the package configuration names a folder of the build machine"
fi

"$cmake" -S "$source/tests/examples/package" -B "$work/project" \
  -DCMAKE_TOOLCHAIN_FILE="$source/cmake/mingw-i686.cmake" -DRiDov_DIR="$prefix/lib/cmake/RiDov" \
  -DRIDOV_SOURCE_DIR="$source" >"$work/configure.txt" 2>&1 || { cat "$work/configure.txt"; fail "configure"; }
"$cmake" --build "$work/project" -j2 >"$work/build.txt" 2>&1 || { cat "$work/build.txt"; fail "build"; }
[[ -f "$work/project/sprites.exe" ]] || fail "no sprites.exe"

mkdir "$work/run"
(cd "$work/run" && wine "$work/project/sprites_probe.exe" </dev/null 2>"$work/wine.txt") | tr -d '\r' >"$work/run.txt"
status=${PIPESTATUS[0]}
cat "$work/run.txt"
[[ $status -eq 0 ]] || { tail -n 20 "$work/wine.txt"; fail "the example ended with $status"; }
grep -q '^PASS$' "$work/run.txt" || fail "the probe did not pass"
[[ -f "$work/run/ship.bmp" && -f "$work/run/beep.wav" ]] || fail "the example wrote no files"
