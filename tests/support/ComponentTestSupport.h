// What the tests of the component's COM objects share: the host's parameter containers, the
// calling thread's error record, per-test folders for the index cache and its mutexes, samples
// made by ffmpeg, and the comparison of delivered frames and PCM with ffmpeg's decode.
#pragma once

#include <gtest/gtest.h>

#include "frame/Interfaces.h"
#include "mediakit/MediaInterfaces.h"
#include "platform/Bstr.h"
#include "platform/Com.h"
#include "tests/support/FfmpegTools.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempDir.h"

// Containers are made through the class identifier: mediakit's classes must be registered.
inline ComPtr<IMediaParams> NewParams() {
    ComPtr<IMediaParams> params;
    EXPECT_EQ(CreateInstance(CLSID_MediaParams, params), S_OK);
    return params;
}
// A host's open container: "OperationMode" 1, "FileName", and "FileHash" when given.
ComPtr<IMediaParams> OpenParams(const std::filesystem::path& file, const wchar_t* hash = nullptr);
// The first value of `name` (0 when missing, or without a container) and the first nested
// container (null when missing).
inline LONG LongOf(IMediaParams* params, const wchar_t* name) {
    LONG value = 0;
    if (params != nullptr) (void)params->GetLong(Bstr(name).Get(), -1, &value);
    return value;
}
inline ComPtr<IMediaParams> ParamsOf(IMediaParams* params, const wchar_t* name) {
    ComPtr<IMediaParams> nested;
    (void)params->GetParams(Bstr(name).Get(), 0, 1, nested.Put());
    return nested;
}

// A stream object's Time and Duration (the call must succeed).
inline double StreamTime(IMediaStream* stream) {
    double time = -99.0;
    EXPECT_EQ(stream->get_Time(&time), S_OK);
    return time;
}
inline double StreamDuration(IMediaStream* stream) {
    double duration = -99.0;
    EXPECT_EQ(stream->get_Duration(&duration), S_OK);
    return duration;
}

// `hr` is `expected`, and the calling thread holds an error record of `guid` with the exact
// message of `expected` (the messages are written out once, in the support code).
void ExpectError(HRESULT hr, HRESULT expected, const GUID& guid);

// The process's peak resident memory so far, in KiB.
long PeakResidentKilobytes();

// The index cache's folder and named mutexes for one test, and a temporary folder for its files.
// On the stand-in, the temporary folder's data/ and run/ are the application-data folder
// (XDG_DATA_HOME) and the lock folder (XDG_RUNTIME_DIR) while the object lives. On Windows the
// cache lives where the component puts it, in the user's roaming application-data folder, under
// the system's named mutexes; the cache files that appear while the object lives go with it
// (test programs that use it never run at the same time: ctest's resource lock "appdata").
class CacheFolders {
  public:
    CacheFolders();
    ~CacheFolders() { RemoveNewFiles(); }
    CacheFolders(const CacheFolders&) = delete;
    CacheFolders& operator=(const CacheFolders&) = delete;

    // The folder that holds the cache files.
    std::filesystem::path Folder() const;
    // The cache file of `kind` ("v" or "a") for `hash`.
    std::filesystem::path CacheFile(const char* kind, const std::string& hash) const {
        return Folder() / (std::string("zevflashfile-5-0-1-207-") + kind + "-" + hash + ".cache");
    }
    // The files of the cache folder that were not there when the object was made.
    std::vector<std::filesystem::path> NewFiles() const;
    void RemoveNewFiles() const;

    TempDir temp;

  private:
#ifndef _WIN32
    ScopedEnv data_{"XDG_DATA_HOME", (temp.Path() / "data").string()};
    ScopedEnv run_{"XDG_RUNTIME_DIR", (temp.Path() / "run").string()};
#endif
    std::vector<std::filesystem::path> before_;
};

// One tag of an FLV file: its offset, type, time (with the extension byte) and body.
struct FlvTag {
    std::size_t offset = 0;
    int type = 0;
    std::uint32_t time = 0;
    std::string body;
};
// The whole tags of `bytes`, in file order, from offset 13 (after the header and
// PreviousTagSize0) up to the first tag that does not fit.
std::vector<FlvTag> TagsOf(const std::string& bytes);
// Rewrites the Timestamp and TimestampExtended of the tag at `offset` of `flv`.
inline void SetTagTime(std::string& flv, std::size_t offset, std::uint32_t time) {
    for (const auto& [at, shift] : {std::pair{4, 16}, {5, 8}, {6, 0}, {7, 24}})
        flv[offset + at] = static_cast<char>(time >> shift);
}

// Recordings as live servers, cameras and old encoders leave them, made from ffmpeg files (or
// real ones) by edits at the tag level; each gives the bytes of a whole FLV file.
// Joined late: the first `dropped` coded video frames are left out (the recording starts inside
// a group of pictures); metadata, sequence headers and audio stay.
std::string JoinedLate(const std::string& flv, std::size_t dropped);
// An encoder restarted with other settings: the video tags of `first`, then those of `second`
// (its sequence header included) from 200 ms after the last tag of `first`.
std::string EncoderRestarted(const std::string& first, const std::string& second);
// VP6 (with or without alpha) whose adjustment byte is `adjustment` in every video tag.
std::string WithVp6Adjustment(std::string flv, std::uint8_t adjustment);

// A sample generated by ffmpeg (under the build tree, shared between runs).
struct Sample {
    const char* name;
    const char* arguments;
};
// The sample's path in `var`, or a test skip when ffmpeg is missing.
#define REQUIRE_SAMPLE(var, sample)                                          \
    if (!FfmpegAvailable()) GTEST_SKIP() << "ffmpeg and ffprobe are needed"; \
    const std::optional<std::filesystem::path> var##Found =                  \
        GeneratedSample((sample).name, (sample).arguments);                  \
    ASSERT_TRUE(var##Found) << "ffmpeg could not make " << (sample).name;    \
    const std::filesystem::path var = *var##Found

// One delivered video frame: its times, its discontinuity mark, and its pixels' size and MD5.
struct ReadFrame {
    double time = 0.0, duration = 0.0;
    bool discontinuity = false;
    LONG size = 0;
    std::string md5;
};
// The frame a read returned in `data`; nullopt when it returned none.
std::optional<ReadFrame> FrameOf(IUnknown* data);

// One delivered audio packet: its times, its discontinuity mark, its PCM and that PCM's format
// (checked to be 16-bit PCM).
struct PcmPacket {
    double time = 0.0, duration = 0.0;
    bool discontinuity = false;
    std::string data;
    LONG rate = 0, blockAlign = 0;
};
// The packet a read returned in `data`; nullopt when it returned none.
std::optional<PcmPacket> PcmPacketOf(IUnknown* data);

// ffmpeg's frames of the file (VideoFrameHashes, planar 4:2:0), from one run of ffmpeg per file
// and test program.
std::vector<FrameHash> PeerFrames(const std::filesystem::path& file);

// How many times each of ffmpeg's frames must be shown.
enum class PeerCoverage {
    kEveryFrameOnce,
    kEveryFrame,  // some more than once (long frames are cut)
    kAnyFrames,   // some not at all (frames the timeline passed over)
};
// Frames read to the end against ffmpeg's: the first starts at `start`, each where the one
// before ended, the last ends at `duration`, every duration is finite and positive, and each
// frame shows ffmpeg's frame of its start time.
void ExpectFramesLikePeer(const std::vector<ReadFrame>& frames, const std::vector<FrameHash>& peer,
                          double duration, PeerCoverage coverage, double start = 0.0);

// `delivered` PCM sounds like ffmpeg's `expected` (TimelinePcm): the energy of the difference
// over the part both hold is at most -40 dB of the signal's, and the lengths differ by at most
// 60 ms.
void ExpectSoundLikePeer(const std::string& delivered, const std::string& expected, LONG blockAlign,
                         LONG rate);
