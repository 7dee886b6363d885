#!/usr/bin/env bash
# The main job on a fresh Debian 12 machine: installs the packages, builds the component and
# flvhost, registers the component for this user, generates a sample FLV with ffmpeg and runs
# flvhost info, thumb and audio on it.
#   scripts/demo.sh                   install packages, build, run
#   SKIP_INSTALL=1 scripts/demo.sh    when the packages are already there
# Output goes to out/demo/ (sample.flv, thumb.png, audio.wav).
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "${SKIP_INSTALL:-0}" != 1 ]; then scripts/install-deps.sh; fi
BUILD_DIR=${BUILD_DIR:-build-demo}
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release -DFLV_BUILD_TESTS=OFF >/dev/null
ninja -C "$BUILD_DIR" -j2 flvhost host_example
flvhost=$BUILD_DIR/bin/flvhost

out=out/demo
mkdir -p "$out"
sample=$out/sample.flv
if [ ! -s "$sample" ]; then
  # Ten seconds of 320x240 H.264 at 25 frames per second and 44.1 kHz stereo AAC.
  ffmpeg -nostdin -v error -y -f lavfi -i "testsrc2=size=320x240:rate=25" \
    -f lavfi -i "sine=frequency=440:sample_rate=44100" -t 10 \
    -c:v libx264 -g 50 -pix_fmt yuv420p -c:a aac -ac 2 "$out/sample.part.flv"
  mv "$out/sample.part.flv" "$sample"
fi

# Paths in the output as the README shows them: relative to the checkout, ~ for the home folder.
here=$PWD/
home=${HOME:+$HOME/}
if [ "$home" = "//" ]; then home=""; fi
shorten() { sed -e "s|$here||g" ${home:+-e "s|$home|~/|g"}; }
run() { printf '\n$ flvhost %s\n' "$*"; "$flvhost" "$@" | shorten; }
run register --user
run info "$sample"
run thumb "$sample" --at 4000 -o "$out/thumb.png"
run audio "$sample" -o "$out/audio.wav"
