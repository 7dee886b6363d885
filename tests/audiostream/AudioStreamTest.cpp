// The audio stream object on hand-made PCM files, whose samples tell where they come from:
// silence before the first tag, Seek, Skip and Reset, reconfiguration, requests and indexes it
// cannot serve, errors and the index cache.

#include <fstream>
#include <limits>

#include "frame/ErrorSupport.h"
#include "platform/Com.h"
#include "platform/File.h"
#include "tests/audiostream/AudioStreamHarness.h"

namespace {

// `ms` of the ramp from track time `fromMs`.
std::string Ramp(std::uint64_t fromMs, std::uint64_t ms, int channels = 1) {
    return RampPcm(fromMs * kPcmRate / 1000, ms * kPcmRate / 1000, channels);
}

// An IAudioFormat of 16-bit PCM with `channels` and `rate`, for command 16.
ComPtr<IAudioFormat> FormatOf(LONG channels, LONG rate) {
    ComPtr<IAudioFormat> format;
    const WAVEFORMATEX wave{
        WAVE_FORMAT_PCM, WORD(channels), DWORD(rate), 0, WORD(2 * channels), 16, 0};
    EXPECT_TRUE(CreateInstance(CLSID_AudioFormat, format) == S_OK &&
                format->SetWaveFormat(&wave) == S_OK);
    return format;
}

// The next packet of a 100 ms request is the ramp from `fromMs` (after `silentMs` of silence).
void ExpectNext(IMediaStream* stream, bool marked, std::uint64_t fromMs, int channels = 1,
                std::uint64_t silentMs = 0) {
    const auto packet = ReadPacket(stream, 100.0);
    ASSERT_TRUE(packet);
    EXPECT_EQ(packet->discontinuity, marked) << "at " << fromMs;
    const std::size_t silence = silentMs * kPcmRate / 1000 * 2 * channels;
    EXPECT_TRUE(IsSilence(std::string_view(packet->data).substr(0, silence)));
    EXPECT_TRUE(packet->data.substr(silence) == Ramp(fromMs, 100 - silentMs, channels));
}

// Silence is counted, never allocated in one block: a track whose first tag comes at 69 minutes
// (730 MB of stereo silence before it) and whose last tag comes 30 days after that. Read from
// the open and after Seek(0) it starts with the same silence; near the first tag the silence
// gives way to the sound; Skip across the 30 days lands on the last tag's sound (it once built
// the whole jump as one block of silence). Resident memory grows by less than 64 MB through all
// of it.
TEST(AudioStreamSilence, SilenceIsCountedNotAllocated) {
    constexpr std::uint32_t kFirst = 69 * 60 * 1000;
    constexpr std::uint32_t kJump = 30u * 24 * 60 * 60 * 1000;
    TempDir dir;
    const auto stream = OpenAudioStream(
        dir.Write("late.flv", PcmFlvAt({kFirst, kFirst + 100, kFirst + 200, kFirst + kJump}, 2)));
    ASSERT_TRUE(stream);
    EXPECT_EQ(StreamDuration(stream.Get()), double(kFirst) + kJump + 100.0);
    const long before = PeakResidentKilobytes();
    ExpectNext(stream.Get(), false, 0, 2, 100);  // 100 ms of silence, 17640 bytes
    ASSERT_EQ(stream->Seek(0, 0.0), S_OK);
    ExpectNext(stream.Get(), true, 0, 2, 100);
    ASSERT_EQ(stream->Seek(0, kFirst - 150.0), S_OK);
    ExpectNext(stream.Get(), true, 0, 2, 100);
    ExpectNext(stream.Get(), false, 0, 2, 50);
    ExpectNext(stream.Get(), false, 50, 2);
    ASSERT_EQ(stream->Skip(0, kJump - 150.0), S_OK);
    EXPECT_EQ(StreamTime(stream.Get()), double(kFirst) + kJump);
    ExpectNext(stream.Get(), true, 300, 2);
    EXPECT_LT(PeakResidentKilobytes() - before, 64 * 1024) << "silence was allocated";
}

// A seek acts when the stream was just opened or reset, and not when it goes to where the
// stream stands; it marks the next packet, as Skip does; past the end it ends the track (at the
// end of the last tag's sound). Opening again starts at 0. Then command 16 sets the delivered
// format; one that cannot describe PCM (no channels, no rate, as a damaged stored index also
// gives) stops delivery cleanly instead of dividing by zero. Requests of no duration, a negative
// one, not a number, or less than a sample frame give no packet (nor an allocation sized by them);
// an unbounded one takes what is left.
TEST(AudioStreamSeek, SeekResetSkipReopenAndConfiguration) {
    TempDir dir;
    const auto file = dir.Write("audio.flv", PcmFlv(10, 0, 2));  // tags at 0 .. 900 ms
    const auto stream = OpenAudioStream(file);
    ASSERT_TRUE(stream);
    ASSERT_EQ(stream->Seek(0, 0.0), S_OK);
    ExpectNext(stream.Get(), true, 0, 2);
    ASSERT_EQ(stream->Seek(0, 100.0), S_OK);
    ExpectNext(stream.Get(), false, 100, 2);
    ASSERT_EQ(stream->Reset(0), S_OK);
    EXPECT_EQ(StreamTime(stream.Get()), -1.0);
    ASSERT_EQ(stream->Seek(0, 200.0), S_OK);
    ExpectNext(stream.Get(), true, 200, 2);
    ASSERT_EQ(stream->Skip(0, 250.0), S_OK);
    EXPECT_EQ(StreamTime(stream.Get()), 550.0);
    ExpectNext(stream.Get(), true, 550, 2);
    ASSERT_EQ(stream->Seek(0, 5000.0), S_OK);
    EXPECT_EQ(StreamTime(stream.Get()), 1000.0);  // the end of the last tag's sound
    EXPECT_FALSE(ReadPacket(stream.Get(), 100.0));
    ASSERT_EQ(stream->SendCommandEx(1001, OpenParams(file).Get(), nullptr), S_OK);
    EXPECT_EQ(StreamTime(stream.Get()), 0.0);
    const auto first = ReadPacket(stream.Get(), 100.0);
    EXPECT_TRUE(first && first->data == Ramp(0, 100, 2));

    ASSERT_EQ(stream->SendCommandEx(16, FormatOf(1, 22050).Get(), nullptr), S_OK);
    const auto mono = ReadPacket(stream.Get(), 100.0);
    ASSERT_TRUE(mono);
    EXPECT_TRUE(mono->rate == 22050 && mono->data.size() == 4410u);
    for (double request : {0.0, -20.0, std::numeric_limits<double>::quiet_NaN(), 0.01})
        EXPECT_FALSE(ReadPacket(stream.Get(), request)) << request;
    // The rest of the track: 800 ms less what the resampler (44.1 kHz to 22.05 kHz) still holds.
    const auto rest = ReadPacket(stream.Get(), std::numeric_limits<double>::infinity());
    ASSERT_TRUE(rest);
    EXPECT_NEAR(rest->duration, 800.0, 1.0);
    for (const auto& broken : {FormatOf(0, kPcmRate), FormatOf(2, 0)}) {
        ASSERT_EQ(stream->SendCommandEx(16, broken.Get(), nullptr), S_OK);
        ASSERT_EQ(stream->Seek(0, 100.0), S_OK);
        EXPECT_FALSE(ReadPacket(stream.Get(), 100.0));
        EXPECT_EQ(stream->Skip(0, 100.0), S_OK);
    }
}

// Each failure returns its code with a record of the audio stream class and the exact message;
// a file that cannot be opened is a failure and leaves the object closed: reads then leave the
// out pointer alone.
TEST(AudioStreamErrors, FailuresCarryTheirCodeAndTheClassRecord) {
    TempDir dir;
    const auto missing = OpenParams(dir.Path() / "missing.flv");
    const std::tuple<ULONGLONG, IMediaParams*, HRESULT> cases[] = {
        {1001, nullptr, ZEV_E_INVALIDARG},
        {1001, missing.Get(), ZEV_E_FILEACCESS},
        {1006, nullptr, ZEV_E_INVALIDOPERATION},
        {100, nullptr, ZEV_E_INVALIDARG}};
    const auto stream = NewAudioStream();
    ASSERT_TRUE(stream);
    for (const auto& [command, params, expected] : cases)
        ExpectError(stream->SendCommandEx(command, params, nullptr), expected,
                    IID_IFlashAudioStream5);
    IUnknown* const sentinel = reinterpret_cast<IUnknown*>(0x1234);
    IUnknown* out = sentinel;
    EXPECT_EQ(stream->Read(0, 100.0, &out), S_OK);
    EXPECT_EQ(out, sentinel);
    EXPECT_EQ(stream->Seek(0, 100.0), S_OK);
    EXPECT_EQ(StreamDuration(stream.Get()), 0.0);
}

// The cache: a second open with the same hash does not walk the file (counted in bytes read),
// a damaged cache file is walked past and rewritten, and a hash that is not a plain file name
// leaves the cache alone: nothing is read or written outside the file itself.
TEST(AudioStreamCache, SecondOpenDamagedFileAndUnusableHashes) {
    CacheFolders folders;
    const std::string bytes = PcmFlv(60, 0, 2);  // 1 MB, four times the read window
    const auto file = folders.temp.Write("audio.flv", bytes);
    auto openAndCount = [&](const wchar_t* hash) {
        const std::uint64_t before = File::TotalBytesRead();
        const auto stream = OpenAudioStream(file, hash);
        const std::uint64_t read = File::TotalBytesRead() - before;
        const auto packet = ReadPacket(stream.Get(), 1000.0);
        EXPECT_TRUE(packet && packet->data == Ramp(0, 1000, 2));
        return read;
    };
    EXPECT_GE(openAndCount(L"0123abcd"), bytes.size());
    EXPECT_LT(openAndCount(L"0123abcd"), bytes.size() / 2);
    const std::filesystem::path cache = folders.CacheFile("a", "0123abcd");
    std::ofstream(cache, std::ios::binary | std::ios::trunc) << "damaged";
    EXPECT_GE(openAndCount(L"0123abcd"), bytes.size());
    EXPECT_LT(openAndCount(L"0123abcd"), bytes.size() / 2);
    std::filesystem::remove(cache);
    for (const wchar_t* hash : {L"../0123abcd", L"a/b", L"..", L"tab\there"}) {
        EXPECT_GE(openAndCount(hash), bytes.size());
        EXPECT_GE(openAndCount(hash), bytes.size()) << "a cache was used";
    }
    EXPECT_EQ(folders.NewFiles(), std::vector<std::filesystem::path>{});
}

}  // namespace
