// What every flvhost command shares: exit codes, user-facing failures, loading the component by
// class identifier through the registry, opening a file through IMediaSource, and reading the
// packets it hands out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

#include "frame/Interfaces.h"
#include "mediakit/MediaInterfaces.h"
#include "platform/ComPtr.h"

namespace flvhost {

// Exit codes; --help lists them for scripts.
enum ExitCode : int {
    kExitOk = 0,
    kExitFailed = 1,         // the component or an output file failed
    kExitUsage = 2,          // unknown command or option, missing or bad argument
    kExitFileMissing = 3,    // the input file does not exist or cannot be read
    kExitNotFlv = 4,         // the input file is not an FLV file
    kExitNotRegistered = 5,  // the component is not registered, or its module does not load
    kExitNoTrack = 6,        // the file has no track of the kind the command needs
    kExitInterrupted = 130,  // Ctrl-C
};

// A failure reported to the user as "flvhost: <message>" with its exit code.
class HostError : public std::runtime_error {
  public:
    HostError(int exitCode, const std::string& message)
        : std::runtime_error(message), exitCode_(exitCode) {}
    int ExitCode() const noexcept { return exitCode_; }

  private:
    int exitCode_;
};

// "0x80040303 File access error." from the calling thread's error record, or the bare code.
std::string DescribeFailure(HRESULT hr);
// Throws HostError(kExitFailed, "<what>: <DescribeFailure>") when `hr` is a failure.
void Check(HRESULT hr, const std::string& what);

// Registers mediakit's components in this process (once); the component finds the parameter
// container, packets, formats and decoders through them.
void StartHost();

// A new FlashFile5 object, created by class identifier as any host creates it: through the
// registry's CLSID\{...}\InprocServer32. Not registered, or a module that does not load, is a
// HostError(kExitNotRegistered) that says how to register.
ComPtr<IMediaSource> CreateSource();

// Colour spaces by their command-line names (yuv, bgr24, bgra), and back.
std::optional<LONG> ColourSpaceByName(const std::string& name);
const char* ColourSpaceName(LONG colourSpace);

struct OpenOptions {
    std::string file;
    // "FileHash": the key of the component's index cache. Empty: computed from the file
    // (DefaultFileHash); ignored when `useCache` is false.
    std::string hash;
    bool useCache = true;
    bool onlyVideo = false;  // "OnlyVideoOpen"
    bool onlyAudio = false;  // "OnlyAudioOpen"
    // "DecodeColorSpace" set before the open; nullopt leaves the component's default (YUV).
    std::optional<LONG> colourSpace;
};

// The cache key flvhost gives a file: "flvhost-" and the MD5 of its size, first and last 64 KiB.
// A copy of a file shares the key; a file that grew or was rewritten gets a new one.
std::string DefaultFileHash(const std::string& path);

// Throws HostError(kExitFileMissing) when `path` is not a readable regular file and
// HostError(kExitNotFlv) when it does not start with the signature "FLV".
void CheckFlvFile(const std::string& path);

// A file opened through SendCommandEx(1): the source object and the host's container (after the
// open it holds the component's "FLVSettings" and "ReadColorSpace").
struct OpenedFile {
    ComPtr<IMediaSource> source;
    ComPtr<IMediaParams> params;
    std::wstring hash;  // the "FileHash" given; empty when the cache is off
    LONG videoTracks = 0;
    LONG audioTracks = 0;
};
// Checks the file, creates a source and opens it; throws HostError.
OpenedFile OpenFlv(const OpenOptions& options);
// Opens on an existing source object (the file is not checked again).
OpenedFile OpenWith(ComPtr<IMediaSource> source, const OpenOptions& options,
                    const std::wstring& hash);

// A new, empty parameter container.
ComPtr<IMediaParams> NewParams();

// One packet handed out by ReadVideo or ReadAudio, with its times and data block.
struct Packet {
    ComPtr<IMediaPacket> packet;
    double time = 0.0;
    double duration = 0.0;
    bool discontinuity = false;
    const BYTE* data = nullptr;
    std::size_t size = 0;
};
// The next frame of video track 0; nullopt at the end of the track.
std::optional<Packet> ReadVideoPacket(IMediaSource* source);
// The next `ms` of audio track 0; nullopt at the end of the track.
std::optional<Packet> ReadAudioPacket(IMediaSource* source, double ms);

struct FrameLayout {
    LONG width = 0;
    LONG height = 0;
    LONG colourSpace = kColorSpaceYuv420;
    double frameRate = 0.0;
};
// The layout of a decoded frame, from its packet's IVideoFormat.
FrameLayout LayoutOf(const Packet& frame);
// Throws HostError(kExitFailed) when a frame is not in the colour space the host asked for.
void ExpectColourSpace(const FrameLayout& layout, LONG wanted);
// Bytes of one packed frame in `layout`; 0 when the size cannot be had.
std::size_t FrameBytes(const FrameLayout& layout);

// Durations of track 0 of a kind (0 when the file has none).
double VideoDuration(IMediaSource* source);
double AudioDuration(IMediaSource* source);

// Hex MD5 of a byte block.
std::string Md5Hex(const void* data, std::size_t size);

}  // namespace flvhost
