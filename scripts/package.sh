#!/usr/bin/env bash
# Builds the packages from a Release build: the Debian package (zevflashfile5_VERSION_amd64.deb,
# installed under /usr). The build is the demo's (build-demo/, only the installed targets),
# configured for /usr.
#   scripts/package.sh                   install packages, build, package
#   SKIP_INSTALL=1 scripts/package.sh    when the packages are already there
# The packages land in build-demo/packages/; the last lines of the output name them.
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
ls -1 "$PWD/$BUILD_DIR"/packages/*.deb
