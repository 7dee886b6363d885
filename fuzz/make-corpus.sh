#!/usr/bin/env bash
# Remakes the ffmpeg part of the seed corpora under fuzz/corpus/: small FLV files from ffmpeg
# (one second, tiny frames, every codec family ffmpeg writes), and what fuzz_seeds derives from
# them. The hand-made seeds beside them (built_*, the AMF0 bodies, every_type) stay as they are.
# The result is committed; run this only to change the seeds.
#   fuzz/make-corpus.sh [BUILD_DIR]    (default build-fuzz, configured as fuzz/run.sh does)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${1:-build-fuzz}
ninja -C "$BUILD_DIR" fuzz_seeds

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
video="-f lavfi -i testsrc=size=32x24:rate=10:duration=1"
tone="-f lavfi -i sine=frequency=440:duration=1"
encode() {  # encode NAME ARGS...
    local name=$1
    shift
    ffmpeg -nostdin -hide_banner -loglevel error -y "$@" -t 1 -f flv "$work/$name.flv"
}
encode h263_mp3 $video $tone -c:v flv -b:v 16k -c:a libmp3lame -ar 22050 -b:a 16k
encode h264_aac $video $tone -c:v libx264 -preset ultrafast -profile:v main -pix_fmt yuv420p -bf 2 -g 5 \
    -c:a aac -ar 22050 -b:a 16k
encode screen_adpcm $video $tone -c:v flashsv -c:a adpcm_swf -ar 11025
encode screen2_pcm16 -f lavfi -i testsrc=size=16x16:rate=5:duration=1 \
    -f lavfi -i sine=frequency=440:sample_rate=5512:duration=1 -c:v flashsv2 -c:a pcm_s16le
encode h263_nellymoser $video $tone -c:v flv -b:v 16k -c:a nellymoser -ar 8000
encode speex_only $tone -c:a libspeex -ar 16000
encode pcm8_only -f lavfi -i sine=frequency=440:sample_rate=5512:duration=1 -c:a pcm_u8
encode aac_mono_only $tone -c:a aac -ac 1 -ar 16000 -b:a 12k
encode h264_only $video -c:v libx264 -preset ultrafast -pix_fmt yuv420p -g 4

for made in "$work"/*.flv; do
    rm -f fuzz/corpus/*/"$(basename "$made" .flv)"{,.flv,_damaged.flv,.v.cache,.a.cache,.nosource}
done
"$BUILD_DIR/bin/fuzz_seeds" fuzz/corpus "$work"/*.flv
du -sh fuzz/corpus
