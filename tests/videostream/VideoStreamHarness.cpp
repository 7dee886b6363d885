#include "tests/videostream/VideoStreamHarness.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>
#include <map>
#include <set>

#include "flv/Header.h"
#include "flv/Manager.h"
#include "mediakit/MediaKit.h"
#include "platform/Bstr.h"
#include "platform/Com.h"
#include "platform/ErrorInfo.h"
#include "platform/TextConvert.h"
#include "source/Cache.h"
#include "streams/VideoStream.h"
#include "tests/support/ComponentClasses.h"
#include "tests/support/FlvBuilder.h"

const Sample kH264Sample{"vs_h264_bframes_aac.flv",
                         "-f lavfi -i testsrc2=size=160x120:rate=25 -f lavfi "
                         "-i sine=frequency=440:sample_rate=44100 -t 2 -c:v libx264 -bf 2 -g 12 "
                         "-pix_fmt yuv420p -c:a aac"};
const Sample kSorensonSample{"vs_flv1.flv",
                             "-f lavfi -i testsrc2=size=160x120:rate=25 -t 2 -c:v flv1 -g 10"};
const Sample kScreenSample{"vs_flashsv.flv",
                           "-f lavfi -i testsrc2=size=96x64:rate=10 -t 2 -c:v flashsv -g 6"};
const Sample kLargeSample{"vs_flv1_large.flv",
                          "-f lavfi -i testsrc2=size=640x480:rate=25 -t 2 -c:v flv1 -q:v 1 "
                          "-g 250"};

void RegisterVideoStreamClasses() {
    static const bool registered = [] {
        EXPECT_EQ(MediaKitRegisterClasses(), S_OK);
        static ComponentClassRegistration classes;
        classes.Add<CFlashVideoStream5>(CLSID_FlashVideoStream5);
        return true;
    }();
    (void)registered;
}

ReadFrame Describe(IMediaPacket* packet) {
    ReadFrame frame;
    EXPECT_EQ(packet->GetTime(&frame.time), S_OK);
    EXPECT_EQ(packet->GetDuration(&frame.duration), S_OK);
    VARIANT_BOOL mark = VARIANT_FALSE;
    EXPECT_EQ(packet->GetDiscontinuity(&mark), S_OK);
    frame.discontinuity = mark != VARIANT_FALSE;
    EXPECT_EQ(packet->GetSize(&frame.size), S_OK);
    BYTE* data = nullptr;
    EXPECT_EQ(packet->GetData(&data), S_OK);
    if (data != nullptr && frame.size > 0) {
        frame.md5 = Md5Hex(data, static_cast<std::size_t>(frame.size));
    }
    return frame;
}

ComPtr<IMediaStream> NewVideoStream() {
    RegisterVideoStreamClasses();
    ComPtr<IMediaStream> stream;
    EXPECT_EQ(CreateInstance(CLSID_FlashVideoStream5, stream), S_OK);
    return stream;
}

ComPtr<IMediaParams> OpenParams(const std::filesystem::path& file, const wchar_t* hash) {
    RegisterVideoStreamClasses();
    ComPtr<IMediaParams> params;
    EXPECT_EQ(CreateInstance(CLSID_MediaParams, params), S_OK);
    EXPECT_EQ(params->SetLong(Bstr(L"OperationMode").Get(), 0, 1), S_OK);
    EXPECT_EQ(params->SetString(Bstr(L"FileName").Get(), 0, Bstr(Utf8ToWide(file.string())).Get()),
              S_OK);
    if (hash != nullptr) {
        EXPECT_EQ(params->SetString(Bstr(L"FileHash").Get(), 0, Bstr(hash).Get()), S_OK);
    }
    return params;
}

ComPtr<IMediaStream> OpenVideoStream(const std::filesystem::path& file, const wchar_t* hash) {
    ComPtr<IMediaStream> stream = NewVideoStream();
    if (!stream) return nullptr;
    const HRESULT hr = stream->SendCommandEx(1001, OpenParams(file, hash).Get(), nullptr);
    EXPECT_EQ(hr, S_OK) << file;
    return hr == S_OK ? stream : nullptr;
}

std::optional<ReadFrame> ReadNext(IMediaStream* stream) {
    ComPtr<IUnknown> data;
    EXPECT_EQ(stream->Read(0, 0.0, data.Put()), S_OK);
    if (!data) return std::nullopt;
    ComPtr<IMediaPacket> packet;
    EXPECT_EQ(data.As(packet), S_OK);
    if (!packet) return std::nullopt;
    return Describe(packet.Get());
}

std::vector<ReadFrame> ReadToEnd(IMediaStream* stream) {
    std::vector<ReadFrame> frames;
    // Bounded: a file of a few seconds never has this many frames, however cut.
    for (int i = 0; i < 100000; ++i) {
        auto frame = ReadNext(stream);
        if (!frame) break;
        frames.push_back(std::move(*frame));
    }
    return frames;
}

double StreamTime(IMediaStream* stream) {
    double time = -2.0;
    EXPECT_EQ(stream->get_Time(&time), S_OK);
    return time;
}

double StreamDuration(IMediaStream* stream) {
    double duration = -2.0;
    EXPECT_EQ(stream->get_Duration(&duration), S_OK);
    return duration;
}

ComPtr<IMediaParams> SettingsFor(const std::filesystem::path& file,
                                 const std::function<void(IMediaParams*)>& edit) {
    RegisterVideoStreamClasses();
    CInputStream input;
    input.Open(Utf8ToWide(file.string()));
    EXPECT_TRUE(input.IsOpen());
    EXPECT_TRUE(input.SeekTo(CFLV_Header::kFirstTagOffset));
    CFLV_Manager manager;
    manager.BuildIndex(nullptr, input);
    ComPtr<IMediaParams> settings;
    EXPECT_EQ(CreateInstance(CLSID_MediaParams, settings), S_OK);
    EXPECT_TRUE(SaveVideoInfo(&manager, settings.Get()));
    if (edit) edit(settings.Get());
    return settings;
}

std::optional<ErrorRecord> TakeErrorRecord() {
    ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, info.Put()) != S_OK || !info) return std::nullopt;
    ErrorRecord record;
    EXPECT_EQ(info->GetGUID(&record.guid), S_OK);
    Bstr description;
    EXPECT_EQ(info->GetDescription(description.Put()), S_OK);
    record.description = std::wstring(description.View());
    return record;
}

std::vector<VideoTag> VideoTagsOf(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto byteAt = [&](std::size_t i) {
        return static_cast<std::uint32_t>(static_cast<BYTE>(bytes[i]));
    };
    std::vector<VideoTag> tags;
    // Header (9) and PreviousTagSize0 (4); then tag header (11), body, PreviousTagSize (4).
    std::size_t pos = 13;
    while (pos <= bytes.size() && 11 <= bytes.size() - pos) {
        const std::uint32_t type = byteAt(pos);
        const std::uint32_t size =
            (byteAt(pos + 1) << 16) | (byteAt(pos + 2) << 8) | byteAt(pos + 3);
        const std::uint32_t time = (byteAt(pos + 7) << 24) | (byteAt(pos + 4) << 16) |
                                   (byteAt(pos + 5) << 8) | byteAt(pos + 6);
        if (size > bytes.size() - pos - 11) break;
        if (type == 9) tags.push_back({time, bytes.substr(pos + 11, size)});
        pos += 11 + size + 4;
    }
    return tags;
}

std::string RebuildFlv(const std::vector<VideoTag>& tags,
                       const std::function<std::uint32_t(std::size_t, std::uint32_t)>& retime,
                       const std::vector<std::pair<std::string, std::string>>& metadata) {
    FlvBuilder builder(0x01);
    if (!metadata.empty()) builder.Script(0, FlvBuilder::OnMetaData(metadata));
    for (std::size_t i = 0; i < tags.size(); ++i) {
        builder.Tag(9, retime(i, tags[i].time), tags[i].body);
    }
    return builder.Bytes();
}

std::vector<FrameHash> PeerFrames(const std::filesystem::path& file) {
    // ffmpeg runs once per file and test program.
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
        // ffmpeg's frame of this start time: the last one that starts at or before it.
        std::size_t match = 0;
        for (std::size_t k = 0; k < peer.size(); ++k) {
            if (static_cast<double>(peer[k].pts) <= frame.time + 0.5) match = k;
        }
        shown.insert(match);
        EXPECT_EQ(frame.md5, peer[match].md5) << "frame " << i << " at " << frame.time;
    }
    EXPECT_NEAR(end, duration, 1e-6);
    if (coverage == PeerCoverage::kAnyFrames) return;
    for (std::size_t k = 0; k < peer.size(); ++k) {
        EXPECT_GE(shown.count(k), 1u)
            << "ffmpeg's frame " << k << " at " << peer[k].pts << " was never shown";
        if (coverage == PeerCoverage::kEveryFrameOnce) {
            EXPECT_LE(shown.count(k), 1u) << "frame " << k << " shown twice";
        }
    }
}
