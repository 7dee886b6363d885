#include "tests/mediakit/MediaKitTestSupport.h"

TEST(Format, AudioRecordAndSingleValuesAreOneState) {
    auto format = Create<IAudioFormat>(CLSID_AudioFormat);
    const WAVEFORMATEX wave{WAVE_FORMAT_PCM, 2, 22050, 88200, 4, 16, 0};
    ASSERT_EQ(format->SetWaveFormat(&wave), S_OK);
    LONG value = 0;
    EXPECT_EQ(format->GetBlockAlign(&value), S_OK);
    EXPECT_EQ(value, 4);
    EXPECT_EQ(format->GetBitsPerSample(&value), S_OK);
    EXPECT_EQ(value, 16);

    // The single setters change the stored record.
    ASSERT_EQ(format->SetChannels(1), S_OK);
    ASSERT_EQ(format->SetSampleRate(44100), S_OK);
    ASSERT_EQ(format->SetBlockAlign(2), S_OK);
    ASSERT_EQ(format->SetBytesPerSecond(88200), S_OK);
    ASSERT_EQ(format->SetBitsPerSample(16), S_OK);
    WAVEFORMATEX back{};
    ASSERT_EQ(format->GetWaveFormat(&back), S_OK);
    EXPECT_EQ(back.nChannels, 1);
    EXPECT_EQ(back.nSamplesPerSec, 44100u);
    EXPECT_EQ(back.nBlockAlign, 2);
    EXPECT_EQ(back.nAvgBytesPerSec, 88200u);
    EXPECT_EQ(back.wFormatTag, WAVE_FORMAT_PCM);
    // Values that do not fit the record's fields are refused, leaving it as it was.
    EXPECT_EQ(format->SetChannels(0x10000), E_INVALIDARG);
    EXPECT_EQ(format->SetSampleRate(-1), E_INVALIDARG);
    EXPECT_EQ(format->GetChannels(&value), S_OK);
    EXPECT_EQ(value, 1);
}

TEST(Format, DuplicatesAreIndependent) {
    auto audio = Create<IAudioFormat>(CLSID_AudioFormat);
    ASSERT_EQ(audio->SetCodec(kAudioCodecMp3), S_OK);
    ASSERT_EQ(audio->SetSampleRate(44100), S_OK);
    ComPtr<IUnknown> copy;
    ASSERT_EQ(audio->Duplicate(copy.Put()), S_OK);
    auto audioCopy = copy.As<IAudioFormat>();
    ASSERT_TRUE(audioCopy);
    ASSERT_EQ(audio->SetSampleRate(8000), S_OK);
    LONG value = 0;
    EXPECT_EQ(audioCopy->GetSampleRate(&value), S_OK);
    EXPECT_EQ(value, 44100);
    EXPECT_EQ(audioCopy->GetCodec(&value), S_OK);
    EXPECT_EQ(value, kAudioCodecMp3);

    auto video = Create<IVideoFormat>(CLSID_VideoFormat);
    ASSERT_EQ(video->SetWidth(320), S_OK);
    ASSERT_EQ(video->SetColorSpace(kColorSpaceBgr24), S_OK);
    ASSERT_EQ(video->Duplicate(copy.Put()), S_OK);
    auto videoCopy = copy.As<IVideoFormat>();
    ASSERT_TRUE(videoCopy);
    ASSERT_EQ(videoCopy->SetWidth(640), S_OK);
    EXPECT_EQ(video->GetWidth(&value), S_OK);
    EXPECT_EQ(value, 320);
    EXPECT_EQ(videoCopy->GetColorSpace(&value), S_OK);
    EXPECT_EQ(value, kColorSpaceBgr24);
}
