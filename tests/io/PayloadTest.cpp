// ReadPayload with the framework's packets (mediakit), and with packet classes registered in
// their place that cannot be made or refuse every block.
#include <gtest/gtest.h>

#include <string>

#include "io/InputStream.h"
#include "mediakit/MediaInterfaces.h"
#include "mediakit/MediaKit.h"
#include "platform/ComObject.h"
#include "tests/support/ComponentClasses.h"
#include "tests/support/TempDir.h"

namespace {

// Answers IAudioPacket and IMediaPacket and refuses every call, as a packet out of memory would.
class CRefusingPacket final : public ComObject<CRefusingPacket>, public IAudioPacket {
  public:
    COM_DELEGATING_IUNKNOWN
    explicit CRefusingPacket(ComObjectArgs args) : ComObject(args) {}
    HRESULT InternalQueryInterface(REFIID riid, void** ppv) {
        return QueryInterfaceTable<IAudioPacket, IMediaPacket>(this, riid, ppv);
    }
    // clang-format off
#define REFUSE(method, ...) \
    HRESULT STDMETHODCALLTYPE method(__VA_ARGS__) override { return E_OUTOFMEMORY; }
    REFUSE(Reserved3) REFUSE(Reserved4) REFUSE(Duplicate, LONG, IUnknown**)
    REFUSE(Allocate, LONG, LONG) REFUSE(CopyIn, LONG, const BYTE*, LONG)
    REFUSE(CopyOut, LONG, BYTE*, LONG) REFUSE(GetData, BYTE**) REFUSE(Reserved10) REFUSE(Reserved11)
    REFUSE(Reserved12) REFUSE(Reserved13) REFUSE(GetSize, LONG*) REFUSE(SetSize, LONG)
    REFUSE(Reserved16) REFUSE(Reserved17) REFUSE(Reserved18) REFUSE(Reserved19) REFUSE(Reserved20)
    REFUSE(Reserved21) REFUSE(Reserved22) REFUSE(GetFormat, IUnknown**) REFUSE(SetFormat, IUnknown*)
    REFUSE(GetDiscontinuity, VARIANT_BOOL*) REFUSE(Reserved29)
    REFUSE(SetDiscontinuity, VARIANT_BOOL) REFUSE(GetKeyFrame, VARIANT_BOOL*) REFUSE(Reserved30)
    REFUSE(SetKeyFrame, VARIANT_BOOL) REFUSE(GetTime, double*) REFUSE(SetTime, double)
    REFUSE(GetTimestamp, double*) REFUSE(SetTimestamp, double) REFUSE(Reserved35) REFUSE(Reserved36)
    REFUSE(GetDuration, double*) REFUSE(SetDuration, double) REFUSE(Reserved39) REFUSE(Reserved40)
    REFUSE(Reserved41) REFUSE(Reserved42) REFUSE(Reserved43) REFUSE(SetPayloadInfo, LONG, double)
    REFUSE(GetPayloadInfo, LONG*, double*)
    // clang-format on
#undef REFUSE
};

// The bytes a packet holds.
std::string Content(IMediaPacket* packet) {
    LONG size = 0;
    BYTE* data = nullptr;
    EXPECT_EQ(packet->GetSize(&size), S_OK);
    EXPECT_EQ(packet->GetData(&data), S_OK);
    return std::string(reinterpret_cast<const char*>(data), static_cast<std::size_t>(size));
}

}  // namespace

TEST(Payload, PacketsCarryTheBytesAtTheCursorOrFailWithNull) {
    ASSERT_EQ(MediaKitRegisterClasses(), S_OK);
    TempDir temp;
    temp.Write("payload.bin", "\x17payload-one\xAFpayload-two");
    CInputStream stream;
    stream.Open(temp.Wide("payload.bin"));
    ASSERT_TRUE(stream.SeekTo(1));
    ComPtr<IMediaPacket> video;
    ASSERT_TRUE(stream.ReadPayload(video, 11));
    EXPECT_EQ(Content(video.Get()), "payload-one");
    ASSERT_TRUE(stream.SeekTo(13));
    ComPtr<IAudioPacket> audio;
    ASSERT_TRUE(stream.ReadPayload(audio, 11));
    EXPECT_EQ(Content(audio.Get()), "payload-two");
    // Bytes that are not there leave the out pointer and the cursor.
    ASSERT_TRUE(stream.SeekTo(20));
    EXPECT_FALSE(stream.ReadPayload(audio, 5));
    EXPECT_FALSE(stream.ReadPayload(audio, 0xFFFFFFFFu));
    EXPECT_EQ(Content(audio.Get()), "payload-two");

    // A packet that cannot be created, or refuses its bytes: null and failure, cursor kept.
    ASSERT_EQ(MediaKitRevokeClasses(), S_OK);
    ComponentClassRegistration replacements;
    replacements.AddUnmakeable(CLSID_VideoPacket);
    replacements.Add<CRefusingPacket>(CLSID_AudioPacket);
    EXPECT_FALSE(stream.ReadPayload(video, 4));
    EXPECT_EQ(video, nullptr);
    EXPECT_FALSE(stream.ReadPayload(audio, 4));
    EXPECT_EQ(audio, nullptr);
    EXPECT_EQ(stream.Tell(), 20u);
}
