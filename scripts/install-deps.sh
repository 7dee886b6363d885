#!/usr/bin/env bash
# Installs the Debian 12 packages that building, testing, packaging and the demo need (file and
# dpkg-dev, which build-essential brings, for the .deb's dependencies).
set -euo pipefail
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update
$SUDO apt-get install -y --no-install-recommends \
  build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev zlib1g-dev \
  libgtest-dev libgmock-dev libpng-dev file \
  ffmpeg libavcodec-dev libavformat-dev libavutil-dev libswscale-dev libswresample-dev
