// The open's probe of the video stream object: it decodes the first record alone to learn the
// frame size, and when that record gives no frame it starts the decoder afresh and takes the
// first frame the read stage brings.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "frame/ComponentModule.h"
#include "frame/Interfaces.h"
#include "mediakit/MediaKit.h"
#include "platform/Bstr.h"
#include "platform/Com.h"
#include "platform/TextConvert.h"
#include "streams/VideoStream.h"
#include "tests/support/ComponentClasses.h"
#include "tests/support/FfmpegTools.h"
#include "tests/support/FlvBuilder.h"
#include "tests/support/TempDir.h"

namespace {

void RegisterClasses() {
    static const bool registered = [] {
        EXPECT_EQ(MediaKitRegisterClasses(), S_OK);
        static ComponentClassRegistration classes;
        classes.Add<CFlashVideoStream5>(CLSID_FlashVideoStream5);
        return true;
    }();
    (void)registered;
}

// Opens `file` in a new stream object and answers the size of its format.
std::pair<LONG, LONG> OpenedSize(const std::filesystem::path& file, ComPtr<IMediaStream>& stream) {
    RegisterClasses();
    ComPtr<IMediaParams> params;
    EXPECT_EQ(CreateInstance(CLSID_MediaParams, params), S_OK);
    EXPECT_EQ(params->SetLong(Bstr(L"OperationMode").Get(), 0, 1), S_OK);
    EXPECT_EQ(params->SetString(Bstr(L"FileName").Get(), 0, Bstr(Utf8ToWide(file.string())).Get()),
              S_OK);
    EXPECT_EQ(CreateInstance(CLSID_FlashVideoStream5, stream), S_OK);
    EXPECT_EQ(stream->SendCommandEx(1001, params.Get(), nullptr), S_OK);
    ComPtr<IUnknown> copy;
    EXPECT_EQ(stream->SendCommandEx(17, nullptr, copy.Put()), S_OK);
    auto format = copy.As<IVideoFormat>();
    LONG width = 0;
    LONG height = 0;
    if (format) {
        EXPECT_EQ(format->GetWidth(&width), S_OK);
        EXPECT_EQ(format->GetHeight(&height), S_OK);
    }
    return {width, height};
}

}  // namespace

TEST(VideoStreamProbe, AFirstTagWithoutADecodableFrameLeavesTheSizeToTheNextFrame) {
    if (!FfmpegAvailable()) GTEST_SKIP() << "ffmpeg and ffprobe are needed";
    // Sorenson H.263 without "onMetaData": only decoding can tell the size.
    const auto sample = GeneratedSample(
        "probe_flv1_nometa.flv",
        "-f lavfi -i testsrc2=size=176x144:rate=25 -t 1 -c:v flv1 -g 10 -flvflags no_metadata");
    ASSERT_TRUE(sample);
    std::ifstream in(*sample, std::ios::binary);
    const std::string original{std::istreambuf_iterator<char>(in), {}};
    ASSERT_GT(original.size(), 13u);

    // The same file led by a video tag whose body is a keyframe header byte (0x12: keyframe,
    // Sorenson H.263) and 64 zero bytes, which hold no picture start code.
    FlvBuilder damaged(0x01);
    damaged.Tag(9, 0, "\x12" + std::string(64, '\0'));
    damaged.Raw(original.substr(13));
    TempDir temp;
    const auto file = temp.Write("damaged_first.flv", damaged.Bytes());

    ComPtr<IMediaStream> plain;
    ComPtr<IMediaStream> led;
    EXPECT_EQ(OpenedSize(*sample, plain), std::make_pair(LONG{176}, LONG{144}));
    EXPECT_EQ(OpenedSize(file, led), std::make_pair(LONG{176}, LONG{144}));

    // The probe leaves no trace: the first read of each is the same first frame.
    ComPtr<IUnknown> first;
    ComPtr<IUnknown> second;
    ASSERT_EQ(plain->Read(0, 0.0, first.Put()), S_OK);
    ASSERT_EQ(led->Read(0, 0.0, second.Put()), S_OK);
    auto a = first.As<IMediaPacket>();
    auto b = second.As<IMediaPacket>();
    ASSERT_TRUE(a && b);
    LONG sizeA = 0;
    LONG sizeB = 0;
    BYTE* bytesA = nullptr;
    BYTE* bytesB = nullptr;
    ASSERT_EQ(a->GetSize(&sizeA), S_OK);
    ASSERT_EQ(b->GetSize(&sizeB), S_OK);
    ASSERT_EQ(a->GetData(&bytesA), S_OK);
    ASSERT_EQ(b->GetData(&bytesB), S_OK);
    ASSERT_EQ(sizeA, sizeB);
    EXPECT_EQ(Md5Hex(bytesA, sizeA), Md5Hex(bytesB, sizeB));
}
