#include "tests/audiostream/AudioStreamHarness.h"

#include <algorithm>

#include "mediakit/MediaKit.h"
#include "platform/Bstr.h"
#include "platform/Com.h"
#include "platform/ErrorInfo.h"
#include "streams/AudioStream.h"
#include "tests/support/FlvBuilder.h"

namespace {

// The framework's classes are registered for the whole test program.
class MediaKitClasses : public ::testing::Environment {
  public:
    void SetUp() override { ASSERT_EQ(MediaKitRegisterClasses(), S_OK); }
    void TearDown() override { MediaKitRevokeClasses(); }
};
[[maybe_unused]] auto* const kRegistration =
    ::testing::AddGlobalTestEnvironment(new MediaKitClasses);

// More packets than any test file can give: a stream that never ends fails the test.
constexpr int kMaxPackets = 200000;

}  // namespace

void AudioStreamTest::SetUp() {
    classes_.Add<CFlashAudioStream5>(CLSID_FlashAudioStream5);
}

ComPtr<IMediaStream> AudioStreamTest::NewStream() {
    ComPtr<IMediaStream> stream;
    EXPECT_EQ(CreateInstance(CLSID_FlashAudioStream5, stream), S_OK);
    return stream;
}

ComPtr<IMediaParams> AudioStreamTest::OpenParams(const std::wstring& file, const wchar_t* hash) {
    ComPtr<IMediaParams> params;
    EXPECT_EQ(CreateInstance(CLSID_MediaParams, params), S_OK);
    if (!params) return params;
    EXPECT_EQ(params->SetLong(Bstr(L"OperationMode").Get(), -1, 1), S_OK);
    EXPECT_EQ(params->SetString(Bstr(L"FileName").Get(), -1, Bstr(file).Get()), S_OK);
    if (hash != nullptr) {
        EXPECT_EQ(params->SetString(Bstr(L"FileHash").Get(), -1, Bstr(hash).Get()), S_OK);
    }
    return params;
}

HRESULT AudioStreamTest::Open(IMediaStream* stream, const std::wstring& file, const wchar_t* hash) {
    const auto params = OpenParams(file, hash);
    ComPtr<IUnknown> out;
    return stream->SendCommandEx(1001, params.Get(), out.Put());
}

ComPtr<IMediaStream> AudioStreamTest::OpenedStream(const std::wstring& file, const wchar_t* hash) {
    auto stream = NewStream();
    if (stream) {
        EXPECT_EQ(Open(stream.Get(), file, hash), S_OK);
    }
    return stream;
}

std::optional<DeliveredPacket> AudioStreamTest::ReadPacket(IMediaStream* stream, double ms) {
    const double before = Time(stream);
    ComPtr<IUnknown> out;
    EXPECT_EQ(stream->Read(0, ms, out.Put()), S_OK);
    if (!out) {
        EXPECT_EQ(Time(stream), before) << "Time moved without a packet";
        return std::nullopt;
    }
    const auto packet = out.As<IMediaPacket>();
    EXPECT_TRUE(packet);
    if (!packet) return std::nullopt;
    DeliveredPacket delivered;
    LONG size = 0;
    EXPECT_EQ(packet->GetSize(&size), S_OK);
    delivered.data.resize(static_cast<std::size_t>(size));
    if (size > 0) {
        EXPECT_EQ(packet->CopyOut(0, reinterpret_cast<BYTE*>(delivered.data.data()), size), S_OK);
    }
    EXPECT_EQ(packet->GetTime(&delivered.time), S_OK);
    EXPECT_EQ(packet->GetDuration(&delivered.duration), S_OK);
    VARIANT_BOOL mark = VARIANT_FALSE;
    EXPECT_EQ(packet->GetDiscontinuity(&mark), S_OK);
    delivered.discontinuity = mark != VARIANT_FALSE;

    ComPtr<IUnknown> formatObject;
    EXPECT_EQ(packet->GetFormat(formatObject.Put()), S_OK);
    const auto format = formatObject.As<IAudioFormat>();
    EXPECT_TRUE(format);
    if (format) {
        WAVEFORMATEX wave{};
        EXPECT_EQ(format->GetWaveFormat(&wave), S_OK);
        EXPECT_EQ(wave.wFormatTag, WAVE_FORMAT_PCM);
        EXPECT_EQ(wave.wBitsPerSample, 16);
        delivered.rate = static_cast<LONG>(wave.nSamplesPerSec);
        delivered.blockAlign = wave.nBlockAlign;
    }
    // Whole sample frames, stamped by their size, never more than asked for.
    EXPECT_GT(delivered.blockAlign, 0);
    EXPECT_GT(delivered.rate, 0);
    if (delivered.blockAlign > 0 && delivered.rate > 0) {
        EXPECT_EQ(delivered.data.size() % static_cast<std::size_t>(delivered.blockAlign), 0u);
        EXPECT_EQ(delivered.duration,
                  static_cast<double>(size) * 1000.0 / delivered.blockAlign / delivered.rate);
    }
    EXPECT_LE(delivered.duration, ms + 1e-6);
    EXPECT_EQ(delivered.time, before);
    EXPECT_EQ(Time(stream), before + delivered.duration);
    return delivered;
}

std::vector<DeliveredPacket> AudioStreamTest::ReadToEnd(IMediaStream* stream, double ms) {
    std::vector<DeliveredPacket> packets;
    while (auto packet = ReadPacket(stream, ms)) {
        if (!packets.empty()) {
            const DeliveredPacket& last = packets.back();
            EXPECT_EQ(packet->time, last.time + last.duration)
                << "a gap after packet " << packets.size();
        }
        packets.push_back(std::move(*packet));
        if (packets.size() > kMaxPackets || ::testing::Test::HasFatalFailure()) {
            ADD_FAILURE() << "the stream does not end";
            break;
        }
    }
    // The end stays the end.
    ComPtr<IUnknown> more;
    EXPECT_EQ(stream->Read(0, ms, more.Put()), S_OK);
    EXPECT_FALSE(more);
    return packets;
}

std::string AudioStreamTest::Joined(const std::vector<DeliveredPacket>& packets) {
    std::string pcm;
    for (const auto& packet : packets) pcm += packet.data;
    return pcm;
}

double AudioStreamTest::Time(IMediaStream* stream) {
    double time = -99.0;
    EXPECT_EQ(stream->get_Time(&time), S_OK);
    return time;
}

double AudioStreamTest::Duration(IMediaStream* stream) {
    double duration = -99.0;
    EXPECT_EQ(stream->get_Duration(&duration), S_OK);
    return duration;
}

std::uint64_t AudioStreamTest::Capabilities(IMediaStream* stream) {
    ULONGLONG capabilities = 0;
    EXPECT_EQ(stream->get_Capabilities(0, &capabilities), S_OK);
    return capabilities;
}

void AudioStreamTest::ExpectErrorRecord(const wchar_t* message) {
    ComPtr<IErrorInfo> record;
    ASSERT_EQ(GetErrorInfo(0, record.Put()), S_OK);
    ASSERT_TRUE(record);
    GUID guid{};
    EXPECT_EQ(record->GetGUID(&guid), S_OK);
    EXPECT_TRUE(guid == IID_OF(IFlashAudioStream5));
    Bstr description;
    EXPECT_EQ(record->GetDescription(description.Put()), S_OK);
    EXPECT_EQ(description.View(), std::wstring_view(message));
}

std::int16_t RampSample(std::uint64_t frame, int channel) {
    // Never 0, so that silence and signal are told apart; channels differ in sign.
    const auto value = static_cast<std::int16_t>(frame % 30000 + 1);
    return channel == 0 ? value : static_cast<std::int16_t>(-value);
}

std::string RampPcm(std::uint64_t firstFrame, std::uint64_t frames, int channels) {
    std::string pcm;
    pcm.reserve(frames * channels * 2);
    for (std::uint64_t frame = firstFrame; frame < firstFrame + frames; ++frame) {
        for (int channel = 0; channel < channels; ++channel) {
            const auto sample = static_cast<std::uint16_t>(RampSample(frame, channel));
            pcm += static_cast<char>(sample & 0xFF);
            pcm += static_cast<char>(sample >> 8);
        }
    }
    return pcm;
}

std::string PcmFlv(int tags, std::uint32_t firstTime, int channels) {
    FlvBuilder flv(0x04);
    // SoundFormat 3 (PCM, little endian), SoundRate 3 (44 kHz), SoundSize 1 (16-bit), SoundType.
    const char header = static_cast<char>((3 << 4) | (3 << 2) | (1 << 1) | (channels == 2 ? 1 : 0));
    for (int tag = 0; tag < tags; ++tag) {
        const auto firstFrame = static_cast<std::uint64_t>(tag) * kPcmFramesPerTag;
        flv.Tag(8, firstTime + static_cast<std::uint32_t>(tag) * 100,
                std::string(1, header) + RampPcm(firstFrame, kPcmFramesPerTag, channels));
    }
    return flv.Bytes();
}

bool IsSilence(std::string_view pcm) {
    return std::all_of(pcm.begin(), pcm.end(), [](char byte) { return byte == 0; });
}
