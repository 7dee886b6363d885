// ReadPayload against a small packet class registered in this process under the class
// identifiers of the framework's VideoPacket and AudioPacket.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "io/InputStream.h"
#include "mediakit/MediaInterfaces.h"
#include "platform/Com.h"
#include "platform/ComObject.h"
#include "tests/support/TempDir.h"

namespace {
// When set, Allocate refuses (as a packet out of memory would).
bool g_refuseAllocate = false;

#define FAKE_NOT_IMPLEMENTED(name)              \
    HRESULT STDMETHODCALLTYPE name() override { \
        return E_NOTIMPL;                       \
    }

// Holds a data block; answers IAudioPacket and IMediaPacket. Only the slots ReadPayload and
// these tests call do anything.
class CFakePacket final : public ComObject<CFakePacket>, public IAudioPacket {
  public:
    COM_DELEGATING_IUNKNOWN
    explicit CFakePacket(ComObjectArgs args) : ComObject(args) {}
    HRESULT InternalQueryInterface(REFIID riid, void** ppv) {
        return QueryInterfaceTable<IAudioPacket, IMediaPacket>(this, riid, ppv);
    }

    HRESULT STDMETHODCALLTYPE Allocate(LONG size, LONG) override {
        if (g_refuseAllocate) return E_OUTOFMEMORY;
        if (size < 0) return E_INVALIDARG;
        block_.assign(static_cast<std::size_t>(size), 0);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE CopyIn(LONG offset, const BYTE* source, LONG count) override {
        if (offset < 0 || count < 0 || static_cast<std::size_t>(offset) + count > block_.size()) {
            return E_INVALIDARG;
        }
        std::copy(source, source + count, block_.begin() + offset);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetData(BYTE** data) override {
        *data = block_.data();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetSize(LONG* bytes) override {
        *bytes = static_cast<LONG>(block_.size());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Duplicate(LONG, IUnknown**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CopyOut(LONG, BYTE*, LONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetSize(LONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetFormat(IUnknown**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetFormat(IUnknown*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetDiscontinuity(VARIANT_BOOL*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetDiscontinuity(VARIANT_BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetKeyFrame(VARIANT_BOOL*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetKeyFrame(VARIANT_BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTime(double*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetTime(double) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTimestamp(double*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetTimestamp(double) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetDuration(double*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetDuration(double) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetPayloadInfo(LONG, double) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetPayloadInfo(LONG*, double*) override { return E_NOTIMPL; }
    FAKE_NOT_IMPLEMENTED(Reserved3)
    FAKE_NOT_IMPLEMENTED(Reserved4)
    FAKE_NOT_IMPLEMENTED(Reserved10)
    FAKE_NOT_IMPLEMENTED(Reserved11)
    FAKE_NOT_IMPLEMENTED(Reserved12)
    FAKE_NOT_IMPLEMENTED(Reserved13)
    FAKE_NOT_IMPLEMENTED(Reserved16)
    FAKE_NOT_IMPLEMENTED(Reserved17)
    FAKE_NOT_IMPLEMENTED(Reserved18)
    FAKE_NOT_IMPLEMENTED(Reserved19)
    FAKE_NOT_IMPLEMENTED(Reserved20)
    FAKE_NOT_IMPLEMENTED(Reserved21)
    FAKE_NOT_IMPLEMENTED(Reserved22)
    FAKE_NOT_IMPLEMENTED(Reserved29)
    FAKE_NOT_IMPLEMENTED(Reserved30)
    FAKE_NOT_IMPLEMENTED(Reserved35)
    FAKE_NOT_IMPLEMENTED(Reserved36)
    FAKE_NOT_IMPLEMENTED(Reserved39)
    FAKE_NOT_IMPLEMENTED(Reserved40)
    FAKE_NOT_IMPLEMENTED(Reserved41)
    FAKE_NOT_IMPLEMENTED(Reserved42)
    FAKE_NOT_IMPLEMENTED(Reserved43)

  private:
    std::vector<BYTE> block_;
};

// The bytes a packet holds.
template <class Packet>
std::string Content(const ComPtr<Packet>& packet) {
    LONG size = 0;
    BYTE* data = nullptr;
    EXPECT_EQ(packet->GetSize(&size), S_OK);
    EXPECT_EQ(packet->GetData(&data), S_OK);
    return std::string(reinterpret_cast<const char*>(data), static_cast<std::size_t>(size));
}

class PayloadTest : public ::testing::Test {
  protected:
    void SetUp() override {
        g_refuseAllocate = false;
        Register(CLSID_VideoPacket, videoCookie_);
        Register(CLSID_AudioPacket, audioCookie_);
    }
    void TearDown() override {
        RevokeAll();
        g_refuseAllocate = false;
    }
    void RevokeAll() {
        if (videoCookie_ != 0) {
            EXPECT_EQ(CoRevokeClassObject(videoCookie_), S_OK);
        }
        if (audioCookie_ != 0) {
            EXPECT_EQ(CoRevokeClassObject(audioCookie_), S_OK);
        }
        videoCookie_ = audioCookie_ = 0;
    }
    void OpenBytes(const std::string& bytes) {
        content_ = bytes;
        temp_.Write("payload.bin", bytes);
        stream_.Open(temp_.Wide("payload.bin"));
        ASSERT_TRUE(stream_.IsOpen());
    }

    CInputStream stream_;
    std::string content_;

  private:
    static void Register(const CLSID& clsid, DWORD& cookie) {
        ComPtr<IClassFactory> factory;
        factory.Attach(new ClassFactory<CFakePacket>(nullptr));
        ASSERT_EQ(CoRegisterClassObject(clsid, factory.Get(), CLSCTX_INPROC_SERVER,
                                        REGCLS_MULTIPLEUSE, &cookie),
                  S_OK);
    }

    TempDir temp_;
    DWORD videoCookie_ = 0;
    DWORD audioCookie_ = 0;
};

TEST_F(PayloadTest, VideoAndAudioPayloadsCarryTheBytesAtTheCursor) {
    OpenBytes("\x17payload-one\xAFpayload-two");
    ASSERT_TRUE(stream_.SeekTo(1));
    ComPtr<IMediaPacket> video;
    ASSERT_TRUE(stream_.ReadPayload(video, 11));
    EXPECT_EQ(Content(video), "payload-one");
    EXPECT_EQ(stream_.Tell(), 12u);

    ASSERT_TRUE(stream_.SeekTo(13));
    ComPtr<IAudioPacket> audio;
    ASSERT_TRUE(stream_.ReadPayload(audio, 11));
    EXPECT_EQ(Content(audio), "payload-two");
    EXPECT_EQ(stream_.Tell(), 24u);
}

TEST_F(PayloadTest, MissingBytesLeaveTheOutPointerAndTheCursor) {
    OpenBytes("short");
    ComPtr<IMediaPacket> earlier;
    ASSERT_TRUE(stream_.ReadPayload(earlier, 2));
    ComPtr<IMediaPacket> packet = earlier;
    EXPECT_FALSE(stream_.ReadPayload(packet, 4));
    EXPECT_EQ(packet.Get(), earlier.Get());
    EXPECT_FALSE(stream_.ReadPayload(packet, 0xFFFFFFFFu));
    EXPECT_EQ(packet.Get(), earlier.Get());
    EXPECT_EQ(stream_.Tell(), 2u);
}

TEST_F(PayloadTest, PacketThatCannotBeCreatedOrFilledGivesNullAndFailure) {
    OpenBytes("0123456789");
    ComPtr<IAudioPacket> audio;
    ASSERT_TRUE(stream_.ReadPayload(audio, 0));
    g_refuseAllocate = true;
    EXPECT_FALSE(stream_.ReadPayload(audio, 4));
    EXPECT_EQ(audio, nullptr);
    EXPECT_EQ(stream_.Tell(), 0u);
    g_refuseAllocate = false;

    RevokeAll();
    ComPtr<IMediaPacket> video;
    EXPECT_FALSE(stream_.ReadPayload(video, 4));
    EXPECT_EQ(video, nullptr);
    EXPECT_EQ(stream_.Tell(), 0u);
}

TEST_F(PayloadTest, PayloadLargerThanTheWindowIsReadInOnePiece) {
    std::string bytes(300000, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i % 251);
    OpenBytes(bytes);
    ASSERT_TRUE(stream_.SeekTo(7));
    ComPtr<IMediaPacket> video;
    ASSERT_TRUE(stream_.ReadPayload(video, 299990));
    EXPECT_EQ(stream_.WindowCapacity(), 299990u);
    EXPECT_EQ(Content(video), bytes.substr(7, 299990));
}
}  // namespace
