// Every slot that the component calls, reached through the raw vtable at its fixed index; each
// call is checked by its effect as seen through the ordinary interface.
#include <filesystem>

#include "tests/mediakit/MediaKitTestSupport.h"
#include "tests/support/TempDir.h"

namespace {

constexpr LONG kLast = -1;
constexpr VARIANT_BOOL kTrue = VARIANT_TRUE;

ComPtr<IAudioFormat> PcmFormat(WORD channels, DWORD rate, WORD bits) {
    auto format = Create<IAudioFormat>(CLSID_AudioFormat);
    const WAVEFORMATEX wave{WAVE_FORMAT_PCM,
                            channels,
                            rate,
                            rate * channels * bits / 8u,
                            static_cast<WORD>(channels * bits / 8u),
                            bits,
                            0};
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

    EXPECT_EQ(CallSlot(p, 50, number.Get(), kLast, LONG{7}), S_OK);  // SetLong
    LONG longValue = 0;
    EXPECT_EQ(p->GetLong(number.Get(), kLast, &longValue), S_OK);
    EXPECT_EQ(longValue, 7);
    longValue = 0;
    EXPECT_EQ(CallSlot(p, 49, number.Get(), kLast, &longValue), S_OK);  // GetLong
    EXPECT_EQ(longValue, 7);
    EXPECT_EQ(CallSlot(p, 48, missing.Get(), kLast, LONG{-5}, &longValue), S_OK);  // GetLongDef
    EXPECT_EQ(longValue, -5);
    ULONGLONG wide = 0;
    EXPECT_EQ(CallSlot(p, 58, number.Get(), kLast, &wide), S_OK);  // GetUInt64
    EXPECT_EQ(wide, 7u);

    EXPECT_EQ(CallSlot(p, 62, real.Get(), kLast, 2.5), S_OK);  // SetDouble
    double realValue = 0;
    EXPECT_EQ(p->GetDouble(real.Get(), kLast, &realValue), S_OK);
    EXPECT_EQ(realValue, 2.5);
    realValue = 0;
    EXPECT_EQ(CallSlot(p, 61, real.Get(), kLast, &realValue), S_OK);  // GetDouble
    EXPECT_EQ(realValue, 2.5);

    EXPECT_EQ(CallSlot(p, 35, flag.Get(), kLast, kTrue), S_OK);  // SetBool
    VARIANT_BOOL flagValue = 0;
    EXPECT_EQ(p->GetBool(flag.Get(), kLast, &flagValue), S_OK);
    EXPECT_EQ(flagValue, VARIANT_TRUE);
    flagValue = 0;
    EXPECT_EQ(CallSlot(p, 34, flag.Get(), kLast, &flagValue), S_OK);  // GetBool
    EXPECT_EQ(flagValue, VARIANT_TRUE);
    flagValue = 0;
    EXPECT_EQ(CallSlot(p, 33, missing.Get(), kLast, kTrue, &flagValue), S_OK);  // GetBoolDef
    EXPECT_EQ(flagValue, VARIANT_TRUE);

    ASSERT_EQ(p->SetString(text.Get(), kLast, B(L"clip.flv").Get()), S_OK);
    Bstr textValue;
    EXPECT_EQ(CallSlot(p, 64, text.Get(), kLast, textValue.Put()), S_OK);  // GetString
    EXPECT_EQ(textValue.View(), L"clip.flv");

    auto inner = Create<IMediaParams>(CLSID_MediaParams);
    EXPECT_EQ(CallSlot(p, 74, nested.Get(), kLast, LONG{1}, inner.Get()), S_OK);  // SetParams
    ComPtr<IMediaParams> innerBack;
    EXPECT_EQ(p->GetParams(nested.Get(), kLast, 1, innerBack.Put()), S_OK);
    EXPECT_EQ(innerBack.Get(), inner.Get());
    EXPECT_EQ(CallSlot(p, 73, nested.Get(), kLast, LONG{1}, innerBack.Put()), S_OK);  // GetParams
    EXPECT_EQ(innerBack.Get(), inner.Get());

    ComPtr<IStream> stream;
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, stream.Put()), S_OK);
    ASSERT_EQ(stream->Write("abc", 3, nullptr), S_OK);
    EXPECT_EQ(CallSlot(p, 77, bytes.Get(), LONG{0}, LONG{1}, stream.Get()), S_OK);  // SetStream
    ComPtr<IStream> streamBack;
    EXPECT_EQ(p->GetStream(bytes.Get(), 0, 1, streamBack.Put()), S_OK);
    EXPECT_EQ(streamBack.Get(), stream.Get());
    EXPECT_EQ(CallSlot(p, 76, bytes.Get(), LONG{0}, LONG{1}, streamBack.Put()), S_OK);  // GetStream
    EXPECT_EQ(streamBack.Get(), stream.Get());

    auto format = Create<IUnknown>(CLSID_VideoFormat);
    EXPECT_EQ(CallSlot(p, 83, object.Get(), LONG{0}, LONG{1}, format.Get()), S_OK);  // SetUnknown
    ComPtr<IUnknown> objectBack;
    EXPECT_EQ(p->GetUnknown(object.Get(), 0, 1, objectBack.Put()), S_OK);
    EXPECT_EQ(objectBack.Get(), format.Get());
    EXPECT_EQ(CallSlot(p, 81, object.Get(), LONG{0}, LONG{1}, objectBack.Put()), S_OK);
    EXPECT_EQ(objectBack.Get(), format.Get());  // GetUnknown

    ASSERT_EQ(p->SetLong(number.Get(), kLast, 8), S_OK);
    LONG count = 0;
    EXPECT_EQ(CallSlot(p, 19, number.Get(), &count), S_OK);  // GetCount
    EXPECT_EQ(count, 2);

    ComPtr<IMediaParams> copy;
    EXPECT_EQ(CallSlot(p, 14, LONG{2}, copy.Put()), S_OK);  // Duplicate
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->GetLong(number.Get(), 1, &longValue), S_OK);
    EXPECT_EQ(longValue, 8);

    auto other = Create<IMediaParams>(CLSID_MediaParams);
    ASSERT_EQ(other->SetLong(B(L"FromOther").Get(), kLast, 3), S_OK);
    EXPECT_EQ(CallSlot(p, 15, LONG{0x101}, other.Get()), S_OK);  // Merge
    EXPECT_EQ(p->GetLong(B(L"FromOther").Get(), kLast, &longValue), S_OK);
    EXPECT_EQ(longValue, 3);

    const Bstr path(dir.Wide("params.bin"));
    EXPECT_EQ(CallSlot(p, 7, path.Get()), S_OK);  // SaveToFile
    EXPECT_TRUE(std::filesystem::exists(dir.Path() / "params.bin"));
    auto loaded = Create<IMediaParams>(CLSID_MediaParams);
    EXPECT_EQ(CallSlot(loaded.Get(), 8, path.Get()), S_OK);  // LoadFromFile
    EXPECT_EQ(loaded->GetDouble(real.Get(), kLast, &realValue), S_OK);
    EXPECT_EQ(realValue, 2.5);

    EXPECT_EQ(CallSlot(p, 20), S_OK);  // Clear
    EXPECT_EQ(p->GetNameCount(&count), S_OK);
    EXPECT_EQ(count, 0);
}

TEST(Slots, MediaPacket) {
    auto packet = Create<IMediaPacket>(CLSID_VideoPacket);
    IMediaPacket* p = packet.Get();
    const BYTE payload[4] = {1, 2, 3, 4};

    EXPECT_EQ(CallSlot(p, 6, LONG{4}, LONG{0}), S_OK);  // Allocate
    LONG size = 0;
    EXPECT_EQ(p->GetSize(&size), S_OK);
    EXPECT_EQ(size, 4);
    size = 0;
    EXPECT_EQ(CallSlot(p, 14, &size), S_OK);  // GetSize
    EXPECT_EQ(size, 4);
    EXPECT_EQ(CallSlot(p, 7, LONG{0}, payload, LONG{4}), S_OK);  // CopyIn
    BYTE out[4] = {};
    EXPECT_EQ(p->CopyOut(0, out, 4), S_OK);
    EXPECT_EQ(std::memcmp(out, payload, 4), 0);

    auto format = Create<IUnknown>(CLSID_VideoFormat);
    EXPECT_EQ(CallSlot(p, 24, format.Get()), S_OK);  // SetFormat
    ComPtr<IUnknown> formatBack;
    EXPECT_EQ(p->GetFormat(formatBack.Put()), S_OK);
    EXPECT_EQ(formatBack.Get(), format.Get());
    EXPECT_EQ(CallSlot(p, 23, formatBack.Put()), S_OK);  // GetFormat
    EXPECT_EQ(formatBack.Get(), format.Get());

    EXPECT_EQ(CallSlot(p, 26, kTrue), S_OK);  // SetDiscontinuity
    VARIANT_BOOL mark = 0;
    EXPECT_EQ(p->GetDiscontinuity(&mark), S_OK);
    EXPECT_EQ(mark, VARIANT_TRUE);

    double ms = 0;
    EXPECT_EQ(CallSlot(p, 32, 12.5), S_OK);  // SetTime
    EXPECT_EQ(p->GetTime(&ms), S_OK);
    EXPECT_EQ(ms, 12.5);
    ms = 0;
    EXPECT_EQ(CallSlot(p, 31, &ms), S_OK);  // GetTime
    EXPECT_EQ(ms, 12.5);
    EXPECT_EQ(CallSlot(p, 34, 3.25), S_OK);  // SetTimestamp
    EXPECT_EQ(p->GetTimestamp(&ms), S_OK);
    EXPECT_EQ(ms, 3.25);
    EXPECT_EQ(CallSlot(p, 38, 40.0), S_OK);  // SetDuration
    EXPECT_EQ(p->GetDuration(&ms), S_OK);
    EXPECT_EQ(ms, 40.0);
    ms = 0;
    EXPECT_EQ(CallSlot(p, 37, &ms), S_OK);  // GetDuration
    EXPECT_EQ(ms, 40.0);

    ComPtr<IUnknown> copy;
    EXPECT_EQ(CallSlot(p, 5, LONG{0}, copy.Put()), S_OK);  // Duplicate
    ComPtr<IMediaPacket> copied = copy.As<IMediaPacket>();
    ASSERT_TRUE(copied);
    EXPECT_EQ(copied->GetTime(&ms), S_OK);
    EXPECT_EQ(ms, 12.5);
}

TEST(Slots, AudioPacket) {
    auto packet = Create<IAudioPacket>(CLSID_AudioPacket);
    IAudioPacket* p = packet.Get();
    auto format = PcmFormat(1, 8000, 8);
    EXPECT_EQ(CallSlot(p, 24, static_cast<IUnknown*>(format.Get())), S_OK);  // SetFormat
    EXPECT_EQ(CallSlot(p, 6, LONG{3}, LONG{-1}), S_OK);                      // Allocate
    const BYTE tail = 9;
    EXPECT_EQ(CallSlot(p, 7, LONG{2}, &tail, LONG{1}), S_OK);  // CopyIn
    BYTE out[3] = {};
    EXPECT_EQ(p->CopyOut(0, out, 3), S_OK);
    EXPECT_EQ(out[0], 0x80);  // 8-bit silence from the format set through slot 24
    EXPECT_EQ(out[1], 0x80);
    EXPECT_EQ(out[2], 9);

    EXPECT_EQ(CallSlot(p, 44, LONG{417}, 1234.0), S_OK);  // SetPayloadInfo
    LONG payloadBytes = 0;
    double tagTime = 0;
    EXPECT_EQ(p->GetPayloadInfo(&payloadBytes, &tagTime), S_OK);
    EXPECT_EQ(payloadBytes, 417);
    EXPECT_EQ(tagTime, 1234.0);
}

TEST(Slots, VideoFormat) {
    auto format = Create<IVideoFormat>(CLSID_VideoFormat);
    IVideoFormat* f = format.Get();
    // Each put slot with a distinct value, then the matching getter of the interface.
    struct LongProperty {
        int putSlot;
        LONG value;
        HRESULT (STDMETHODCALLTYPE IVideoFormat::*get)(LONG*);
    };
    const LongProperty properties[] = {
        {17, 3, &IVideoFormat::GetFlags},           {19, kVideoCodecH264, &IVideoFormat::GetCodec},
        {23, 800000, &IVideoFormat::GetBitRate},    {29, 640, &IVideoFormat::GetWidth},
        {31, 360, &IVideoFormat::GetHeight},        {35, 648, &IVideoFormat::GetDisplayWidth},
        {37, 364, &IVideoFormat::GetDisplayHeight}, {39, 2, &IVideoFormat::GetFieldOrder},
        {41, 90, &IVideoFormat::GetRotation},
    };
    for (const LongProperty& property : properties) {
        EXPECT_EQ(CallSlot(f, property.putSlot, property.value), S_OK);
        LONG value = 0;
        EXPECT_EQ((f->*property.get)(&value), S_OK);
        EXPECT_EQ(value, property.value) << "put slot " << property.putSlot;
    }
    // The get slots 28, 30, 34, 36 read what the puts above stored.
    const std::pair<int, LONG> getters[] = {{28, 640}, {30, 360}, {34, 648}, {36, 364}};
    for (const auto& [slot, expected] : getters) {
        LONG value = 0;
        EXPECT_EQ(CallSlot(f, slot, &value), S_OK);
        EXPECT_EQ(value, expected) << "get slot " << slot;
    }
    EXPECT_EQ(CallSlot(f, 33, 29.97), S_OK);  // SetFrameRate
    double rate = 0;
    EXPECT_EQ(CallSlot(f, 32, &rate), S_OK);  // GetFrameRate
    EXPECT_EQ(rate, 29.97);

    ComPtr<IUnknown> copy;
    EXPECT_EQ(CallSlot(f, 7, copy.Put()), S_OK);  // Duplicate
    ComPtr<IVideoFormat> copied = copy.As<IVideoFormat>();
    ASSERT_TRUE(copied);
    LONG width = 0;
    EXPECT_EQ(copied->GetWidth(&width), S_OK);
    EXPECT_EQ(width, 640);
}

TEST(Slots, AudioFormat) {
    auto format = Create<IAudioFormat>(CLSID_AudioFormat);
    IAudioFormat* f = format.Get();
    EXPECT_EQ(CallSlot(f, 19, kAudioCodecAac), S_OK);  // SetCodec
    LONG value = 0;
    EXPECT_EQ(f->GetCodec(&value), S_OK);
    EXPECT_EQ(value, kAudioCodecAac);
    const WAVEFORMATEX wave{WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0};
    EXPECT_EQ(CallSlot(f, 21, &wave), S_OK);   // SetWaveFormat
    EXPECT_EQ(CallSlot(f, 24, &value), S_OK);  // GetChannels
    EXPECT_EQ(value, 2);
    EXPECT_EQ(CallSlot(f, 26, &value), S_OK);  // GetSampleRate
    EXPECT_EQ(value, 44100);
    EXPECT_EQ(CallSlot(f, 29, LONG{16000}), S_OK);  // SetBytesPerSecond
    EXPECT_EQ(f->GetBytesPerSecond(&value), S_OK);
    EXPECT_EQ(value, 16000);
    ComPtr<IUnknown> copy;
    EXPECT_EQ(CallSlot(f, 7, copy.Put()), S_OK);  // Duplicate
    ComPtr<IAudioFormat> copied = copy.As<IAudioFormat>();
    ASSERT_TRUE(copied);
    EXPECT_EQ(copied->GetSampleRate(&value), S_OK);
    EXPECT_EQ(value, 44100);
}

TEST(Slots, AudioPacketQueue) {
    auto queue = Create<IAudioPacketQueue>(CLSID_AudioPacketQueue);
    IAudioPacketQueue* q = queue.Get();
    auto packet = Create<IMediaPacket>(CLSID_AudioPacket);
    auto format = PcmFormat(1, 1000, 16);  // one frame per millisecond, 2 bytes each
    ASSERT_EQ(packet->SetFormat(format.Get()), S_OK);
    ASSERT_EQ(packet->Allocate(20, 0), S_OK);
    EXPECT_EQ(CallSlot(q, 12, LONG{0}, static_cast<IUnknown*>(packet.Get())), S_OK);  // Write
    double held = 0;
    EXPECT_EQ(CallSlot(q, 7, &held), S_OK);  // GetDuration
    EXPECT_EQ(held, 10.0);
    ComPtr<IUnknown> out;
    EXPECT_EQ(CallSlot(q, 15, 4.0, out.Put()), S_OK);  // ReadDuration
    ASSERT_TRUE(out);
    EXPECT_EQ(q->GetDuration(&held), S_OK);
    EXPECT_EQ(held, 6.0);
    EXPECT_EQ(CallSlot(q, 13, LONG{0}), S_OK);  // Reset
    EXPECT_EQ(q->GetDuration(&held), S_OK);
    EXPECT_EQ(held, 0.0);
}
