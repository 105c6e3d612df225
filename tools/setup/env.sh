# Paths shared by the setup and test scripts (sourced).
export RIDOV_CACHE_DIR="${RIDOV_CACHE_DIR:-${HOME:-/root}/.cache/ridov}"
mkdir -p "$RIDOV_CACHE_DIR"
export WINEPREFIX="${RIDOV_WINEPREFIX:-$RIDOV_CACHE_DIR/wineprefix}"
export WINEARCH=win32
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="mscoree,mshtml="
