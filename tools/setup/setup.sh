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

# Wine runs the 32-bit programs here as 32-bit code. Some kernels run none
# (IA-32 emulation switched off, or a host that allows 64-bit user code
# only): a minimal 32-bit ELF that exits with 0 tells. On such a machine
# Debian's user-mode emulator runs them instead, through binfmt_misc. It
# must be version 8 or later: Wine reserves its address space with
# MAP_FIXED_NOREPLACE, which 7.2 ignores, and then cannot start.
probe="$RIDOV_CACHE_DIR/elf32-probe"
# ELF header, one loadable segment, then: xor ebx,ebx; mov eax,1; int 0x80
printf '%b' \
  '\x7f\x45\x4c\x46\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00' \
  '\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00' \
  '\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x5d\x00\x00\x00' \
  '\x5d\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00\x31\xdb\xb8\x01\x00\x00\x00\xcd\x80' >"$probe"
chmod 755 "$probe"

# Major version of the installed emulator, 0 without one.
qemu_major() {
  local v
  v="$(qemu-i386-static --version 2>/dev/null | sed -n 's/^qemu-i386 version \([0-9]*\)\..*/\1/p')"
  echo "${v:-0}"
}

# The Debian archive this machine is configured with: the first URI of a
# binary-package source that carries the release itself (suite = codename),
# from /etc/apt/sources.list and sources.list.d (deb822 *.sources and
# one-line *.list), with that source's keyring when it names one. Prints
# "URI<TAB>keyring" (the keyring may be empty); nothing when there is none.
configured_debian_archive() {
  local codename="$1" file
  local -a files=()
  [[ -f /etc/apt/sources.list ]] && files+=(/etc/apt/sources.list)
  for file in /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
    [[ -f "$file" && "$(basename "$file")" != ridov-* ]] && files+=("$file")
  done
  ((${#files[@]})) || return 0
  awk -v codename="$codename" '
    function flush() {
      if (types ~ /(^| )deb( |$)/ && (" " suites " ") ~ (" " codename " ") && uris != "" && enabled !~ /^no$/ && !found) {
        split(uris, u, " "); printf "%s\t%s\n", u[1], keyring; found = 1
      }
      types = ""; uris = ""; suites = ""; keyring = ""; enabled = ""
    }
    FNR == 1 { flush(); deb822 = FILENAME ~ /\.sources$/ }
    /^[ \t]*#/ { next }
    deb822 && /^[ \t]*$/ { flush(); next }
    deb822 && /^[ \t]/ { next }
    deb822 {
      key = tolower($1); sub(/:$/, "", key); value = $0; sub(/^[^:]*:[ \t]*/, "", value)
      if (key == "types") types = value
      else if (key == "uris") uris = value
      else if (key == "suites") suites = value
      else if (key == "signed-by") keyring = value
      else if (key == "enabled") enabled = tolower(value)
      next
    }
    $1 == "deb" {
      n = 2; opts = ""
      if ($2 ~ /^\[/) { while (n <= NF && $n !~ /\]$/) { opts = opts " " $n; n++ } opts = opts " " $n; n++ }
      if ($(n + 1) == codename && !found) {
        keyring = ""
        if (match(opts, /signed-by=[^] ]+/)) keyring = substr(opts, RSTART + 10, RLENGTH - 10)
        printf "%s\t%s\n", $n, keyring; found = 1
      }
    }
    END { flush() }
  ' "${files[@]}"
}

# Installs the emulator (from the distribution's backports where its own
# is too old) and registers it for i386 ELF files.
ia32_by_emulator() {
  export DEBIAN_FRONTEND=noninteractive
  if (($(qemu_major) < 8)); then
    echo "setup: this kernel runs no 32-bit x86 code; installing the user-mode emulator"
    apt-get update -qq >/dev/null
    local candidate codename suite=()
    candidate="$(apt-cache policy qemu-user-static | sed -n 's/^ *Candidate: \(1:\)\{0,1\}\([0-9]*\)\..*/\2/p')"
    if ((${candidate:-0} < 8)); then
      codename="$(. /etc/os-release && echo "${VERSION_CODENAME:-}")"
      [[ -n "$codename" ]] || { echo "setup: no distribution codename in /etc/os-release" >&2; return 1; }
      local archive uri keyring
      archive="$(configured_debian_archive "$codename")"
      uri="${archive%%$'\t'*}"
      keyring="${archive#*$'\t'}"
      [[ -n "$uri" ]] || {
        echo "setup: no configured package source carries '$codename'; cannot add its backports" >&2
        return 1
      }
      {
        printf '%s\n' "Types: deb" "URIs: $uri" "Suites: $codename-backports" "Components: main"
        [[ -z "$keyring" ]] || printf 'Signed-By: %s\n' "$keyring"
      } >/etc/apt/sources.list.d/ridov-backports.sources
      apt-get update -qq >/dev/null
      suite=(-t "$codename-backports")
    fi
    apt-get install -y -qq --no-install-recommends "${suite[@]}" qemu-user-static \
      >"$RIDOV_CACHE_DIR/apt.log" 2>&1 || { tail -30 "$RIDOV_CACHE_DIR/apt.log" >&2; return 1; }
    (($(qemu_major) >= 8)) || { echo "setup: the emulator installed is older than version 8" >&2; return 1; }
  fi
  local misc=/proc/sys/fs/binfmt_misc
  [[ -e "$misc/register" ]] || mount -t binfmt_misc binfmt_misc "$misc" || return 1
  [[ ! -e "$misc/ridov-i386" ]] || echo -1 >"$misc/ridov-i386"
  # i386 executables and shared objects (ELF class 32, little-endian,
  # machine 3); F opens the emulator now, so it serves every namespace.
  local magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
  local mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
  echo ":ridov-i386:M::$magic:$mask:$(readlink -f /usr/bin/qemu-i386-static):F" >"$misc/register"
}

if ! "$probe" 2>/dev/null; then
  ia32_by_emulator || true
  if ! "$probe" 2>/dev/null; then
    echo "setup: this machine's kernel runs no 32-bit x86 programs (IA-32 emulation off)," >&2
    echo "setup: and no user-mode emulator could be set up to run them: Wine cannot run" >&2
    echo "setup: the 32-bit Windows programs the build and the tests need" >&2
    exit 1
  fi
fi

packages=(
  g++-mingw-w64-i686-posix mingw-w64-i686-dev cmake nasm dpkg-dev make
  libz-mingw-w64-dev googletest
  wine wine32:i386 xvfb xauth xdotool x11-apps netpbm
  libgl1:i386 libgl1-mesa-dri:i386 libglx-mesa0:i386 libasound2:i386
  python3 sox libsox-fmt-mp3 lame ffmpeg vorbis-tools fonts-ipafont-gothic
  # tools/format.sh and tools/lint.sh.
  clang-format
  # A font that claims Japanese but has no Latin letters, pulled in on many
  # machines (ImageMagick's dependencies among them): the tests run beside it.
  fonts-droid-fallback
  gstreamer1.0-plugins-base:i386 gstreamer1.0-plugins-good:i386 gstreamer1.0-plugins-ugly:i386
)

missing=()
if ! dpkg --print-foreign-architectures | grep -qx i386; then
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
