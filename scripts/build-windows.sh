#!/usr/bin/env bash
# Builds the Windows x64 side on Debian 12: zevflashfile5.dll, mediakit.dll (the framework
# stand-ins), flvhost.exe, host_example.exe and the Windows test programs, with mingw-w64.
#
#   scripts/build-windows.sh            install what is missing, prepare FFmpeg, build
#   SKIP_INSTALL=1 scripts/build-windows.sh   the same without apt-get
#
# Steps:
#  1. Debian packages: the mingw-w64 cross compiler (posix threads), widl, Wine, nasm, zlib for
#     mingw, GoogleTest's sources; a deb-src entry for the configured Debian archive so that
#     `apt-get source ffmpeg` finds the same FFmpeg 5.1 as the Linux libraries.
#  2. FFmpeg cross-built static and minimal (the decoders, parsers, libswscale and libswresample
#     that mediakit uses) into $ZEV_WINDOWS_CACHE (default ~/.cache/zevflashfile5-windows), once:
#     a later run finds it there.
#  3. CMake with cmake/mingw-w64-x86_64.cmake in $BUILD_DIR (default build-windows), ninja: the
#     component, the framework stand-ins, the hosts and (unless BUILD_TESTS=OFF) the test programs,
#     optimised as the Linux build is (-O2), without debug information.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
BUILD_DIR=${BUILD_DIR:-build-windows}
CACHE_DIR=${ZEV_WINDOWS_CACHE:-$HOME/.cache/zevflashfile5-windows}
JOBS=${JOBS:-$(nproc)}
FFMPEG_PREFIX=$CACHE_DIR/ffmpeg-mingw64

step() { printf '== %s (%s)\n' "$1" "$(date +%T)"; }

as_root() {
  if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi
}

install_packages() {
  local packages=(g++-mingw-w64-x86-64-posix mingw-w64-tools wine wine64 nasm libz-mingw-w64-dev
    libwine-dev googletest cmake ninja-build ccache pkg-config dpkg-dev xz-utils ffmpeg)
  local missing=()
  for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'ok installed' ||
      missing+=("$package")
  done
  # apt-get source needs a deb-src entry for the archive the machine already uses.
  local sources=/etc/apt/sources.list.d/debian.sources
  local src_list=/etc/apt/sources.list.d/zev-deb-src.sources
  local update=0
  if [ -f "$sources" ] && [ ! -f "$src_list" ]; then
    sed 's/^Types: deb$/Types: deb-src/' "$sources" | as_root tee "$src_list" >/dev/null
    update=1
  elif [ ! -f "$sources" ] && ! grep -qs '^deb-src' /etc/apt/sources.list; then
    grep '^deb ' /etc/apt/sources.list | sed 's/^deb /deb-src /' |
      as_root tee /etc/apt/sources.list.d/zev-deb-src.list >/dev/null
    update=1
  fi
  if [ ${#missing[@]} -gt 0 ] || [ $update = 1 ]; then
    as_root apt-get update -q
  fi
  if [ ${#missing[@]} -gt 0 ]; then
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
      "${missing[@]}"
  fi
}

# FFmpeg for mingw: Debian's source package (its patches applied), static, only what mediakit
# uses: for each codec the decoder that avcodec_find_decoder picks in Debian's build (mp3float
# for MP3, the native aac and speex decoders), the MP3 parser, libswscale and libswresample; the
# assembly stays on, as in Debian's build (float decoders round as their SIMD code does). No
# programs, documentation or other libraries. The stamp names the source and these options: a
# change of either rebuilds.
FFMPEG_OPTIONS=(
  --enable-cross-compile --target-os=mingw32 --arch=x86_64 --cross-prefix=x86_64-w64-mingw32-
  --enable-static --disable-shared --disable-programs --disable-doc --disable-debug
  --disable-autodetect --disable-everything --disable-network
  --disable-avformat --disable-avdevice --disable-avfilter --disable-postproc
  --enable-w32threads --enable-zlib --enable-swscale --enable-swresample
  --enable-decoder=flv,flashsv,flashsv2,vp6f,vp6a,h264
  --enable-decoder=pcm_u8,pcm_s16le,adpcm_swf,mp3float,aac,nellymoser,speex
  --enable-parser=mpegaudio
)
build_ffmpeg() {
  mkdir -p "$CACHE_DIR/src"
  (
    cd "$CACHE_DIR/src"
    if ! ls -d ffmpeg-*/ >/dev/null 2>&1; then
      apt-get source -q ffmpeg
    fi
  )
  local source_dir
  source_dir=$(ls -d "$CACHE_DIR"/src/ffmpeg-*/ | head -1)
  local stamp=$FFMPEG_PREFIX/.built
  local identity
  identity="$(basename "$source_dir") $(echo "${FFMPEG_OPTIONS[*]}" | md5sum | cut -c1-12)"
  if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$identity" ]; then
    echo "FFmpeg for mingw: $identity in $FFMPEG_PREFIX"
    return
  fi
  local build=$CACHE_DIR/ffmpeg-build
  rm -rf "$build" "$FFMPEG_PREFIX"
  mkdir -p "$build"
  (
    cd "$build"
    "$source_dir/configure" --prefix="$FFMPEG_PREFIX" "${FFMPEG_OPTIONS[@]}" \
      --cc="ccache x86_64-w64-mingw32-gcc" --pkg-config=pkg-config \
      >configure.log 2>&1 || { tail -30 configure.log; exit 1; }
    make -j"$JOBS" >make.log 2>&1 || { tail -30 make.log; exit 1; }
    make install >install.log 2>&1
  )
  rm -rf "$build"
  echo "$identity" >"$stamp"
}

if [ "${SKIP_INSTALL:-0}" != 1 ]; then
  step "packages"
  install_packages
fi

step "FFmpeg for mingw"
build_ffmpeg
[ "${FFMPEG_ONLY:-0}" = 1 ] && exit 0

step "configure $BUILD_DIR"
cmake -S "$ROOT" -B "$BUILD_DIR" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_FLAGS_RELEASE="-O2 -DNDEBUG" \
  -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" \
  -DFLV_WINDOWS_FFMPEG="$FFMPEG_PREFIX" -DFLV_BUILD_TESTS="${BUILD_TESTS:-ON}" \
  -DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache >/dev/null

step "build"
ninja -C "$BUILD_DIR" -j"$JOBS"
step "done"
