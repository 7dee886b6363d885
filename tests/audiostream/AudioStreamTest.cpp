// The audio stream object on hand-made PCM files, whose samples tell where they come from:
// timing, silence before the first tag and at the end, seeking, skipping, reconfiguration,
// refresh, commands, errors and the index cache.
#include <sys/resource.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>

#include "flv/Manager.h"
#include "platform/Bstr.h"
#include "platform/Com.h"
#include "platform/File.h"
#include "platform/TextConvert.h"
#include "source/Cache.h"
#include "tests/audiostream/AudioStreamHarness.h"
#include "tests/support/FlvBuilder.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempDir.h"

namespace {

namespace fs = std::filesystem;

// Bytes of `ms` of PCM (whole sample frames at 10 ms steps).
constexpr std::size_t Bytes(std::uint64_t ms, int channels = 1) {
    return ms * kPcmRate / 1000 * 2 * channels;
}

// Bytes of `ms` of the ramp, mono, from track time `fromMs`.
std::string Ramp(std::uint64_t fromMs, std::uint64_t ms, int channels = 1) {
    return RampPcm(fromMs * kPcmRate / 1000, ms * kPcmRate / 1000, channels);
}

// An IAudioFormat describing `channels` and `rate`, for command 16.
ComPtr<IAudioFormat> FormatOf(LONG channels, LONG rate) {
    ComPtr<IAudioFormat> format;
    EXPECT_EQ(CreateInstance(CLSID_AudioFormat, format), S_OK);
    WAVEFORMATEX wave{};
    wave.wFormatTag = WAVE_FORMAT_PCM;
    wave.nChannels = static_cast<WORD>(channels);
    wave.nSamplesPerSec = static_cast<DWORD>(rate);
    wave.wBitsPerSample = 16;
    wave.nBlockAlign = static_cast<WORD>(2 * channels);
    if (format) {
        EXPECT_EQ(format->SetWaveFormat(&wave), S_OK);
    }
    return format;
}

long MaxResidentKilobytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

class AudioStreamFileTest : public AudioStreamTest {
  protected:
    std::wstring File(std::string_view bytes, std::string_view name = "audio.flv") {
        temp.Write(name, bytes);
        return temp.Wide(name);
    }
    TempDir temp;
};

TEST_F(AudioStreamFileTest, PacketsTileTheTrackAndCarryItsSamples) {
    const auto stream = OpenedStream(File(PcmFlv(10)));  // tags at 0 .. 900 ms
    ASSERT_TRUE(stream);
    EXPECT_EQ(Duration(stream.Get()), 900.0);
    const auto packets = ReadToEnd(stream.Get(), 30.0);
    ASSERT_EQ(packets.size(), 30u);
    EXPECT_EQ(packets[0].time, 0.0);
    EXPECT_FALSE(packets[0].discontinuity);
    EXPECT_TRUE(Joined(packets) == Ramp(0, 900));
    EXPECT_EQ(Time(stream.Get()), 900.0);

    // Opening again starts the track again, at time 0.
    ASSERT_EQ(Open(stream.Get(), temp.Wide("audio.flv")), S_OK);
    EXPECT_EQ(Time(stream.Get()), 0.0);
    const auto first = ReadPacket(stream.Get(), 100.0);
    ASSERT_TRUE(first);
    EXPECT_TRUE(first->data == Ramp(0, 100));
}

TEST_F(AudioStreamFileTest, TheLastPacketIsPaddedWithSilenceToTheTrackDuration) {
    // Two 100 ms tags, the second at 500 ms: the track lasts 500 ms, its audio 200 ms.
    FlvBuilder flv(0x04);
    const std::string tags = PcmFlv(1);
    flv.Raw(tags.substr(13));
    const std::string second = PcmFlv(2).substr(tags.size());
    flv.Raw(second.substr(0, 4) + FlvBuilder::BigEndian(500, 3) + second.substr(7));
    const auto stream = OpenedStream(File(flv.Bytes()));
    ASSERT_TRUE(stream);
    EXPECT_EQ(Duration(stream.Get()), 500.0);
    const auto packet = ReadPacket(stream.Get(), 1000.0);
    ASSERT_TRUE(packet);
    EXPECT_EQ(packet->duration, 500.0);
    EXPECT_TRUE(packet->data.substr(0, 2 * 8820) == Ramp(0, 200));
    EXPECT_TRUE(IsSilence(std::string_view(packet->data).substr(2 * 8820)));
    EXPECT_FALSE(ReadPacket(stream.Get(), 1000.0));
}

TEST_F(AudioStreamFileTest, SeekBeforeTheFirstTagGivesSilenceUpToIt) {
    const auto stream = OpenedStream(File(PcmFlv(5, 500)));  // tags at 500 .. 900 ms
    ASSERT_TRUE(stream);
    ASSERT_EQ(stream->Seek(0, 200.0), S_OK);
    EXPECT_EQ(Time(stream.Get()), 200.0);
    for (int i = 0; i < 3; ++i) {
        const auto packet = ReadPacket(stream.Get(), 100.0);
        ASSERT_TRUE(packet);
        EXPECT_EQ(packet->discontinuity, i == 0);
        EXPECT_EQ(packet->data.size(), 8820u);
        EXPECT_TRUE(IsSilence(packet->data));
    }
    const auto first = ReadPacket(stream.Get(), 100.0);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->time, 500.0);
    EXPECT_TRUE(first->data == Ramp(0, 100));

    // One larger request takes the silence and the audio behind it together.
    ASSERT_EQ(stream->Seek(0, 200.0), S_OK);
    const auto whole = ReadPacket(stream.Get(), 500.0);
    ASSERT_TRUE(whole);
    EXPECT_TRUE(IsSilence(std::string_view(whole->data).substr(0, Bytes(300))));
    EXPECT_TRUE(whole->data.substr(Bytes(300)) == Ramp(0, 200));
}

TEST_F(AudioStreamFileTest, SilenceOfAnHourLongLeadIsHandedOutAsItIsRead) {
    // Stereo tags that begin at 69 minutes: the lead is 730 MB of silence.
    constexpr std::uint32_t kFirst = 69 * 60 * 1000;
    const auto stream = OpenedStream(File(PcmFlv(3, kFirst, 2)));
    ASSERT_TRUE(stream);
    const long before = MaxResidentKilobytes();
    ASSERT_EQ(stream->Seek(0, 0.0), S_OK);
    const auto packet = ReadPacket(stream.Get(), 100.0);
    ASSERT_TRUE(packet);
    EXPECT_EQ(packet->time, 0.0);
    EXPECT_EQ(packet->data.size(), 17640u);
    EXPECT_TRUE(IsSilence(packet->data));
    EXPECT_LT(MaxResidentKilobytes() - before, 64 * 1024) << "the whole lead was allocated";

    ASSERT_EQ(stream->Seek(0, kFirst - 50.0), S_OK);
    const auto edge = ReadPacket(stream.Get(), 100.0);
    ASSERT_TRUE(edge);
    EXPECT_TRUE(IsSilence(std::string_view(edge->data).substr(0, Bytes(50, 2))));
    EXPECT_TRUE(edge->data.substr(Bytes(50, 2)) == Ramp(0, 50, 2));
}

TEST_F(AudioStreamFileTest, SeekLandsWithinTwoFramesAndDecodesFromTheTagBefore) {
    const auto stream = OpenedStream(File(PcmFlv(10)));
    ASSERT_TRUE(stream);
    for (double target : {345.6, 100.0, 899.99, 0.02, 512.3}) {
        SCOPED_TRACE(target);
        ASSERT_EQ(stream->Seek(0, target), S_OK);
        const double reached = Time(stream.Get());
        EXPECT_LE(reached, target);
        EXPECT_LT(target - reached, 2000.0 / kPcmRate);
        const auto packet = ReadPacket(stream.Get(), 10.0);
        if (target > 890.0) continue;  // less than 10 ms left
        ASSERT_TRUE(packet);
        EXPECT_TRUE(packet->discontinuity);
        const auto frame = static_cast<std::uint64_t>(std::llround(reached * kPcmRate / 1000.0));
        EXPECT_TRUE(packet->data == RampPcm(frame, packet->data.size() / 2, 1));
    }
    // Beyond the end: the end of the track.
    ASSERT_EQ(stream->Seek(0, 5000.0), S_OK);
    EXPECT_EQ(Time(stream.Get()), 900.0);
    EXPECT_FALSE(ReadPacket(stream.Get(), 100.0));
}

TEST_F(AudioStreamFileTest, SeekToTheCurrentTimeActsOnlyAfterResetOpenOrConfiguration) {
    const auto stream = OpenedStream(File(PcmFlv(10)));
    ASSERT_TRUE(stream);
    ASSERT_EQ(stream->Seek(0, 0.0), S_OK);  // just opened: acts
    auto packet = ReadPacket(stream.Get(), 100.0);
    ASSERT_TRUE(packet);
    EXPECT_TRUE(packet->discontinuity);
    ASSERT_EQ(stream->Seek(0, 100.0), S_OK);  // where it stands: nothing happens
    packet = ReadPacket(stream.Get(), 100.0);
    ASSERT_TRUE(packet);
    EXPECT_FALSE(packet->discontinuity);
    EXPECT_TRUE(packet->data == Ramp(100, 100));

    ASSERT_EQ(stream->Reset(0), S_OK);
    EXPECT_EQ(Time(stream.Get()), -1.0);
    ASSERT_EQ(stream->Seek(0, 200.0), S_OK);
    packet = ReadPacket(stream.Get(), 100.0);
    ASSERT_TRUE(packet);
    EXPECT_TRUE(packet->discontinuity);
    EXPECT_TRUE(packet->data == Ramp(200, 100));

    const auto same = FormatOf(1, kPcmRate);
    ASSERT_EQ(stream->SendCommandEx(16, same.Get(), nullptr), S_OK);
    ASSERT_EQ(stream->Seek(0, 300.0), S_OK);
    packet = ReadPacket(stream.Get(), 100.0);
    ASSERT_TRUE(packet);
    EXPECT_TRUE(packet->discontinuity);
    EXPECT_TRUE(packet->data == Ramp(300, 100));
}

TEST_F(AudioStreamFileTest, SkipMovesOnAndMarksTheNextPacket) {
    const auto stream = OpenedStream(File(PcmFlv(10)));
    ASSERT_TRUE(stream);
    ASSERT_EQ(stream->Skip(0, 250.0), S_OK);
    EXPECT_EQ(Time(stream.Get()), 250.0);
    const auto packet = ReadPacket(stream.Get(), 100.0);
    ASSERT_TRUE(packet);
    EXPECT_TRUE(packet->discontinuity);
    EXPECT_TRUE(packet->data == Ramp(250, 100));
}

TEST_F(AudioStreamFileTest, ConfigurationSetsTheDeliveredFormat) {
    const auto stream = OpenedStream(File(PcmFlv(10, 0, 2)));
    ASSERT_TRUE(stream);
    const auto mono = FormatOf(1, 22050);
    ASSERT_EQ(stream->SendCommandEx(16, mono.Get(), nullptr), S_OK);
    const auto packets = ReadToEnd(stream.Get(), 100.0);
    ASSERT_EQ(packets.size(), 9u);
    for (const auto& packet : packets) {
        EXPECT_EQ(packet.rate, 22050);
        EXPECT_EQ(packet.blockAlign, 2);
        EXPECT_EQ(packet.data.size(), 4410u);
    }
    // A format that cannot describe PCM (no channels, no rate) stops delivery, cleanly.
    for (const auto& broken : {FormatOf(0, kPcmRate), FormatOf(2, 0)}) {
        ASSERT_EQ(stream->SendCommandEx(16, broken.Get(), nullptr), S_OK);
        ASSERT_EQ(stream->Seek(0, 100.0), S_OK);
        EXPECT_EQ(Time(stream.Get()), 100.0);
        EXPECT_FALSE(ReadPacket(stream.Get(), 100.0));
        EXPECT_EQ(stream->Skip(0, 100.0), S_OK);
    }
    const auto stereo = FormatOf(2, kPcmRate);
    ASSERT_EQ(stream->SendCommandEx(16, stereo.Get(), nullptr), S_OK);
    ASSERT_EQ(stream->Seek(0, 100.0), S_OK);
    const auto packet = ReadPacket(stream.Get(), 100.0);
    ASSERT_TRUE(packet);
    EXPECT_TRUE(packet->data == Ramp(100, 100, 2));
}

// A damaged stored index whose records point into the file header: the sample format cannot be
// read (no channels, no rate), and nothing may divide by it.
TEST_F(AudioStreamFileTest, AStreamWithoutASampleFormatDeliversNothing) {
    CFLV_Manager manager;
    manager.facts.hasAudio = true;
    manager.audioIndex = {{5, 0, 2}, {5, 100, 2}, {5, 200, 2}};
    ComPtr<IMediaParams> settings;
    ASSERT_EQ(CreateInstance(CLSID_MediaParams, settings), S_OK);
    ASSERT_TRUE(SaveAudioInfo(&manager, settings.Get()));
    const auto params = OpenParams(File(PcmFlv(3)));
    ASSERT_EQ(params->SetParams(Bstr(L"FLVSettings").Get(), 0, 1, settings.Get()), S_OK);
    const auto stream = NewStream();
    ASSERT_EQ(stream->SendCommandEx(1001, params.Get(), nullptr), S_OK);
    EXPECT_EQ(Duration(stream.Get()), 200.0);
    EXPECT_FALSE(ReadPacket(stream.Get(), 100.0));
    // Nothing can be decoded up to the target: the stream stands at the record before it.
    ASSERT_EQ(stream->Seek(0, 150.0), S_OK);
    EXPECT_EQ(Time(stream.Get()), 100.0);
    EXPECT_EQ(stream->Skip(0, 20.0), S_OK);
    EXPECT_FALSE(ReadPacket(stream.Get(), 100.0));
    EXPECT_EQ(Time(stream.Get()), 100.0);
}

TEST_F(AudioStreamFileTest, RequestsThatCannotBeServedGiveNoPacket) {
    const auto stream = OpenedStream(File(PcmFlv(3)));
    ASSERT_TRUE(stream);
    for (double request : {0.0, -20.0, std::numeric_limits<double>::quiet_NaN(), 0.01}) {
        SCOPED_TRACE(request);
        EXPECT_FALSE(ReadPacket(stream.Get(), request));
    }
    // An unbounded request takes what is left of the track.
    const auto rest = ReadPacket(stream.Get(), std::numeric_limits<double>::infinity());
    ASSERT_TRUE(rest);
    EXPECT_EQ(rest->duration, 200.0);
    EXPECT_FALSE(ReadPacket(stream.Get(), 100.0));
}

TEST_F(AudioStreamFileTest, RefreshDeliversTheAudioAddedToTheFile) {
    const std::string full = PcmFlv(10);
    const std::string start = PcmFlv(5);
    const std::wstring name = File(start);
    const auto stream = OpenedStream(name);
    ASSERT_TRUE(stream);
    EXPECT_TRUE(Joined(ReadToEnd(stream.Get(), 100.0)) == Ramp(0, 400));
    {
        std::ofstream out(temp.Path() / "audio.flv", std::ios::binary | std::ios::app);
        out << full.substr(start.size());
    }
    ASSERT_EQ(stream->SendCommandEx(1006, nullptr, nullptr), S_OK);
    EXPECT_EQ(Duration(stream.Get()), 900.0);
    EXPECT_TRUE(Joined(ReadToEnd(stream.Get(), 100.0)) == Ramp(400, 500));

    // A stream given its index in "FLVSettings" takes the new one from there.
    CFLV_Manager manager;
    {
        CInputStream input;
        input.Open(name);
        ASSERT_TRUE(input.SeekTo(13));
        manager.BuildIndex(nullptr, input);
    }
    manager.audioIndex.resize(7);
    ComPtr<IMediaParams> settings;
    ASSERT_EQ(CreateInstance(CLSID_MediaParams, settings), S_OK);
    ASSERT_TRUE(SaveAudioInfo(&manager, settings.Get()));
    const auto params = OpenParams(name);
    ASSERT_EQ(params->SetParams(Bstr(L"FLVSettings").Get(), 0, 1, settings.Get()), S_OK);
    const auto indexed = NewStream();
    ASSERT_EQ(indexed->SendCommandEx(1001, params.Get(), nullptr), S_OK);
    EXPECT_EQ(Duration(indexed.Get()), 600.0);
    manager.audioIndex.clear();
    {
        CInputStream input;
        input.Open(name);
        ASSERT_TRUE(input.SeekTo(13));
        manager.BuildIndex(nullptr, input);
    }
    ASSERT_EQ(settings->Clear(), S_OK);
    ASSERT_TRUE(SaveAudioInfo(&manager, settings.Get()));
    ASSERT_EQ(indexed->SendCommandEx(1006, params.Get(), nullptr), S_OK);
    EXPECT_EQ(Duration(indexed.Get()), 900.0);
    EXPECT_TRUE(Joined(ReadToEnd(indexed.Get(), 100.0)) == Ramp(0, 900));
}

TEST_F(AudioStreamFileTest, CommandsStatusAndCapabilities) {
    const auto stream = NewStream();
    ASSERT_TRUE(stream);
    LONG type = 0;
    EXPECT_EQ(stream->get_StreamType(&type), S_OK);
    EXPECT_EQ(type, 2);
    EXPECT_EQ(Capabilities(stream.Get()), 0x1000Fu);
    ASSERT_EQ(Open(stream.Get(), File(PcmFlv(3))), S_OK);
    EXPECT_EQ(Capabilities(stream.Get()), 0x1000Du);
    // The code may come as "Operation" in the container.
    ComPtr<IMediaParams> operation;
    ASSERT_EQ(CreateInstance(CLSID_MediaParams, operation), S_OK);
    ASSERT_EQ(operation->SetUInt64(Bstr(L"Operation").Get(), -1, 1002), S_OK);
    ASSERT_EQ(stream->SendCommandEx(0, operation.Get(), nullptr), S_OK);
    EXPECT_EQ(Capabilities(stream.Get()), 0x10002u);

    IUnknown* sentinel = reinterpret_cast<IUnknown*>(0x1);
    for (ULONGLONG code : {14ull, 15ull, 100ull, 12345ull}) {
        IUnknown* out = sentinel;
        EXPECT_EQ(stream->SendCommandEx(code, operation.Get(), &out), S_OK);
        EXPECT_EQ(out, nullptr);
    }

    ComPtr<IUnknown> infoObject;
    ASSERT_EQ(stream->SendCommandEx(101, nullptr, infoObject.Put()), S_OK);
    const auto info = infoObject.As<IMediaParams>();
    ASSERT_TRUE(info);
    const auto longOf = [&](const wchar_t* name) {
        LONG value = -7;
        EXPECT_EQ(info->GetLong(Bstr(name).Get(), 0, &value), S_OK);
        return value;
    };
    const auto boolOf = [&](const wchar_t* name) {
        VARIANT_BOOL value = 7;
        EXPECT_EQ(info->GetBool(Bstr(name).Get(), 0, &value), S_OK);
        return value;
    };
    EXPECT_EQ(longOf(L"Status"), 2);
    EXPECT_EQ(longOf(L"StreamType"), 2);
    EXPECT_EQ(longOf(L"ContainerType"), 141);
    EXPECT_EQ(boolOf(L"IsSeekable"), VARIANT_TRUE);
    EXPECT_EQ(boolOf(L"ReadCompressed"), VARIANT_FALSE);
    EXPECT_EQ(boolOf(L"WriteEmulate"), VARIANT_FALSE);

    // Command 17: an independent copy of the compressed format.
    ComPtr<IUnknown> first;
    ComPtr<IUnknown> second;
    ASSERT_EQ(stream->SendCommandEx(17, nullptr, first.Put()), S_OK);
    ASSERT_EQ(stream->SendCommandEx(17, nullptr, second.Put()), S_OK);
    const auto format = first.As<IAudioFormat>();
    ASSERT_TRUE(format);
    EXPECT_NE(first.Get(), second.Get());
    LONG codec = 0;
    EXPECT_EQ(format->GetCodec(&codec), S_OK);
    EXPECT_EQ(codec, kAudioCodecPcmLittleEndian16);
    WAVEFORMATEX wave{};
    EXPECT_EQ(format->GetWaveFormat(&wave), S_OK);
    EXPECT_EQ(wave.nSamplesPerSec, 44100u);
    EXPECT_EQ(wave.nChannels, 1u);

    ASSERT_EQ(stream->SendCommandEx(1004, nullptr, nullptr), S_OK);
    EXPECT_EQ(Capabilities(stream.Get()), 0x1000Fu);
    EXPECT_EQ(Duration(stream.Get()), 0.0);
    EXPECT_EQ(Time(stream.Get()), 0.0);
}

TEST_F(AudioStreamFileTest, FailuresCarryTheRecordOfTheAudioStreamClass) {
    const auto stream = NewStream();
    ASSERT_TRUE(stream);
    EXPECT_EQ(stream->SendCommandEx(1001, nullptr, nullptr), MakeHResult(0x80040308u));
    ExpectErrorRecord(L"Invalid argument.");

    auto params = OpenParams(File(PcmFlv(2)));
    ASSERT_EQ(params->SetLong(Bstr(L"OperationMode").Get(), 0, 2), S_OK);
    EXPECT_EQ(stream->SendCommandEx(1001, params.Get(), nullptr), MakeHResult(0x80040308u));
    ExpectErrorRecord(L"Invalid argument.");
    params = OpenParams(File(PcmFlv(2)));
    ASSERT_EQ(params->Remove(Bstr(L"FileName").Get()), S_OK);
    EXPECT_EQ(stream->SendCommandEx(1001, params.Get(), nullptr), MakeHResult(0x80040308u));
    ExpectErrorRecord(L"Invalid argument.");

    // A file that cannot be opened is a failure, and leaves the object closed.
    EXPECT_EQ(Open(stream.Get(), temp.Wide("missing.flv")), MakeHResult(0x80040303u));
    ExpectErrorRecord(L"File access error.");
    EXPECT_EQ(Capabilities(stream.Get()), 0x1000Fu);

    EXPECT_EQ(stream->SendCommandEx(1006, nullptr, nullptr), MakeHResult(0x80040307u));
    ExpectErrorRecord(L"Invalid operation.");
    EXPECT_EQ(stream->SendCommandEx(100, nullptr, nullptr), MakeHResult(0x80040308u));
    ExpectErrorRecord(L"Invalid argument.");
}

TEST_F(AudioStreamFileTest, WithoutAnOpenFileNothingIsWrittenOrChanged) {
    const auto stream = NewStream();
    ASSERT_TRUE(stream);
    IUnknown* const sentinel = reinterpret_cast<IUnknown*>(0x1234);
    IUnknown* out = sentinel;
    EXPECT_EQ(stream->Read(0, 100.0, &out), S_OK);
    EXPECT_EQ(out, sentinel);
    EXPECT_EQ(stream->Seek(0, 100.0), S_OK);
    EXPECT_EQ(stream->Skip(0, 100.0), S_OK);
    EXPECT_EQ(stream->Reset(0), S_OK);
    EXPECT_EQ(Time(stream.Get()), 0.0);
    EXPECT_EQ(Duration(stream.Get()), 0.0);

    // A file that is not FLV opens without a track: reads give nothing.
    ASSERT_EQ(Open(stream.Get(), File("not an flv file", "text.flv")), S_OK);
    EXPECT_EQ(Capabilities(stream.Get()), 0x1000Du);
    out = sentinel;
    EXPECT_EQ(stream->Read(0, 100.0, &out), S_OK);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(stream->SendCommandEx(1004, nullptr, nullptr), S_OK);
    out = sentinel;
    EXPECT_EQ(stream->Read(0, 100.0, &out), S_OK);
    EXPECT_EQ(out, sentinel);
}

// The cache: the application-data and lock folders point into the test's folder.
class AudioStreamCacheTest : public AudioStreamFileTest {
  protected:
    void SetUp() override {
        AudioStreamFileTest::SetUp();
        fs::create_directories(temp.Path() / "run");
    }
    fs::path CacheFile() const {
        return temp.Path() / "data" / "Veltrano" / "FileCache" /
               "zevflashfile-5-0-1-207-a-0123abcd.cache";
    }
    // Bytes read from disk by opening `file` with `hash` on a new object, and what it reads.
    std::uint64_t OpenAndCount(const std::wstring& file, const wchar_t* hash,
                               std::string* firstSecond = nullptr) {
        const std::uint64_t before = File::TotalBytesRead();
        const auto stream = OpenedStream(file, hash);
        const std::uint64_t read = File::TotalBytesRead() - before;
        if (firstSecond != nullptr) {
            const auto packet = ReadPacket(stream.Get(), 1000.0);
            EXPECT_TRUE(packet);
            if (packet) *firstSecond = packet->data;
        }
        return read;
    }

    ScopedEnv data{"XDG_DATA_HOME", (temp.Path() / "data").string()};
    ScopedEnv run{"XDG_RUNTIME_DIR", (temp.Path() / "run").string()};
};

TEST_F(AudioStreamCacheTest, ASecondOpenWithTheSameHashReadsTheIndexFromTheCache) {
    const std::string bytes = PcmFlv(60, 0, 2);  // 1 MB, four times the read window
    const auto file = File(bytes);
    std::string scanned;
    std::string cached;
    EXPECT_GE(OpenAndCount(file, L"0123abcd", &scanned), bytes.size());
    ASSERT_TRUE(fs::exists(CacheFile()));
    EXPECT_LT(OpenAndCount(file, L"0123abcd", &cached), bytes.size() / 2);
    EXPECT_TRUE(cached == scanned);
    EXPECT_TRUE(cached == Ramp(0, 1000, 2));
}

TEST_F(AudioStreamCacheTest, ADamagedCacheFileIsRescannedAndRewritten) {
    const std::string bytes = PcmFlv(60, 0, 2);
    const auto file = File(bytes);
    (void)OpenAndCount(file, L"0123abcd");
    { std::ofstream(CacheFile(), std::ios::binary | std::ios::trunc) << "damaged"; }
    std::string first;
    EXPECT_GE(OpenAndCount(file, L"0123abcd", &first), bytes.size());
    EXPECT_TRUE(first == Ramp(0, 1000, 2));
    EXPECT_GT(fs::file_size(CacheFile()), 7u);
    EXPECT_LT(OpenAndCount(file, L"0123abcd"), bytes.size() / 2);
}

TEST_F(AudioStreamCacheTest, AHashThatIsNotAPlainFileNameDisablesTheCache) {
    const std::string bytes = PcmFlv(60, 0, 2);
    const auto file = File(bytes);
    for (const wchar_t* hash : {L"../0123abcd", L"a/b", L"..", L"tab\there"}) {
        EXPECT_GE(OpenAndCount(file, hash), bytes.size());
        EXPECT_GE(OpenAndCount(file, hash), bytes.size());  // still not cached
    }
    // Nothing was written anywhere under the test's folder but the file itself.
    for (const auto& entry : fs::recursive_directory_iterator(temp.Path())) {
        EXPECT_EQ(entry.path().extension(), entry.is_directory() ? "" : ".flv") << entry.path();
    }
}

}  // namespace
