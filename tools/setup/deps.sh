#!/usr/bin/env bash
# Builds the third-party libraries for the i686 Windows target (mingw-w64 -posix,
# static, -O2 -msse2 -mfpmath=sse) from Debian source packages, into a prefix
# kept in a cache folder outside the repository.
#
# Usage:
#   tools/setup/deps.sh                 build if needed, then print the prefix
#   tools/setup/deps.sh --print-prefix  print the prefix if already built, else exit 1
#                                       (never builds, never touches apt or the network)
#
#   stdout: only the prefix path, one line. Progress and errors go to stderr;
#   nothing is printed to stderr when the prefix is already built.
#   Typical use:
#     cmake -DRIDOV_DEPS_PREFIX="$(tools/setup/deps.sh)" ...
#
# Environment:
#   RIDOV_CACHE_DIR  cache folder (default: $HOME/.cache/ridov)
#   RIDOV_DEPS_JOBS  parallel make jobs (default: nproc)
#
# Prefix: $RIDOV_CACHE_DIR/deps-<key>/prefix with include/ and lib/, where <key>
# hashes the source package versions, the toolchain versions and this file's
# contents (any edit here yields a new prefix). lib/ holds libpng16.a,
# libjpeg.a, libogg.a, libvorbis.a, libvorbisfile.a, libtheoradec.a,
# libtheoraenc.a, libLinearMath.a, libBulletCollision.a, libBulletDynamics.a,
# liblz4.a (for the benchmarks only; the library does not link it);
# Bullet's headers are in include/bullet. zlib is mingw's own
# (/usr/i686-w64-mingw32, package libz-mingw-w64-dev). Build logs stay in
# deps-<key>/logs. Needs root the first time (apt source lists, apt-get update).
set -euo pipefail

PACKAGES=(libogg libvorbis libtheora libpng1.6 libjpeg-turbo bullet lz4)
HOST=i686-w64-mingw32
CC=$HOST-gcc-posix
CXX=$HOST-g++-posix
OPT_FLAGS="-O2 -msse2 -mfpmath=sse"
MINGW_ROOT=/usr/$HOST

SELF=$(readlink -f "${BASH_SOURCE[0]}")
REPO_ROOT=$(cd "$(dirname "$SELF")/../.." && pwd -P)
CACHE=${RIDOV_CACHE_DIR:-$HOME/.cache/ridov}
JOBS=${RIDOV_DEPS_JOBS:-$(nproc)}

MODE=build
case "${1:-}" in
  "") ;;
  --print-prefix) MODE=print ;;
  -h|--help) sed -n '2,/^set -euo/p' "$SELF" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
  *) echo "deps: unknown argument: $1 (try --help)" >&2; exit 2 ;;
esac

say() { echo "deps: $*" >&2; }
die() { echo "deps: error: $*" >&2; exit 1; }

CACHE=$(realpath -m "$CACHE")
case "$CACHE/" in
  "$REPO_ROOT"/*) die "RIDOV_CACHE_DIR ($CACHE) must be outside the repository" ;;
esac

# Source versions apt knows for $1, newest first.
candidates() {
  local v out=() i j t
  while read -r v; do out+=("$v"); done < <(apt-cache showsrc --only-source "$1" 2>/dev/null | sed -n 's/^Version: //p')
  for ((i = 1; i < ${#out[@]}; i++)); do
    for ((j = i; j > 0; j--)); do
      dpkg --compare-versions "${out[j]}" gt "${out[j-1]}" || break
      t=${out[j]}; out[j]=${out[j-1]}; out[j-1]=$t
    done
  done
  ((${#out[@]})) && printf '%s\n' "${out[@]}"
  return 0
}

all_candidates() {
  local p
  for p in "${PACKAGES[@]}"; do
    printf '%s %s\n' "$p" "$(candidates "$p" | tr '\n' ' ')"
  done
}

has_deb_src() {
  grep -rqsE '^[[:space:]]*(deb-src[[:space:]]|Types:.*deb-src)' \
    /etc/apt/sources.list /etc/apt/sources.list.d/
}

enable_deb_src() {
  [[ $(id -u) == 0 ]] || die "Debian source lists are missing; run once as root to enable them"
  if ! has_deb_src; then
    if [[ -f /etc/apt/sources.list.d/debian.sources ]]; then
      say "enabling deb-src (/etc/apt/sources.list.d/ridov-deb-src.sources)"
      sed -E 's/^Types:.*/Types: deb-src/' /etc/apt/sources.list.d/debian.sources \
        > /etc/apt/sources.list.d/ridov-deb-src.sources
    elif grep -qsE '^deb[[:space:]]' /etc/apt/sources.list; then
      say "enabling deb-src (/etc/apt/sources.list.d/ridov-deb-src.list)"
      sed -nE 's/^deb([[:space:]])/deb-src\1/p' /etc/apt/sources.list \
        > /etc/apt/sources.list.d/ridov-deb-src.list
    else
      die "no Debian apt source found to derive deb-src entries from"
    fi
  fi
  say "apt-get update"
  apt-get update -qq >&2 || say "warning: apt-get update reported errors"
}

CANDS=$(all_candidates)
if grep -qE '^[^ ]+ $' <<<"$CANDS"; then
  [[ $MODE == print ]] && die "source package versions unknown (run tools/setup/deps.sh to set up)"
  enable_deb_src
  CANDS=$(all_candidates)
  missing=$(sed -nE 's/^([^ ]+) $/\1/p' <<<"$CANDS" | tr '\n' ' ')
  [[ -z $missing ]] || die "apt knows no source package for: $missing"
fi

# Which candidate version of each package was actually downloadable; cached
# per candidate set so that later runs need no network.
DL=$CACHE/downloads
RESOLVED=$CACHE/resolved/$(sha256sum <<<"$CANDS" | cut -c1-16)

# One build or download at a time per cache folder.
take_lock() {
  [[ -n ${LOCKED:-} ]] && return 0
  mkdir -p "$CACHE"
  exec 9>"$CACHE/.deps.lock"
  flock 9
  LOCKED=1
}

download() { # pkg version -> 0 if $DL/pkg_version holds the source package
  local dir=$DL/$1_$2 tmp
  [[ -f $dir/.complete ]] && return 0
  tmp=$DL/.tmp-$1-$$
  rm -rf "$tmp" && mkdir -p "$tmp"
  if (cd "$tmp" && apt-get source --download-only "$1=$2") </dev/null >"$DL/$1_$2.log" 2>&1; then
    touch "$tmp/.complete"
    rm -rf "$dir" && mv "$tmp" "$dir"
    return 0
  fi
  rm -rf "$tmp"
  return 1
}

if [[ ! -f $RESOLVED ]]; then
  [[ $MODE == print ]] && die "not built yet (run tools/setup/deps.sh)"
  take_lock
  mkdir -p "$DL" "$CACHE/resolved"
  out=""
  while read -r pkg vers; do
    chosen=""
    for v in $vers; do
      if download "$pkg" "$v"; then chosen=$v; break; fi
      say "$pkg $v: download failed, trying an older version"
    done
    if [[ -z $chosen ]]; then
      tail -n 20 "$DL/${pkg}_$v.log" >&2
      die "could not download any source of $pkg ($vers)"
    fi
    out+="$pkg $chosen"$'\n'
  done <<<"$CANDS"
  printf '%s' "$out" >"$RESOLVED.tmp" && mv "$RESOLVED.tmp" "$RESOLVED"
fi
declare -A VER
while read -r pkg v; do VER[$pkg]=$v; done <"$RESOLVED"

TOOLS=$(dpkg-query -W gcc-mingw-w64-i686-posix g++-mingw-w64-i686-posix libz-mingw-w64-dev 2>/dev/null ||
  { $CC --version | head -n1; $CXX --version | head -n1; } 2>/dev/null)
KEY=$( { cat "$RESOLVED"; echo "$TOOLS"; sha256sum <"$SELF"; } | sha256sum | cut -c1-16)
DEPS=$CACHE/deps-$KEY
PREFIX=$DEPS/prefix
STAMP=$DEPS/.complete

if [[ -f $STAMP ]]; then echo "$PREFIX"; exit 0; fi
[[ $MODE == print ]] && die "not built yet (run tools/setup/deps.sh)"

take_lock
if [[ -f $STAMP ]]; then echo "$PREFIX"; exit 0; fi

for t in "$CC" "$CXX" cmake make dpkg-source pkg-config; do
  command -v "$t" >/dev/null || die "missing $t (apt-get install gcc-mingw-w64-i686-posix g++-mingw-w64-i686-posix cmake make dpkg-dev pkgconf nasm libz-mingw-w64-dev)"
done
[[ -f $MINGW_ROOT/lib/libz.a ]] || die "missing $MINGW_ROOT/lib/libz.a (apt-get install libz-mingw-w64-dev)"

rm -rf "$DEPS"
WORK=$DEPS/work
LOGS=$DEPS/logs
mkdir -p "$WORK" "$LOGS" "$PREFIX/include" "$PREFIX/lib"

cat >"$WORK/toolchain.cmake" <<EOF
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER $CC)
set(CMAKE_CXX_COMPILER $CXX)
set(CMAKE_RC_COMPILER $HOST-windres)
set(CMAKE_FIND_ROOT_PATH $MINGW_ROOT $PREFIX)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
EOF

# -O2 sits in CMAKE_<LANG>_FLAGS: libjpeg-turbo rewrites -O2 to -O3 in the
# Release flags.
CMAKE_ARGS=(
  -G "Unix Makefiles"
  -DCMAKE_TOOLCHAIN_FILE="$WORK/toolchain.cmake"
  -DCMAKE_BUILD_TYPE=Release
  -DCMAKE_C_FLAGS="$OPT_FLAGS"
  -DCMAKE_CXX_FLAGS="$OPT_FLAGS"
  -DCMAKE_C_FLAGS_RELEASE=-DNDEBUG
  -DCMAKE_CXX_FLAGS_RELEASE=-DNDEBUG
  -DCMAKE_INSTALL_PREFIX="$PREFIX"
  -DBUILD_SHARED_LIBS=OFF
  -DCMAKE_VERBOSE_MAKEFILE=ON
)

configure_autotools() {
  ./configure --host=$HOST --prefix="$PREFIX" --disable-shared --enable-static \
    --disable-maintainer-mode --disable-dependency-tracking \
    CC="$CC" CFLAGS="$OPT_FLAGS" CPPFLAGS="-I$PREFIX/include" LDFLAGS="-L$PREFIX/lib" \
    PKG_CONFIG=pkg-config PKG_CONFIG_LIBDIR="$PREFIX/lib/pkgconfig" PKG_CONFIG_PATH= "$@"
}

build_libogg() {
  configure_autotools
  make -j"$JOBS" V=1
  make install
}

build_libvorbis() {
  configure_autotools --disable-oggtest --disable-docs --disable-examples
  make -j"$JOBS" V=1
  make install
}

# Only lib/ and include/: the top-level Makefile wants doc files the Debian
# tarball does not ship.
build_libtheora() {
  configure_autotools --disable-oggtest --disable-vorbistest --disable-sdltest \
    --disable-examples --disable-spec
  make -C lib -j"$JOBS" V=1
  make -C lib install
  make -C include install
  make install-pkgconfigDATA
}

build_libpng1.6() {
  configure_autotools --enable-intel-sse=yes
  make -j"$JOBS" V=1
  make install
}

build_libjpeg-turbo() {
  local args=("${CMAKE_ARGS[@]}" -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_TURBOJPEG=OFF)
  if ! cmake -S . -B build "${args[@]}" -DWITH_SIMD=ON -DREQUIRE_SIMD=ON -DCMAKE_ASM_NASM_COMPILER=nasm ||
     ! make -C build -j"$JOBS"; then
    echo "deps: SIMD build failed, retrying with WITH_SIMD=OFF"
    rm -rf build
    cmake -S . -B build "${args[@]}" -DWITH_SIMD=OFF
    make -C build -j"$JOBS"
  fi
  make -C build install
}

# Only LinearMath, BulletCollision and BulletDynamics, installed through their
# own directories' install scripts. OpenGL lookup is off: Debian's target
# renaming wrappers break FindOpenGL's set_target_properties calls.
build_bullet() {
  cmake -S . -B build "${CMAKE_ARGS[@]}" -DUSE_DOUBLE_PRECISION=OFF -DINSTALL_LIBS=ON \
    -DBUILD_BULLET3=OFF -DBUILD_EXTRAS=OFF -DBUILD_UNIT_TESTS=OFF -DBUILD_PYBULLET=OFF \
    -DBUILD_CPU_DEMOS=OFF -DBUILD_BULLET2_DEMOS=OFF -DBUILD_OPENGL3_DEMOS=OFF \
    -DUSE_GRAPHICAL_BENCHMARK=OFF -DBUILD_ENET=OFF -DBUILD_CLSOCKET=OFF -DUSE_GLUT=OFF \
    -DCMAKE_DISABLE_FIND_PACKAGE_OpenGL=ON
  make -C build -j"$JOBS" LinearMath BulletCollision BulletDynamics
  local d
  for d in LinearMath BulletCollision BulletDynamics; do
    cmake -DCMAKE_INSTALL_PREFIX="$PREFIX" -P "build/src/$d/cmake_install.cmake"
  done
  install -m644 src/btBulletCollisionCommon.h src/btBulletDynamicsCommon.h "$PREFIX/include/bullet/"
}

# The static library and its two headers only.
build_lz4() {
  make -C lib -j"$JOBS" liblz4.a CC="$CC" AR="$HOST-ar" CFLAGS="$OPT_FLAGS" V=1
  install -m644 lib/liblz4.a "$PREFIX/lib/"
  install -m644 lib/lz4.h lib/lz4hc.h "$PREFIX/include/"
}

for pkg in "${PACKAGES[@]}"; do
  v=${VER[$pkg]}
  log=$LOGS/$pkg.log
  start=$SECONDS
  echo -n "deps: $pkg $v ... " >&2
  download "$pkg" "$v" || die "could not download $pkg $v (see $DL/${pkg}_$v.log)"
  # Not run as an if/|| condition, where bash would ignore set -e inside.
  set +e
  (
    set -e
    exec >"$log" 2>&1 </dev/null
    dpkg-source -x "$(ls "$DL/${pkg}_$v"/*.dsc)" "$WORK/$pkg"
    cd "$WORK/$pkg"
    "build_$pkg"
  )
  rc=$?
  set -e
  if ((rc != 0)); then
    echo "FAILED" >&2
    echo "--- last lines of $log:" >&2
    tail -n 40 "$log" >&2
    exit 1
  fi
  echo "ok ($((SECONDS - start))s)" >&2
done

{ printf '%s\n' "$TOOLS"; cat "$RESOLVED"; } >"$DEPS/versions.txt"
# Tools, manuals and libtool archives are not needed.
rm -rf "$WORK" "$PREFIX/bin" "$PREFIX/share" "$PREFIX"/lib/*.la
touch "$STAMP"
# Leftovers of failed builds (complete prefixes of other keys are kept).
for d in "$CACHE"/deps-*/; do
  [[ -f $d/.complete ]] || rm -rf "$d"
done
say "done: $PREFIX"
echo "$PREFIX"
