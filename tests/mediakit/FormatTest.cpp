#include <cstring>

#include "tests/mediakit/MediaKitTestSupport.h"

TEST(Format, AudioRecordAndSingleValuesAreOneState) {
    using A = IAudioFormat;
    auto format = Create<IAudioFormat>(CLSID_AudioFormat);
    const WAVEFORMATEX wave{WAVE_FORMAT_PCM, 2, 22050, 88200, 4, 16, 0};
    ASSERT_EQ(format->SetWaveFormat(&wave), S_OK);
    EXPECT_EQ(ReadValue<LONG>(format.Get(), &A::GetBlockAlign), 4);
    EXPECT_EQ(ReadValue<LONG>(format.Get(), &A::GetBitsPerSample), 16);

    // The single setters change the stored record.
    ASSERT_EQ(format->SetChannels(1), S_OK);
    ASSERT_EQ(format->SetSampleRate(44100), S_OK);
    ASSERT_EQ(format->SetBlockAlign(1), S_OK);
    ASSERT_EQ(format->SetBytesPerSecond(44100), S_OK);
    ASSERT_EQ(format->SetBitsPerSample(8), S_OK);
    const WAVEFORMATEX back = ReadValue<WAVEFORMATEX>(format.Get(), &A::GetWaveFormat);
    const WAVEFORMATEX expected{WAVE_FORMAT_PCM, 1, 44100, 44100, 1, 8, 0};
    EXPECT_EQ(std::memcmp(&back, &expected, sizeof back), 0);
    // Values that do not fit the record's fields are refused, leaving it as it was.
    EXPECT_EQ(format->SetChannels(0x10000), E_INVALIDARG);
    EXPECT_EQ(format->SetSampleRate(-1), E_INVALIDARG);
    EXPECT_EQ(ReadValue<LONG>(format.Get(), &A::GetChannels), 1);
    EXPECT_EQ(ReadValue<LONG>(format.Get(), &A::GetSampleRate), 44100);
}
