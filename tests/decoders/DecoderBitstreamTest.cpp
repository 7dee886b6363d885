// What the decoders read from compressed frames themselves: keyframes and the screen video
// version.
#include <gtest/gtest.h>

#include <vector>

#include "mediakit/DecoderBitstream.h"
#include "tests/decoders/FlvTags.h"
#include "tests/support/FfmpegTools.h"

namespace {

using mediakit::ClassifyScreenVideo;
using mediakit::ParseScreenVideo;
using mediakit::ScreenVideoVersion;
using Bytes = std::vector<std::uint8_t>;

// Header of a 16x16 image in 16x16 blocks: block width 16 (0) | width 16, block height 16 (0) |
// height 16.
#define HEADER_16X16 0x00, 0x10, 0x00, 0x10

TEST(ScreenVideoLayout, Version1KeyFrameIsTellApartFromVersion2) {
    const Bytes frame = {HEADER_16X16,
                         0x00,
                         0x0A,  // block size 10
                         0x78,
                         0x9C,  // zlib header
                         1,
                         2,
                         3,
                         4,
                         5,
                         6,
                         7,
                         8};  // deflate data
    const auto layout = ParseScreenVideo(frame, ScreenVideoVersion::kVersion1);
    EXPECT_TRUE(layout.valid);
    EXPECT_TRUE(layout.keyFrame);
    // Read as version 2, byte 4 is the frame flags and the block size 0x0A78 runs past the end.
    EXPECT_FALSE(ParseScreenVideo(frame, ScreenVideoVersion::kVersion2).valid);
    EXPECT_EQ(ClassifyScreenVideo(frame), ScreenVideoVersion::kVersion1);
}

TEST(ScreenVideoLayout, Version1InterFrameLeavesBlocksOut) {
    const Bytes frame = {0x00, 0x20, 0x00, 0x10,  // 32x16 in two 16x16 blocks
                         0x00, 0x00,              // block 1 unchanged
                         0x00, 0x04, 0x78, 0x9C, 1, 2};
    const auto layout = ParseScreenVideo(frame, ScreenVideoVersion::kVersion1);
    EXPECT_TRUE(layout.valid);
    EXPECT_FALSE(layout.keyFrame);
}

TEST(ScreenVideoLayout, Version2FramesAndTheirBlockFlags) {
    const Bytes key = {HEADER_16X16,
                       0x00,                // frame flags: no I-frame image, no palette
                       0x00,         0x05,  // block size 5
                       0x00,                // block flags: 24-bit colour, nothing else
                       0x78,         0x9C, 1, 2};
    EXPECT_EQ(ClassifyScreenVideo(key), ScreenVideoVersion::kVersion2);
    EXPECT_TRUE(ParseScreenVideo(key, ScreenVideoVersion::kVersion2).keyFrame);

    const Bytes primed = {HEADER_16X16, 0x00, 0x00, 0x04,
                          0x01,  // primed with the keyframe's block: no zlib header
                          0xAA,         0xBB, 0xCC};
    const auto primedLayout = ParseScreenVideo(primed, ScreenVideoVersion::kVersion2);
    EXPECT_TRUE(primedLayout.valid);
    EXPECT_FALSE(primedLayout.keyFrame);

    const Bytes diff = {HEADER_16X16, 0x00, 0x00, 0x07,
                        0x04,         0x00, 0x08,  // diff block: rows 0 to 7
                        0x78,         0x9C, 1,    2};
    EXPECT_TRUE(ParseScreenVideo(diff, ScreenVideoVersion::kVersion2).valid);
    EXPECT_FALSE(ParseScreenVideo(diff, ScreenVideoVersion::kVersion2).keyFrame);

    const Bytes primeCurrent = {
        HEADER_16X16, 0x00, 0x00, 0x07,
        0x02,         0x00, 0x00,  // primed with another block of this frame
        0x78,         0x9C, 1,    2};
    EXPECT_TRUE(ParseScreenVideo(primeCurrent, ScreenVideoVersion::kVersion2).valid);
}

TEST(ScreenVideoLayout, MalformedFramesFitNoVersion) {
    const std::vector<Bytes> frames = {
        {},
        {0x00, 0x10, 0x00},                                        // header cut short
        {0x00, 0x00, 0x00, 0x10, 0x00, 0x00},                      // width 0
        {HEADER_16X16, 0x00, 0x20, 0x78, 0x9C},                    // block size past the end
        {HEADER_16X16, 0x00, 0x04, 0x12, 0x34, 1, 2},              // no zlib header
        {HEADER_16X16, 0x00, 0x04, 0x78, 0x9C, 1, 2, 0xEE},        // a byte after the last block
        {HEADER_16X16, 0x01, 0x00, 0x05, 0x00, 0x78, 0x9C, 1, 2},  // palette info follows
        {HEADER_16X16, 0x00, 0x00, 0x05, 0x80, 0x78, 0x9C, 1, 2},  // reserved block flag
        {HEADER_16X16, 0x00, 0x00, 0x05, 0x08, 0x78, 0x9C, 1, 2},  // colour depth 1
        {HEADER_16X16, 0x00, 0x00, 0x02, 0x04, 0x00},              // diff range cut short
    };
    for (const Bytes& frame : frames) {
        SCOPED_TRACE(::testing::PrintToString(frame));
        EXPECT_EQ(ClassifyScreenVideo(frame), ScreenVideoVersion::kUnknown);
    }
    // A grid of 256 x 256 blocks of 16 pixels with sizes missing ends cleanly.
    const Bytes huge = {0x0F, 0xFF, 0x0F, 0xFF};
    EXPECT_FALSE(ParseScreenVideo(huge, ScreenVideoVersion::kVersion1).valid);
}

TEST(ScreenVideoLayout, FfmpegStreamsClassifyFrameByFrame) {
    if (!FfmpegAvailable()) GTEST_SKIP() << "ffmpeg and ffprobe are needed";
    const struct {
        const char* name;
        const char* arguments;
        ScreenVideoVersion version;
    } kStreams[] = {
        {"dec_flashsv.flv", "-f lavfi -i testsrc2=size=100x70:rate=10 -t 2 -c:v flashsv -g 6",
         ScreenVideoVersion::kVersion1},
        {"dec_flashsv2.flv", "-f lavfi -i testsrc2=size=100x70:rate=10 -t 2 -c:v flashsv2 -g 6",
         ScreenVideoVersion::kVersion2},
    };
    for (const auto& stream : kStreams) {
        SCOPED_TRACE(stream.name);
        const auto path = GeneratedSample(stream.name, stream.arguments);
        ASSERT_TRUE(path);
        const auto file = ReadFlvFile(*path);
        ASSERT_TRUE(file);
        ASSERT_FALSE(file->video.empty());
        for (const auto& tag : file->video) {
            EXPECT_EQ(ClassifyScreenVideo(tag.payload), stream.version);
            const auto layout = ParseScreenVideo(tag.payload, stream.version);
            if (tag.keyFrame) {
                EXPECT_TRUE(layout.keyFrame);
            }
        }
    }
}

TEST(KeyFrames, SorensonPictureType) {
    // Start code, version 0, picture 3, size code 2 (fixed), type 0 (intra).
    EXPECT_TRUE(mediakit::IsSorensonKeyFrame(Bytes{0x00, 0x00, 0x80, 0x0D, 0x00}));
    // Version 1, type 1 (inter).
    EXPECT_FALSE(mediakit::IsSorensonKeyFrame(Bytes{0x00, 0x00, 0x84, 0x0D, 0x20}));
    // Size code 0 with 8-bit width 176 and height 144, intra.
    EXPECT_TRUE(mediakit::IsSorensonKeyFrame(Bytes{0x00, 0x00, 0x80, 0x0C, 0x58, 0x48, 0x00}));
    // Size code 1 with 16-bit sizes, type 2 (disposable inter).
    EXPECT_FALSE(
        mediakit::IsSorensonKeyFrame(Bytes{0x00, 0x00, 0x80, 0x0C, 0x80, 0x58, 0x00, 0x48, 0x40}));
    // No start code; cut short.
    EXPECT_FALSE(mediakit::IsSorensonKeyFrame(Bytes{0x00, 0x01, 0x80, 0x0D, 0x00}));
    EXPECT_FALSE(mediakit::IsSorensonKeyFrame(Bytes{0x00, 0x00, 0x80, 0x0C}));
}

TEST(KeyFrames, Vp6FrameModeBit) {
    EXPECT_TRUE(mediakit::IsVp6KeyFrame(Bytes{0x36, 0x00}, false));
    EXPECT_FALSE(mediakit::IsVp6KeyFrame(Bytes{0xB6, 0x00}, false));
    EXPECT_FALSE(mediakit::IsVp6KeyFrame(Bytes{}, false));
    // With alpha: a 3-byte alpha offset first.
    EXPECT_TRUE(mediakit::IsVp6KeyFrame(Bytes{0x00, 0x01, 0x00, 0x36}, true));
    EXPECT_FALSE(mediakit::IsVp6KeyFrame(Bytes{0x00, 0x01, 0x00, 0xB6}, true));
    EXPECT_FALSE(mediakit::IsVp6KeyFrame(Bytes{0x00, 0x01, 0x00}, true));
}

TEST(KeyFrames, H264SliceTypes) {
    // 4-byte lengths: IDR slice.
    EXPECT_TRUE(mediakit::IsH264KeyFrame(Bytes{0, 0, 0, 2, 0x65, 0x88}, 4));
    // SEI, then a non-IDR slice: first_mb 0 ('1'), slice_type 7 ('0001000'): I.
    EXPECT_TRUE(mediakit::IsH264KeyFrame(Bytes{0, 0, 0, 2, 0x06, 0x05, 0, 0, 0, 2, 0x41, 0x88}, 4));
    // slice_type 5 ('00110'): P.
    EXPECT_FALSE(mediakit::IsH264KeyFrame(Bytes{0, 0, 0, 2, 0x41, 0x9A}, 4));
    // 2-byte lengths.
    EXPECT_TRUE(mediakit::IsH264KeyFrame(Bytes{0, 2, 0x65, 0x88}, 2));
    // A length past the end, an empty frame, a bad length size.
    EXPECT_FALSE(mediakit::IsH264KeyFrame(Bytes{0, 0, 0, 9, 0x65, 0x88}, 4));
    EXPECT_FALSE(mediakit::IsH264KeyFrame(Bytes{}, 4));
    EXPECT_FALSE(mediakit::IsH264KeyFrame(Bytes{0, 2, 0x65, 0x88}, 0));
    // The length size a configuration record declares.
    EXPECT_EQ(mediakit::AvcNalLengthSize(Bytes{0x01, 0x64, 0x00, 0x1F, 0xFF}), 4);
    EXPECT_EQ(mediakit::AvcNalLengthSize(Bytes{0x01, 0x64, 0x00, 0x1F, 0xFD}), 2);
    EXPECT_EQ(mediakit::AvcNalLengthSize(Bytes{0x01, 0x64}), 4);
}

}  // namespace
