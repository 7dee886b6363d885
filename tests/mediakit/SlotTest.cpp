// Every slot that the component calls, reached through the raw vtable at its fixed index; each
// call is checked by its effect as seen through the ordinary interface.
#include <cstring>
#include <filesystem>
#include <vector>

#include "tests/mediakit/MediaKitTestSupport.h"
#include "tests/support/TempDir.h"

namespace {

constexpr LONG kLast = -1;
constexpr LONG kShare = 1;
constexpr VARIANT_BOOL kTrue = VARIANT_TRUE;

ComPtr<IAudioFormat> PcmFormat(WORD channels, DWORD rate, WORD bits) {
    auto format = Create<IAudioFormat>(CLSID_AudioFormat);
    const auto align = static_cast<WORD>(channels * bits / 8u);
    const WAVEFORMATEX wave{WAVE_FORMAT_PCM, channels, rate, rate * align, align, bits, 0};
    EXPECT_EQ(format->SetWaveFormat(&wave), S_OK);
    return format;
}

}  // namespace

TEST(Slots, MediaParams) {
    TempDir dir;
    auto params = Create<IMediaParams>(CLSID_MediaParams);
    IMediaParams* p = params.Get();
    const Bstr number = B(L"Number"), real = B(L"Real"), flag = B(L"Flag"), text = B(L"Text");
    const Bstr missing = B(L"Missing"), nested = B(L"Nested"), bytes = B(L"Bytes");
    const Bstr object = B(L"Object");
    using P = IMediaParams;

    EXPECT_EQ(CallSlot(p, 50, number.Get(), kLast, LONG{7}), S_OK);  // SetLong
    EXPECT_EQ(CallSlot(p, 62, real.Get(), kLast, 2.5), S_OK);        // SetDouble
    EXPECT_EQ(CallSlot(p, 35, flag.Get(), kLast, kTrue), S_OK);      // SetBool
    EXPECT_EQ(ReadValue<LONG>(p, &P::GetLong, number.Get(), kLast), 7);
    EXPECT_EQ(ReadValue<double>(p, &P::GetDouble, real.Get(), kLast), 2.5);
    EXPECT_EQ(ReadValue<VARIANT_BOOL>(p, &P::GetBool, flag.Get(), kLast), VARIANT_TRUE);

    EXPECT_EQ(ReadSlot<LONG>(p, 49, number.Get(), kLast), 7);                      // GetLong
    EXPECT_EQ(ReadSlot<LONG>(p, 48, missing.Get(), kLast, LONG{-5}), -5);          // GetLongDef
    EXPECT_EQ(ReadSlot<ULONGLONG>(p, 58, number.Get(), kLast), 7u);                // GetUInt64
    EXPECT_EQ(ReadSlot<double>(p, 61, real.Get(), kLast), 2.5);                    // GetDouble
    EXPECT_EQ(ReadSlot<VARIANT_BOOL>(p, 34, flag.Get(), kLast), VARIANT_TRUE);     // GetBool
    EXPECT_EQ(ReadSlot<VARIANT_BOOL>(p, 33, missing.Get(), kLast, kTrue), kTrue);  // GetBoolDef

    ASSERT_EQ(p->SetString(text.Get(), kLast, B(L"clip.flv").Get()), S_OK);
    Bstr textValue;
    EXPECT_EQ(CallSlot(p, 64, text.Get(), kLast, textValue.Put()), S_OK);  // GetString
    EXPECT_EQ(textValue.View(), L"clip.flv");

    // Object slots: set through the slot, read back through the interface, then the get slot.
    auto inner = Create<IMediaParams>(CLSID_MediaParams);
    EXPECT_EQ(CallSlot(p, 74, nested.Get(), kLast, kShare, inner.Get()), S_OK);  // SetParams
    ComPtr<IMediaParams> innerBack;
    EXPECT_EQ(p->GetParams(nested.Get(), kLast, kShare, innerBack.Put()), S_OK);
    EXPECT_EQ(innerBack.Get(), inner.Get());
    EXPECT_EQ(CallSlot(p, 73, nested.Get(), kLast, kShare, innerBack.Put()), S_OK);  // GetParams
    EXPECT_EQ(innerBack.Get(), inner.Get());

    ComPtr<IStream> stream, streamBack;
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, stream.Put()), S_OK);
    EXPECT_EQ(CallSlot(p, 77, bytes.Get(), LONG{0}, kShare, stream.Get()), S_OK);  // SetStream
    EXPECT_EQ(p->GetStream(bytes.Get(), 0, kShare, streamBack.Put()), S_OK);
    EXPECT_EQ(streamBack.Get(), stream.Get());
    EXPECT_EQ(CallSlot(p, 76, bytes.Get(), LONG{0}, kShare, streamBack.Put()), S_OK);  // GetStream
    EXPECT_EQ(streamBack.Get(), stream.Get());

    auto format = Create<IUnknown>(CLSID_VideoFormat);
    ComPtr<IUnknown> objectBack;
    EXPECT_EQ(CallSlot(p, 83, object.Get(), LONG{0}, kShare, format.Get()), S_OK);  // SetUnknown
    EXPECT_EQ(p->GetUnknown(object.Get(), 0, kShare, objectBack.Put()), S_OK);
    EXPECT_EQ(objectBack.Get(), format.Get());
    EXPECT_EQ(CallSlot(p, 81, object.Get(), LONG{0}, kShare, objectBack.Put()), S_OK);
    EXPECT_EQ(objectBack.Get(), format.Get());  // GetUnknown

    ASSERT_EQ(p->SetLong(number.Get(), kLast, 8), S_OK);
    EXPECT_EQ(ReadSlot<LONG>(p, 19, number.Get()), 2);  // GetCount

    ComPtr<IMediaParams> copy;
    EXPECT_EQ(CallSlot(p, 14, LONG{2}, copy.Put()), S_OK);  // Duplicate
    ASSERT_TRUE(copy);
    EXPECT_EQ(ReadValue<LONG>(copy.Get(), &P::GetLong, number.Get(), 1), 8);

    auto other = Create<IMediaParams>(CLSID_MediaParams);
    ASSERT_EQ(other->SetLong(B(L"FromOther").Get(), kLast, 3), S_OK);
    EXPECT_EQ(CallSlot(p, 15, LONG{0x101}, other.Get()), S_OK);  // Merge
    EXPECT_EQ(ReadValue<LONG>(p, &P::GetLong, B(L"FromOther").Get(), kLast), 3);

    const Bstr path(dir.Wide("params.bin"));
    EXPECT_EQ(CallSlot(p, 7, path.Get()), S_OK);  // SaveToFile
    EXPECT_TRUE(std::filesystem::exists(dir.Path() / "params.bin"));
    auto loaded = Create<IMediaParams>(CLSID_MediaParams);
    EXPECT_EQ(CallSlot(loaded.Get(), 8, path.Get()), S_OK);  // LoadFromFile
    EXPECT_EQ(ReadValue<double>(loaded.Get(), &P::GetDouble, real.Get(), kLast), 2.5);

    EXPECT_EQ(CallSlot(p, 20), S_OK);  // Clear
    EXPECT_EQ(ReadValue<LONG>(p, &P::GetNameCount), 0);
}

TEST(Slots, MediaPacket) {
    auto packet = Create<IMediaPacket>(CLSID_VideoPacket);
    IMediaPacket* p = packet.Get();
    using M = IMediaPacket;
    const BYTE payload[4] = {1, 2, 3, 4};
    auto format = Create<IUnknown>(CLSID_VideoFormat);

    EXPECT_EQ(CallSlot(p, 6, LONG{4}, LONG{0}), S_OK);           // Allocate
    EXPECT_EQ(CallSlot(p, 7, LONG{0}, payload, LONG{4}), S_OK);  // CopyIn
    EXPECT_EQ(CallSlot(p, 24, format.Get()), S_OK);              // SetFormat
    EXPECT_EQ(CallSlot(p, 26, kTrue), S_OK);                     // SetDiscontinuity
    EXPECT_EQ(CallSlot(p, 32, 12.5), S_OK);                      // SetTime
    EXPECT_EQ(CallSlot(p, 34, 3.25), S_OK);                      // SetTimestamp
    EXPECT_EQ(CallSlot(p, 38, 40.0), S_OK);                      // SetDuration
    EXPECT_EQ(ReadValue<LONG>(p, &M::GetSize), 4);
    BYTE out[4] = {};
    EXPECT_EQ(p->CopyOut(0, out, 4), S_OK);
    EXPECT_EQ(std::memcmp(out, payload, 4), 0);
    EXPECT_EQ(ReadValue<VARIANT_BOOL>(p, &M::GetDiscontinuity), VARIANT_TRUE);
    EXPECT_EQ(ReadValue<double>(p, &M::GetTime), 12.5);
    EXPECT_EQ(ReadValue<double>(p, &M::GetTimestamp), 3.25);
    EXPECT_EQ(ReadValue<double>(p, &M::GetDuration), 40.0);

    EXPECT_EQ(ReadSlot<LONG>(p, 14), 4);       // GetSize
    EXPECT_EQ(ReadSlot<double>(p, 31), 12.5);  // GetTime
    EXPECT_EQ(ReadSlot<double>(p, 37), 40.0);  // GetDuration
    ComPtr<IUnknown> formatBack, copy;
    EXPECT_EQ(CallSlot(p, 23, formatBack.Put()), S_OK);  // GetFormat
    EXPECT_EQ(formatBack.Get(), format.Get());
    EXPECT_EQ(CallSlot(p, 5, LONG{0}, copy.Put()), S_OK);  // Duplicate
    ComPtr<IMediaPacket> copied = copy.As<IMediaPacket>();
    ASSERT_TRUE(copied);
    EXPECT_EQ(ReadValue<double>(copied.Get(), &M::GetTime), 12.5);
}

TEST(Slots, AudioPacket) {
    auto packet = Create<IAudioPacket>(CLSID_AudioPacket);
    IAudioPacket* p = packet.Get();
    auto format = PcmFormat(1, 8000, 8);
    const BYTE tail = 9;
    EXPECT_EQ(CallSlot(p, 24, static_cast<IUnknown*>(format.Get())), S_OK);  // SetFormat
    EXPECT_EQ(CallSlot(p, 6, LONG{3}, LONG{-1}), S_OK);                      // Allocate
    EXPECT_EQ(CallSlot(p, 7, LONG{2}, &tail, LONG{1}), S_OK);                // CopyIn
    EXPECT_EQ(CallSlot(p, 44, LONG{417}, 1234.0), S_OK);                     // SetPayloadInfo
    BYTE out[3] = {};
    EXPECT_EQ(p->CopyOut(0, out, 3), S_OK);
    // 8-bit silence from the format set through slot 24, then the byte copied in.
    EXPECT_EQ(std::vector<BYTE>(out, out + 3), (std::vector<BYTE>{0x80, 0x80, 9}));
    LONG payloadBytes = 0;
    double tagTime = 0;
    EXPECT_EQ(p->GetPayloadInfo(&payloadBytes, &tagTime), S_OK);
    EXPECT_EQ(payloadBytes, 417);
    EXPECT_EQ(tagTime, 1234.0);
}

TEST(Slots, VideoFormat) {
    auto format = Create<IVideoFormat>(CLSID_VideoFormat);
    IVideoFormat* f = format.Get();
    using V = IVideoFormat;
    // Each put slot with a distinct value, then the matching getter of the interface.
    struct LongProperty {
        int putSlot;
        LONG value;
        HRESULT (STDMETHODCALLTYPE V::*get)(LONG*);
    };
    const LongProperty properties[] = {
        {17, 3, &V::GetFlags},           {19, kVideoCodecH264, &V::GetCodec},
        {23, 800000, &V::GetBitRate},    {29, 640, &V::GetWidth},
        {31, 360, &V::GetHeight},        {35, 648, &V::GetDisplayWidth},
        {37, 364, &V::GetDisplayHeight}, {39, 2, &V::GetFieldOrder},
        {41, 90, &V::GetRotation},
    };
    for (const LongProperty& property : properties) {
        EXPECT_EQ(CallSlot(f, property.putSlot, property.value), S_OK);
        EXPECT_EQ(ReadValue<LONG>(f, property.get), property.value) << property.putSlot;
    }
    // The get slots 28, 30, 34, 36 read what the puts above stored.
    EXPECT_EQ(ReadSlot<LONG>(f, 28), 640);
    EXPECT_EQ(ReadSlot<LONG>(f, 30), 360);
    EXPECT_EQ(ReadSlot<LONG>(f, 34), 648);
    EXPECT_EQ(ReadSlot<LONG>(f, 36), 364);
    EXPECT_EQ(CallSlot(f, 33, 29.97), S_OK);    // SetFrameRate
    EXPECT_EQ(ReadSlot<double>(f, 32), 29.97);  // GetFrameRate

    ComPtr<IUnknown> copy;
    EXPECT_EQ(CallSlot(f, 7, copy.Put()), S_OK);  // Duplicate
    ComPtr<IVideoFormat> copied = copy.As<IVideoFormat>();
    ASSERT_TRUE(copied);
    ASSERT_EQ(f->SetWidth(1), S_OK);  // the copy is independent
    EXPECT_EQ(ReadValue<LONG>(copied.Get(), &V::GetWidth), 640);
    EXPECT_EQ(ReadValue<double>(copied.Get(), &V::GetFrameRate), 29.97);
}

TEST(Slots, AudioFormat) {
    auto format = Create<IAudioFormat>(CLSID_AudioFormat);
    IAudioFormat* f = format.Get();
    using A = IAudioFormat;
    const WAVEFORMATEX wave{WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0};
    EXPECT_EQ(CallSlot(f, 19, kAudioCodecAac), S_OK);  // SetCodec
    EXPECT_EQ(CallSlot(f, 21, &wave), S_OK);           // SetWaveFormat
    EXPECT_EQ(CallSlot(f, 29, LONG{16000}), S_OK);     // SetBytesPerSecond
    EXPECT_EQ(ReadValue<LONG>(f, &A::GetCodec), kAudioCodecAac);
    EXPECT_EQ(ReadValue<LONG>(f, &A::GetBytesPerSecond), 16000);
    EXPECT_EQ(ReadSlot<LONG>(f, 24), 2);      // GetChannels
    EXPECT_EQ(ReadSlot<LONG>(f, 26), 44100);  // GetSampleRate
    ComPtr<IUnknown> copy;
    EXPECT_EQ(CallSlot(f, 7, copy.Put()), S_OK);  // Duplicate
    ComPtr<IAudioFormat> copied = copy.As<IAudioFormat>();
    ASSERT_TRUE(copied);
    ASSERT_EQ(f->SetSampleRate(8000), S_OK);  // the copy is independent
    EXPECT_EQ(ReadValue<LONG>(copied.Get(), &A::GetSampleRate), 44100);
    EXPECT_EQ(ReadValue<LONG>(copied.Get(), &A::GetCodec), kAudioCodecAac);
}

TEST(Slots, AudioPacketQueue) {
    auto queue = Create<IAudioPacketQueue>(CLSID_AudioPacketQueue);
    IAudioPacketQueue* q = queue.Get();
    auto packet = Create<IMediaPacket>(CLSID_AudioPacket);
    auto format = PcmFormat(1, 1000, 16);  // one frame per millisecond, 2 bytes each
    ASSERT_EQ(packet->SetFormat(format.Get()), S_OK);
    ASSERT_EQ(packet->Allocate(20, 0), S_OK);
    EXPECT_EQ(CallSlot(q, 12, LONG{0}, static_cast<IUnknown*>(packet.Get())), S_OK);  // Write
    EXPECT_EQ(ReadSlot<double>(q, 7), 10.0);                                          // GetDuration
    ComPtr<IUnknown> out;
    EXPECT_EQ(CallSlot(q, 15, 4.0, out.Put()), S_OK);  // ReadDuration
    ASSERT_TRUE(out);
    EXPECT_EQ(ReadValue<double>(q, &IAudioPacketQueue::GetDuration), 6.0);
    EXPECT_EQ(CallSlot(q, 13, LONG{0}), S_OK);  // Reset
    EXPECT_EQ(ReadValue<double>(q, &IAudioPacketQueue::GetDuration), 0.0);
}
