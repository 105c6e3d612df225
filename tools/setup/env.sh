# Paths shared by the setup and test scripts (sourced).
export RIDOV_CACHE_DIR="${RIDOV_CACHE_DIR:-${HOME:-/root}/.cache/ridov}"
mkdir -p "$RIDOV_CACHE_DIR"
export WINEPREFIX="${RIDOV_WINEPREFIX:-$RIDOV_CACHE_DIR/wineprefix}"
export WINEARCH=win32
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="mscoree,mshtml="
# The 32-bit programs run under the user-mode emulator where the kernel runs
# no 32-bit code (see setup.sh): RIDOV_EMULATED_CPU is then set, and the
# tests' time limits are RIDOV_TIME_SCALE times their native ones.
if [[ "$(head -n 1 /proc/sys/fs/binfmt_misc/ridov-i386 2>/dev/null)" == enabled ]]; then
  export RIDOV_EMULATED_CPU=1 RIDOV_TIME_SCALE=5
else
  unset RIDOV_EMULATED_CPU
  export RIDOV_TIME_SCALE=1
fi
