# Sourced by the play and test commands: installs what is missing, then
# configures the build folder ($RIDOV_BUILD_DIR, else build/ in the
# checkout) for the target and builds. Sets `build`.
#   ridov_build [target ...]   (no target: everything)
ridov_build() {
  local root
  root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
  "$root/tools/setup/setup.sh"
  source "$root/tools/setup/env.sh"
  local deps_prefix
  deps_prefix="$("$root/tools/setup/deps.sh" | tail -n 1)"
  build="${RIDOV_BUILD_DIR:-$root/build}"
  if [[ ! -f "$build/CMakeCache.txt" ]]; then
    cmake -S "$root" -B "$build" -G "Unix Makefiles" \
      -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" \
      -DRIDOV_DEPS_PREFIX="$deps_prefix" -DRIDOV_TEST_TIMEOUT_SCALE="$RIDOV_TIME_SCALE" >/dev/null
  else
    cmake -S "$root" -B "$build" -DRIDOV_DEPS_PREFIX="$deps_prefix" \
      -DRIDOV_TEST_TIMEOUT_SCALE="$RIDOV_TIME_SCALE" >/dev/null
  fi
  local targets=()
  local target
  for target in "$@"; do targets+=(--target "$target"); done
  cmake --build "$build" -j"$(nproc)" "${targets[@]}" -- --no-print-directory
}
