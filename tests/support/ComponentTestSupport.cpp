#include "tests/support/ComponentTestSupport.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>
#include <map>
#include <set>

#include "frame/ErrorSupport.h"
#include "platform/Bstr.h"
#include "platform/Com.h"
#include "platform/ErrorInfo.h"
#include "platform/TextConvert.h"

ComPtr<IMediaParams> NewParams() {
    ComPtr<IMediaParams> params;
    EXPECT_EQ(CreateInstance(CLSID_MediaParams, params), S_OK);
    return params;
}

ComPtr<IMediaParams> OpenParams(const std::filesystem::path& file, const wchar_t* hash) {
    ComPtr<IMediaParams> params = NewParams();
    if (!params) return params;
    EXPECT_EQ(params->SetLong(Bstr(L"OperationMode").Get(), 0, 1), S_OK);
    EXPECT_EQ(params->SetString(Bstr(L"FileName").Get(), 0, Bstr(Utf8ToWide(file.string())).Get()),
              S_OK);
    if (hash != nullptr) {
        EXPECT_EQ(params->SetString(Bstr(L"FileHash").Get(), 0, Bstr(hash).Get()), S_OK);
    }
    return params;
}

LONG LongOf(IMediaParams* params, const wchar_t* name) {
    LONG value = 0;
    if (params != nullptr) (void)params->GetLong(Bstr(name).Get(), -1, &value);
    return value;
}

ComPtr<IMediaParams> ParamsOf(IMediaParams* params, const wchar_t* name) {
    ComPtr<IMediaParams> nested;
    (void)params->GetParams(Bstr(name).Get(), 0, 1, nested.Put());
    return nested;
}

namespace {
// The message of each code the tests expect a failure to carry.
const wchar_t* MessageOf(HRESULT code) {
    static const std::map<HRESULT, const wchar_t*> kMessages = {
        {ZEV_E_MEMORY, L"Memory error."},
        {ZEV_E_FILEACCESS, L"File access error."},
        {ZEV_E_FILEFORMAT, L"File format error."},
        {ZEV_E_VIDEOFORMAT, L"Video format unsupported."},
        {ZEV_E_AUDIOFORMAT, L"Audio format unsupported."},
        {ZEV_E_INVALIDOPERATION, L"Invalid operation."},
        {ZEV_E_INVALIDARG, L"Invalid argument."},
        {ZEV_E_STREAMCLOSED, L"The stream is closed or unavailable."},
    };
    const auto found = kMessages.find(code);
    return found != kMessages.end() ? found->second : L"(no message known for this code)";
}
}  // namespace

void ExpectError(HRESULT hr, HRESULT expected, const GUID& guid) {
    const wchar_t* message = MessageOf(expected);
    EXPECT_EQ(hr, expected);
    ComPtr<IErrorInfo> record;
    ASSERT_EQ(GetErrorInfo(0, record.Put()), S_OK) << "no error record";
    ASSERT_TRUE(record) << "no error record";
    GUID recorded{};
    EXPECT_EQ(record->GetGUID(&recorded), S_OK);
    EXPECT_TRUE(recorded == guid) << "the record names another class";
    Bstr description;
    EXPECT_EQ(record->GetDescription(description.Put()), S_OK);
    EXPECT_EQ(description.View(), std::wstring_view(message));
}

CacheFolders::CacheFolders()
    : data_("XDG_DATA_HOME", (temp.Path() / "data").string()),
      run_("XDG_RUNTIME_DIR", (temp.Path() / "run").string()) {
    std::filesystem::create_directories(temp.Path() / "run");
}

std::filesystem::path CacheFolders::CacheFile(const char* kind, const std::string& hash) const {
    return temp.Path() / "data" / "Veltrano" / "FileCache" /
           (std::string("zevflashfile-5-0-1-207-") + kind + "-" + hash + ".cache");
}

std::string FileBytes(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<FlvTag> TagsOf(const std::string& bytes) {
    auto byteAt = [&](std::size_t i) {
        return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i]));
    };
    std::vector<FlvTag> tags;
    // Tag header: type (1), DataSize (3), Timestamp (3), TimestampExtended (1), StreamID (3);
    // then the body and PreviousTagSize (4).
    std::size_t pos = 13;
    while (pos <= bytes.size() && 11 <= bytes.size() - pos) {
        const std::uint32_t size = byteAt(pos + 1) << 16 | byteAt(pos + 2) << 8 | byteAt(pos + 3);
        if (size > bytes.size() - pos - 11) break;
        const std::uint32_t time =
            byteAt(pos + 7) << 24 | byteAt(pos + 4) << 16 | byteAt(pos + 5) << 8 | byteAt(pos + 6);
        tags.push_back({pos, static_cast<int>(byteAt(pos)), time, bytes.substr(pos + 11, size)});
        pos += 11 + std::size_t{size} + 4;
    }
    return tags;
}

std::optional<ReadFrame> FrameOf(IUnknown* data) {
    ComPtr<IMediaPacket> packet;
    if (data == nullptr || FAILED(QueryTo(data, packet)) || !packet) return std::nullopt;
    ReadFrame frame;
    VARIANT_BOOL mark = VARIANT_FALSE;
    BYTE* bytes = nullptr;
    EXPECT_EQ(packet->GetTime(&frame.time), S_OK);
    EXPECT_EQ(packet->GetDuration(&frame.duration), S_OK);
    EXPECT_EQ(packet->GetDiscontinuity(&mark), S_OK);
    EXPECT_EQ(packet->GetSize(&frame.size), S_OK);
    EXPECT_EQ(packet->GetData(&bytes), S_OK);
    frame.discontinuity = mark != VARIANT_FALSE;
    if (bytes != nullptr && frame.size > 0) {
        frame.md5 = Md5Hex(bytes, static_cast<std::size_t>(frame.size));
    }
    return frame;
}

std::optional<PcmPacket> PcmPacketOf(IUnknown* data) {
    ComPtr<IMediaPacket> packet;
    if (data == nullptr || FAILED(QueryTo(data, packet)) || !packet) return std::nullopt;
    PcmPacket delivered;
    LONG size = 0;
    BYTE* bytes = nullptr;
    VARIANT_BOOL mark = VARIANT_FALSE;
    ComPtr<IUnknown> format;
    ComPtr<IAudioFormat> audio;
    WAVEFORMATEX wave{};
    EXPECT_EQ(packet->GetTime(&delivered.time), S_OK);
    EXPECT_EQ(packet->GetDuration(&delivered.duration), S_OK);
    EXPECT_EQ(packet->GetDiscontinuity(&mark), S_OK);
    EXPECT_EQ(packet->GetSize(&size), S_OK);
    EXPECT_EQ(packet->GetData(&bytes), S_OK);
    EXPECT_EQ(packet->GetFormat(format.Put()), S_OK);
    EXPECT_TRUE(format && SUCCEEDED(QueryTo(format.Get(), audio)) &&
                audio->GetWaveFormat(&wave) == S_OK)
        << "no audio format";
    EXPECT_EQ(wave.wFormatTag, WAVE_FORMAT_PCM);
    EXPECT_EQ(wave.wBitsPerSample, 16);
    delivered.discontinuity = mark != VARIANT_FALSE;
    if (bytes != nullptr && size > 0) {
        delivered.data.assign(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(size));
    }
    delivered.rate = static_cast<LONG>(wave.nSamplesPerSec);
    delivered.blockAlign = wave.nBlockAlign;
    return delivered;
}

std::vector<FrameHash> PeerFrames(const std::filesystem::path& file) {
    static std::map<std::filesystem::path, std::vector<FrameHash>> known;
    if (const auto found = known.find(file); found != known.end()) return found->second;
    std::vector<FrameHash>& frames = known[file];
    frames = VideoFrameHashes(file);
    std::vector<std::int64_t> times;
    for (const ProbePacket& packet : ProbePackets(file)) {
        if (packet.video) times.push_back(packet.ptsMs);
    }
    std::sort(times.begin(), times.end());
    EXPECT_EQ(times.size(), frames.size()) << "ffmpeg decoded a frame per packet";
    for (std::size_t i = 0; i < frames.size() && i < times.size(); ++i) frames[i].pts = times[i];
    return frames;
}

const FrameHash& PeerAt(const std::vector<FrameHash>& peer, double time) {
    std::size_t match = 0;
    for (std::size_t k = 0; k < peer.size(); ++k) {
        if (static_cast<double>(peer[k].pts) <= time + 0.5) match = k;
    }
    return peer[match];
}

void ExpectFramesLikePeer(const std::vector<ReadFrame>& frames, const std::vector<FrameHash>& peer,
                          double duration, PeerCoverage coverage, double start) {
    ASSERT_FALSE(frames.empty());
    ASSERT_FALSE(peer.empty());
    EXPECT_DOUBLE_EQ(frames.front().time, start);
    std::multiset<std::size_t> shown;
    double end = start;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const ReadFrame& frame = frames[i];
        EXPECT_NEAR(frame.time, end, 1e-6) << "frame " << i << " leaves a gap or overlaps";
        EXPECT_TRUE(std::isfinite(frame.duration) && frame.duration > 0.0)
            << "frame " << i << " lasts " << frame.duration;
        end = frame.time + frame.duration;
        const FrameHash& match = PeerAt(peer, frame.time);
        shown.insert(static_cast<std::size_t>(&match - peer.data()));
        EXPECT_EQ(frame.md5, match.md5) << "frame " << i << " at " << frame.time;
    }
    EXPECT_NEAR(end, duration, 1e-6);
    if (coverage == PeerCoverage::kAnyFrames) return;
    for (std::size_t k = 0; k < peer.size(); ++k) {
        EXPECT_GE(shown.count(k), 1u) << "ffmpeg's frame " << k << " was never shown";
        if (coverage == PeerCoverage::kEveryFrameOnce) {
            EXPECT_LE(shown.count(k), 1u) << "frame " << k << " shown twice";
        }
    }
}

void ExpectPcmLikePeer(const std::string& delivered, const std::string& expected, LONG blockAlign,
                       LONG rate, double slackMs) {
    ASSERT_FALSE(expected.empty());
    ASSERT_GT(blockAlign, 0);
    ASSERT_GT(rate, 0);
    const auto mismatch =
        std::mismatch(delivered.begin(), delivered.end(), expected.begin(), expected.end());
    const auto same = static_cast<std::size_t>(mismatch.first - delivered.begin());
    EXPECT_TRUE(std::all_of(mismatch.first, delivered.end(), [](char c) { return c == 0; }))
        << "the PCM differs from ffmpeg's at byte " << same << " of " << delivered.size();
    const std::size_t common = std::min(delivered.size(), expected.size());
    EXPECT_LT(static_cast<double>(common - same) / blockAlign * 1000.0 / rate, slackMs);
}
