#!/usr/bin/env bash
# Installs what the build and tests need on a Debian machine (run as root),
# creates the project's Wine prefix and builds the third-party libraries
# for the target. Quiet when everything is already there.
#
# Prints nothing but progress; exports nothing. Callers source
# tools/setup/env.sh afterwards for the paths.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
source "$here/env.sh"

packages=(
  g++-mingw-w64-i686-posix mingw-w64-i686-dev cmake nasm dpkg-dev make
  libz-mingw-w64-dev googletest curl
  xvfb xauth xdotool x11-apps netpbm
  python3 sox libsox-fmt-mp3 lame ffmpeg vorbis-tools fonts-ipafont-gothic
)
if [[ $RIDOV_WINE_WOW64 == 0 ]]; then
  packages+=(
    wine wine32:i386 libgl1:i386 libgl1-mesa-dri:i386 libglx-mesa0:i386 libasound2:i386
    gstreamer1.0-plugins-base:i386 gstreamer1.0-plugins-good:i386 gstreamer1.0-plugins-ugly:i386
  )
fi

missing=()
if [[ $RIDOV_WINE_WOW64 == 0 ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  echo "setup: enabling the i386 architecture"
  dpkg --add-architecture i386
  need_update=1
fi
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq >/dev/null
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >"$RIDOV_CACHE_DIR/apt.log" 2>&1 ||
    { tail -30 "$RIDOV_CACHE_DIR/apt.log"; exit 1; }
fi

# No 32-bit Linux programs on this kernel: our own Wine build (see env.sh).
if [[ $RIDOV_WINE_WOW64 == 1 ]]; then
  "$here/wine.sh"
fi

# Project-local Wine prefix, created once.
if [[ ! -f "$WINEPREFIX/.ridov-ready" ]]; then
  echo "setup: creating Wine prefix $WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  WINEDLLOVERRIDES="mscoree,mshtml=" wineboot -i >"$RIDOV_CACHE_DIR/wineboot.log" 2>&1 ||
    { tail -30 "$RIDOV_CACHE_DIR/wineboot.log"; exit 1; }
  wineserver -w
  touch "$WINEPREFIX/.ridov-ready"
fi

# The test display has no window manager: windows Wine hands to one would
# wait two seconds for it each time they are hidden or destroyed.
if [[ ! -f "$WINEPREFIX/.ridov-unmanaged" ]]; then
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
  wineserver -w
  touch "$WINEPREFIX/.ridov-unmanaged"
fi

# The library's default face "ＭＳ ゴシック" (and its romanised name) drawn with
# the distribution's free Japanese Gothic, through Wine's font substitutes.
if [[ ! -f "$WINEPREFIX/.ridov-jpfont" ]]; then
  reg="$WINEPREFIX/drive_c/ridov-jpfont.reg"
  python3 - "$reg" <<'PY'
import sys
key = r"HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes"
text = ("Windows Registry Editor Version 5.00\r\n\r\n[%s]\r\n"
        "\"\uff2d\uff33 \u30b4\u30b7\u30c3\u30af\"=\"IPAGothic\"\r\n"
        "\"MS Gothic\"=\"IPAGothic\"\r\n" % key)
open(sys.argv[1], "wb").write(b"\xff\xfe" + text.encode("utf-16-le"))
PY
  wine regedit /S 'C:\ridov-jpfont.reg' >/dev/null 2>&1
  wineserver -w
  rm -f "$reg"
  touch "$WINEPREFIX/.ridov-jpfont"
fi

# Third-party libraries for the target.
"$here/deps.sh" >/dev/null
