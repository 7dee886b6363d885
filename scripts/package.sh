#!/usr/bin/env bash
# Builds the packages from Release builds: the Debian package (zevflashfile5_VERSION_amd64.deb,
# installed under /usr) from the demo's build (build-demo/, only the installed targets,
# configured for /usr), and, where the Windows build is there, the Windows zip
# (zevflashfile5-VERSION-win64.zip) from build-windows/.
#   scripts/package.sh                   install packages, build, package
#   SKIP_INSTALL=1 scripts/package.sh    when the packages are already there
# The packages land in build-demo/packages/ and build-windows/packages/; the last lines of the
# output name them.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "${SKIP_INSTALL:-0}" != 1 ]; then scripts/install-deps.sh; fi
BUILD_DIR=${BUILD_DIR:-build-demo}
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release -DFLV_BUILD_TESTS=OFF \
  -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
# What the install rules take (no benchmark programs).
ninja -C "$BUILD_DIR" -j2 flvhost zevflashfile5 platform mediakit flvhost_man
rm -rf "$BUILD_DIR/packages"
(cd "$BUILD_DIR" && cpack -G DEB >/dev/null)

# The Windows zip from the mingw-w64 build (scripts/build-windows.sh: a later run rebuilds only
# what changed). SKIP_WINDOWS=1 leaves it out.
WINDOWS_BUILD_DIR=${WINDOWS_BUILD_DIR:-build-windows}
if [ -x scripts/build-windows.sh ] && [ "${SKIP_WINDOWS:-0}" != 1 ]; then
  BUILD_DIR=$WINDOWS_BUILD_DIR scripts/build-windows.sh
  rm -rf "$WINDOWS_BUILD_DIR/packages"
  (cd "$WINDOWS_BUILD_DIR" && cpack -G ZIP >/dev/null)
  ls -1 "$PWD/$WINDOWS_BUILD_DIR"/packages/*.zip
fi
ls -1 "$PWD/$BUILD_DIR"/packages/*.deb
