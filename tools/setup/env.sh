# Paths shared by the setup and test scripts (sourced).
export RIDOV_CACHE_DIR="${RIDOV_CACHE_DIR:-${HOME:-/root}/.cache/ridov}"
mkdir -p "$RIDOV_CACHE_DIR"
export WINEPREFIX="${RIDOV_WINEPREFIX:-$RIDOV_CACHE_DIR/wineprefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="mscoree,mshtml="

# True when the kernel runs 32-bit Linux programs (a nine-byte exit(0) in a
# minimal 32-bit ELF). Where it does not, the distribution's 32-bit Wine
# cannot start and the set-up builds a Wine that runs 32-bit Windows
# programs inside 64-bit processes (tools/setup/wine.sh).
ridov_runs_32bit() {
  local probe="$RIDOV_CACHE_DIR/elf32-probe"
  if [[ ! -x "$probe" ]]; then
    python3 - "$probe" <<'PY'
import os, struct, sys
code = bytes([0x31, 0xDB, 0xB8, 1, 0, 0, 0, 0xCD, 0x80])  # xor ebx,ebx; mov eax,1; int 0x80
size = 84 + len(code)
head = b"\x7fELF" + bytes([1, 1, 1]) + bytes(9) + struct.pack(
    "<HHIIIIIHHHHHH", 2, 3, 1, 0x08048054, 52, 0, 0, 52, 32, 1, 0, 0, 0)
prog = struct.pack("<8I", 1, 0, 0x08048000, 0x08048000, size, size, 5, 0x1000)
open(sys.argv[1], "wb").write(head + prog + code)
os.chmod(sys.argv[1], 0o755)
PY
  fi
  "$probe" 2>/dev/null
}

if ridov_runs_32bit; then
  export RIDOV_WINE_WOW64=0 WINEARCH=win32
else
  export RIDOV_WINE_WOW64=1 WINEARCH=win64
  export PATH="$RIDOV_CACHE_DIR/wine/bin:$PATH"
fi
