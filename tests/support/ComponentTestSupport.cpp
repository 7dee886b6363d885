#include "tests/support/ComponentTestSupport.h"

#ifdef _WIN32
#include <psapi.h>
#else
#include <sys/resource.h>
#endif

#include <algorithm>
#include <cmath>
#include <map>

#include "frame/ErrorSupport.h"
#include "platform/ErrorInfo.h"
#include "platform/Folders.h"
#include "tests/support/FlvBuilder.h"

namespace fs = std::filesystem;

ComPtr<IMediaParams> OpenParams(const std::filesystem::path& file, const wchar_t* hash) {
    ComPtr<IMediaParams> params = NewParams();
    const Bstr name(WidePath(file));
    EXPECT_TRUE(params && params->SetLong(Bstr(L"OperationMode").Get(), 0, 1) == S_OK &&
                params->SetString(Bstr(L"FileName").Get(), 0, name.Get()) == S_OK &&
                (!hash || params->SetString(Bstr(L"FileHash").Get(), 0, Bstr(hash).Get()) == S_OK));
    return params;
}

long PeakResidentKilobytes() {
#ifdef _WIN32
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) return 0;
    return static_cast<long>(counters.PeakWorkingSetSize / 1024);
#else
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
#endif
}

CacheFolders::CacheFolders() {
#ifndef _WIN32
    fs::create_directories(temp.Path() / "run");
#endif
    before_ = NewFiles();
}

fs::path CacheFolders::Folder() const {
#ifdef _WIN32
    wchar_t appData[MAX_PATH];
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, 0, appData))) return {};
    return fs::path(appData) / "Veltrano" / "FileCache";
#else
    return temp.Path() / "data" / "Veltrano" / "FileCache";
#endif
}

std::vector<fs::path> CacheFolders::NewFiles() const {
    std::vector<fs::path> files;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(Folder(), error)) {
        if (std::find(before_.begin(), before_.end(), entry.path()) == before_.end())
            files.push_back(entry.path());
    }
    return files;
}

void CacheFolders::RemoveNewFiles() const {
    for (const fs::path& file : NewFiles()) {
#ifdef _WIN32
        // A cache path may be longer than MAX_PATH.
        (void)DeleteFileW(LongPathForm(file.wstring()).c_str());
#else
        std::error_code ignored;
        fs::remove(file, ignored);
#endif
    }
}

void ExpectError(HRESULT hr, HRESULT expected, const GUID& guid) {
    // The message of each code the tests expect a failure to carry.
    static const std::map<HRESULT, std::wstring_view> kMessages = {
        {ZEV_E_MEMORY, L"Memory error."},
        {ZEV_E_FILEACCESS, L"File access error."},
        {ZEV_E_FILEFORMAT, L"File format error."},
        {ZEV_E_VIDEOFORMAT, L"Video format unsupported."},
        {ZEV_E_AUDIOFORMAT, L"Audio format unsupported."},
        {ZEV_E_INVALIDOPERATION, L"Invalid operation."},
        {ZEV_E_INVALIDARG, L"Invalid argument."},
        {ZEV_E_STREAMCLOSED, L"The stream is closed or unavailable."}};
    EXPECT_EQ(hr, expected);
    const auto message = kMessages.find(expected);
    ASSERT_NE(message, kMessages.end()) << "no message known for this code";
    ComPtr<IErrorInfo> record;
    ASSERT_TRUE(GetErrorInfo(0, record.Put()) == S_OK && record) << "no error record";
    GUID recorded{};
    Bstr description;
    EXPECT_TRUE(record->GetGUID(&recorded) == S_OK && recorded == guid)
        << "the record names another class";
    EXPECT_EQ(record->GetDescription(description.Put()), S_OK);
    EXPECT_EQ(description.View(), message->second);
}

std::vector<FlvTag> TagsOf(const std::string& bytes) {
    const auto at = [&](std::size_t pos, int count) {  // `count` big-endian bytes at `pos`
        std::uint32_t value = 0;
        while (count-- > 0) value = value << 8 | static_cast<std::uint8_t>(bytes[pos++]);
        return value;
    };
    // Tag header: type (1), DataSize (3), Timestamp (3), TimestampExtended (1), StreamID (3);
    // then the body and PreviousTagSize (4).
    std::vector<FlvTag> tags;
    for (std::size_t pos = 13, size = 0; pos <= bytes.size() && 11 <= bytes.size() - pos &&
                                         (size = at(pos + 1, 3)) <= bytes.size() - pos - 11;
         pos += 11 + size + 4) {
        const std::uint32_t time = at(pos + 7, 1) << 24 | at(pos + 4, 3);
        tags.push_back({pos, static_cast<int>(at(pos, 1)), time, bytes.substr(pos + 11, size)});
    }
    return tags;
}

namespace {
constexpr int kVideoTag = 9;
constexpr std::size_t kTagHeader = 11, kTrailer = 4;

std::string WholeTag(const std::string& flv, const FlvTag& tag) {
    return flv.substr(tag.offset, kTagHeader + tag.body.size() + kTrailer);
}
}  // namespace

std::string JoinedLate(const std::string& flv, std::size_t dropped) {
    std::string joined = flv.substr(0, 13);
    for (const FlvTag& tag : TagsOf(flv)) {
        // AVC: the packet type (second byte) 0 is the sequence header.
        const bool avc = tag.body.size() > 1 && (tag.body[0] & 0x0F) == 7;
        const bool frame = tag.type == kVideoTag && !(avc && tag.body[1] == 0);
        if (frame && dropped > 0) {
            --dropped;
            continue;
        }
        joined += WholeTag(flv, tag);
    }
    return joined;
}

std::string EncoderRestarted(const std::string& first, const std::string& second) {
    constexpr std::uint32_t kPause = 200;
    FlvBuilder restarted(0x01);
    std::uint32_t end = 0;
    for (const FlvTag& tag : TagsOf(first)) {
        if (tag.type != kVideoTag) continue;
        restarted.Tag(kVideoTag, tag.time, tag.body);
        end = std::max(end, tag.time);
    }
    for (const FlvTag& tag : TagsOf(second)) {
        if (tag.type == kVideoTag) restarted.Tag(kVideoTag, end + kPause + tag.time, tag.body);
    }
    return restarted.Bytes();
}

std::string WithVp6Adjustment(std::string flv, std::uint8_t adjustment) {
    for (const FlvTag& tag : TagsOf(flv)) {
        const int codec = tag.body.empty() ? 0 : tag.body[0] & 0x0F;
        if (tag.type == kVideoTag && (codec == 4 || codec == 5) && tag.body.size() > 1) {
            flv[tag.offset + kTagHeader + 1] = static_cast<char>(adjustment);
        }
    }
    return flv;
}

namespace {
// The times, mark and bytes of the packet a read returned in `data`; null when it returned none.
template <class Delivered>
ComPtr<IMediaPacket> ReadPacket(IUnknown* data, Delivered& delivered, std::string& bytes) {
    ComPtr<IMediaPacket> packet;
    if (data == nullptr || FAILED(QueryTo(data, packet)) || !packet) return nullptr;
    VARIANT_BOOL mark = VARIANT_FALSE;
    LONG size = 0;
    BYTE* raw = nullptr;
    EXPECT_TRUE(packet->GetTime(&delivered.time) == S_OK &&
                packet->GetDuration(&delivered.duration) == S_OK &&
                packet->GetDiscontinuity(&mark) == S_OK && packet->GetSize(&size) == S_OK &&
                packet->GetData(&raw) == S_OK);
    delivered.discontinuity = mark != VARIANT_FALSE;
    if (raw != nullptr && size > 0) bytes.assign(reinterpret_cast<const char*>(raw), size);
    return packet;
}
}  // namespace

std::optional<ReadFrame> FrameOf(IUnknown* data) {
    ReadFrame frame;
    std::string bytes;
    if (!ReadPacket(data, frame, bytes)) return std::nullopt;
    frame.size = static_cast<LONG>(bytes.size());
    if (!bytes.empty()) frame.md5 = Md5Hex(bytes.data(), bytes.size());
    return frame;
}

std::optional<PcmPacket> PcmPacketOf(IUnknown* data) {
    PcmPacket delivered;
    const ComPtr<IMediaPacket> packet = ReadPacket(data, delivered, delivered.data);
    if (!packet) return std::nullopt;
    ComPtr<IUnknown> format;
    ComPtr<IAudioFormat> audio;
    WAVEFORMATEX wave{};
    EXPECT_TRUE(packet->GetFormat(format.Put()) == S_OK && format &&
                SUCCEEDED(QueryTo(format.Get(), audio)) && audio->GetWaveFormat(&wave) == S_OK)
        << "no audio format";
    EXPECT_TRUE(wave.wFormatTag == WAVE_FORMAT_PCM && wave.wBitsPerSample == 16)
        << "not 16-bit PCM";
    delivered.rate = static_cast<LONG>(wave.nSamplesPerSec);
    delivered.blockAlign = wave.nBlockAlign;
    return delivered;
}

std::vector<FrameHash> PeerFrames(const std::filesystem::path& file) {
    static std::map<std::filesystem::path, std::vector<FrameHash>> known;
    const auto found = known.find(file);
    return found != known.end() ? found->second : known[file] = VideoFrameHashes(file);
}

void ExpectFramesLikePeer(const std::vector<ReadFrame>& frames, const std::vector<FrameHash>& peer,
                          double duration, PeerCoverage coverage, double start) {
    ASSERT_TRUE(!frames.empty() && !peer.empty());
    std::vector<int> shown(peer.size());
    double end = start;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const ReadFrame& frame = frames[i];
        EXPECT_NEAR(frame.time, end, 1e-6) << "frame " << i << " leaves a gap or overlaps";
        EXPECT_TRUE(std::isfinite(frame.duration) && frame.duration > 0.0)
            << "frame " << i << " lasts " << frame.duration;
        end = frame.time + frame.duration;
        const FrameHash& match = PeerAt(peer, frame.time);
        ++shown[static_cast<std::size_t>(&match - peer.data())];
        EXPECT_EQ(frame.md5, match.md5) << "frame " << i << " at " << frame.time;
    }
    EXPECT_NEAR(end, duration, 1e-6);
    for (std::size_t k = 0; coverage != PeerCoverage::kAnyFrames && k < peer.size(); ++k) {
        EXPECT_TRUE(shown[k] == 1 || (shown[k] > 1 && coverage == PeerCoverage::kEveryFrame))
            << "ffmpeg's frame " << k << " was shown " << shown[k] << " times";
    }
}

void ExpectSoundLikePeer(const std::string& delivered, const std::string& expected, LONG blockAlign,
                         LONG rate) {
    constexpr double kMaxDifferenceDb = -40.0;
    constexpr double kMaxLengthDifferenceMs = 60.0;
    ASSERT_TRUE(!expected.empty() && blockAlign > 0 && rate > 0);
    EXPECT_LE(DifferenceDb(delivered, expected, blockAlign / 2), kMaxDifferenceDb);
    const double lengthMs =
        (static_cast<double>(delivered.size()) - static_cast<double>(expected.size())) /
        blockAlign * 1000.0 / rate;
    EXPECT_LE(std::abs(lengthMs), kMaxLengthDifferenceMs)
        << delivered.size() << " bytes against ffmpeg's " << expected.size();
}
