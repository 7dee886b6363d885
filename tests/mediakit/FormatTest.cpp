// The listed slots of both formats through the raw vtable, checked through the named getters
// of an independent copy made by slot 7 (Duplicate).
#include "tests/mediakit/MediaKitTestSupport.h"

TEST(Format, VideoFormatSlots) {
    using V = IVideoFormat;
    auto format = Create<IVideoFormat>(CLSID_VideoFormat);
    // Each put slot with a distinct value, read back by the named getter and by the get slot
    // before it (28, 30, 34 and 36 are listed; the others pair up the same way).
    const struct {
        int putSlot;
        LONG value;
        HRESULT (STDMETHODCALLTYPE V::*get)(LONG*);
    } properties[] = {
        {17, 3, &V::GetFlags},           {19, 28, &V::GetCodec},     {23, 800000, &V::GetBitRate},
        {29, 640, &V::GetWidth},         {31, 360, &V::GetHeight},   {35, 648, &V::GetDisplayWidth},
        {37, 364, &V::GetDisplayHeight}, {39, 2, &V::GetFieldOrder}, {41, 90, &V::GetRotation}};
    for (const auto& property : properties) {
        EXPECT_EQ(CallSlot(format.Get(), property.putSlot, property.value), S_OK);
    }
    EXPECT_EQ(CallSlot(format.Get(), 33, 29.97), S_OK);                           // SetFrameRate
    auto copy = ReadValue<ComPtr<IUnknown>>(format.Get(), 7).As<IVideoFormat>();  // Duplicate
    ASSERT_TRUE(copy);
    ASSERT_EQ(format->SetWidth(1), S_OK);  // the copy is independent
    for (const auto& property : properties) {
        EXPECT_EQ(ReadValue<LONG>(copy.Get(), property.get), property.value) << property.putSlot;
        EXPECT_EQ(ReadValue<LONG>(copy.Get(), property.putSlot - 1), property.value);
    }
    EXPECT_EQ(ReadValue<double>(copy.Get(), &V::GetFrameRate), 29.97);
}

TEST(Format, AudioFormatSlots) {
    auto f = Create<IAudioFormat>(CLSID_AudioFormat);
    const WAVEFORMATEX wave{WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0};
    EXPECT_EQ(CallSlot(f.Get(), 19, kAudioCodecAac), S_OK);                  // SetCodec
    EXPECT_EQ(CallSlot(f.Get(), 21, &wave), S_OK);                           // SetWaveFormat
    EXPECT_EQ(CallSlot(f.Get(), 29, LONG{16000}), S_OK);                     // SetBytesPerSecond
    auto copy = ReadValue<ComPtr<IUnknown>>(f.Get(), 7).As<IAudioFormat>();  // Duplicate
    ASSERT_TRUE(copy);
    ASSERT_EQ(f->SetSampleRate(8000), S_OK);            // the copy is independent
    EXPECT_EQ(ReadValue<LONG>(copy.Get(), 24), 2);      // GetChannels
    EXPECT_EQ(ReadValue<LONG>(copy.Get(), 26), 44100);  // GetSampleRate
    EXPECT_EQ(ReadValue<LONG>(copy.Get(), &IAudioFormat::GetCodec), kAudioCodecAac);
    EXPECT_EQ(ReadValue<LONG>(copy.Get(), &IAudioFormat::GetBytesPerSecond), 16000);
    // A value that does not fit the wave format's field is refused, leaving it as it was.
    EXPECT_EQ(f->SetChannels(0x10000), E_INVALIDARG);
    EXPECT_EQ(ReadValue<LONG>(f.Get(), &IAudioFormat::GetChannels), 2);
}
