#!/usr/bin/env bash
# Builds a Wine that runs 32-bit Windows programs inside a 64-bit process
# (the "wow64" architecture list), for machines whose kernel executes no
# 32-bit Linux code, where the distribution's 32-bit Wine cannot start.
# Source: Debian's wine source package; its generated tables come from the
# Debian data packages its build uses. Installs into $RIDOV_CACHE_DIR/wine,
# once; prints progress only.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
source "$here/env.sh"

version="10.0~repack-6"
upstream="10.0~repack"
mirror="http://deb.debian.org/debian"
prefix="$RIDOV_CACHE_DIR/wine"
work="$RIDOV_CACHE_DIR/wine-build"
stamp="$prefix/.ridov-wine-$version"
[[ -f "$stamp" ]] && exit 0

exec 8>"$RIDOV_CACHE_DIR/.wine.lock"
flock 8
[[ -f "$stamp" ]] && exit 0

echo "setup: building Wine $version for 32-bit programs in 64-bit processes (once)"
export DEBIAN_FRONTEND=noninteractive
apt-get install -y -qq --no-install-recommends \
  gcc-mingw-w64-x86-64-posix gcc-mingw-w64-i686-posix flex bison autoconf \
  pkgconf gettext unzip libxml-libxml-perl icoutils imagemagick librsvg2-bin fontforge-nox libgettextpo-dev \
  libx11-dev libxext-dev libxrender-dev libxrandr-dev libxi-dev libxcursor-dev \
  libxcomposite-dev libxfixes-dev libxinerama-dev libxkbcommon-dev libfreetype-dev \
  libfontconfig-dev libgl-dev libegl-dev libasound2-dev libgstreamer1.0-dev \
  libgstreamer-plugins-base1.0-dev libgl1 libglx-mesa0 libgl1-mesa-dri \
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-ugly \
  gstreamer1.0-libav >"$RIDOV_CACHE_DIR/wine-apt.log" 2>&1 ||
  { tail -30 "$RIDOV_CACHE_DIR/wine-apt.log"; exit 1; }

rm -rf "$work"
mkdir -p "$work/debs" "$work/data"
cd "$work"
fetch() { curl -fsS --retry 3 --max-time 600 -o "$2" "$mirror/$1"; }
fetch "pool/main/w/wine/wine_$version.dsc" "wine_$version.dsc"
fetch "pool/main/w/wine/wine_$upstream.orig.tar.xz" "wine_$upstream.orig.tar.xz"
fetch "pool/main/w/wine/wine_$version.debian.tar.xz" "wine_$version.debian.tar.xz"
dpkg-source -x "wine_$version.dsc" src >/dev/null

# The tables' sources (Unicode, CLDR, the GL and Vulkan registries) and the
# fonts, from the release the source package was built in.
fetch pool/main/k/khronos-api/khronos-api_4.6+git20220505-1_all.deb debs/khronos.deb
fetch pool/main/u/unicode-data/unicode-data_15.1.0-1_all.deb debs/unicode-data.deb
fetch pool/main/u/unicode-idna/unicode-idna_16.0.0-1_all.deb debs/unicode-idna.deb
fetch pool/main/u/unicode-cldr-core/unicode-cldr-core_46-0.1_all.deb debs/cldr.deb
fetch pool/main/v/vulkan-loader/libvulkan-dev_1.4.309.0-1_amd64.deb debs/vulkan-dev.deb
fetch "pool/main/w/wine/fonts-wine_${version}_all.deb" debs/fonts-wine.deb
for d in debs/*.deb; do dpkg-deb -x "$d" data; done

cd src
d="$work/data/usr/share"
# The generators read the data where the distribution installs it.
grep -rlE "/usr/share/(khronos-api|unicode|doc/unicode-data)" tools dlls/opengl32 |
  xargs -r sed -i -E "s#/usr/share/(khronos-api|unicode|doc/unicode-data)#$d/\\1#g"
./tools/make_unicode
./tools/make_requests
./tools/make_specfiles
(cd dlls/dsound && ./make_fir)
(cd dlls/opengl32 && ./make_opengl)
(cd dlls/winevulkan && ./make_vulkan -x "$d/vulkan/registry/vk.xml" -X "$d/vulkan/registry/video.xml")
# Icons the build makes from the pictures of other modules.
grep -E '^\s+ln -sf \.\./\.\./' debian/rules | sed 's/^\s*//' | bash
autoreconf -f >/dev/null 2>&1 || autoreconf -fi

# Modules no program here loads are left out to keep the build short.
disable=()
for m in dlls/windows.* dlls/d3dx10_* dlls/d3dx11_* dlls/d3dx9_* dlls/d3d10* dlls/d3d11 dlls/d3d12* \
  dlls/msvcr7* dlls/msvcr8* dlls/msvcr9* dlls/msvcr1[01]* dlls/msvcr120* dlls/msvcp[6-9]* dlls/msvcp1[01]* \
  dlls/msvcp120* dlls/xactengine* dlls/xapofx* dlls/xaudio2_[0-6] dlls/mshtml* dlls/ieframe dlls/jscript \
  dlls/vbscript dlls/d3dcompiler_3* dlls/d3dcompiler_4[0-6] dlls/msado15 dlls/mfmediaengine \
  programs/notepad programs/wordpad programs/winemine programs/winhlp32 programs/iexplore \
  programs/winefile programs/taskmgr programs/oleview programs/view programs/write; do
  [[ -d "$m" ]] && disable+=("--disable-$(basename "$m")")
done
./configure --prefix="$prefix" --enable-archs=i386,x86_64 --disable-tests --enable-maintainer-mode --with-mingw ZLIB_PE_LIBS=z \
  --without-oss --without-sane --without-netapi --without-cups --without-gphoto --without-pcap \
  --without-usb --without-v4l2 --without-krb5 --without-opencl --without-pcsclite --without-sdl \
  --without-capi --without-dbus --without-pulse --without-wayland --without-udev --without-unwind \
  --without-ffmpeg --without-gnutls --without-vulkan --without-xxf86vm --without-xshape \
  "${disable[@]}" >"$work/configure.log" 2>&1 || { tail -30 "$work/configure.log"; exit 1; }
# The tools and the headers made from interface files first: some objects
# do not name those headers among their dependencies.
jobs=$(($(nproc) + 1))
{ make -j"$jobs" __tooldeps__ && make -j"$jobs" include/all && make -j"$jobs"; } >"$work/make.log" 2>&1 || { grep -m5 -B2 "error" "$work/make.log"; tail -20 "$work/make.log"; exit 1; }
rm -rf "$prefix"
make install >"$work/install.log" 2>&1 || { tail -20 "$work/install.log"; exit 1; }
mkdir -p "$prefix/share/wine/fonts"
cp -n "$work/data/usr/share/wine/fonts/"* "$prefix/share/wine/fonts/" 2>/dev/null || true
rm -rf "$work"
touch "$stamp"
