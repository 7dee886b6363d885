// flvhost thumb: the frame shown at a time, through SeekVideo and ReadVideo, as a PNG file.
#include <cstdio>
#include <vector>

#include "tools/flvhost/Arguments.h"
#include "tools/flvhost/Commands.h"
#include "tools/flvhost/Output.h"
#include "tools/flvhost/System.h"

namespace flvhost {
namespace {
constexpr char kHelp[] =
    "usage: flvhost thumb FILE --at MS -o OUT.png [--hash H] [--no-cache]\n"
    "\n"
    "Seeks the video track to MS milliseconds (IMediaSource::SeekVideo), reads the frame shown\n"
    "then (ReadVideo) in BGR24 (\"DecodeColorSpace\" 1) and writes it as an 8-bit RGB PNG file.\n"
    "The pixels are those of ffmpeg's rgb24 conversion of the same frame.\n"
    "\n"
    "  --at MS      the time, from 0 to the end of the video\n"
    "  -o OUT       the PNG file (- writes it to standard output)\n";

constexpr std::size_t kBgrBytes = 3;
}  // namespace

int RunThumb(const CommandArguments& arguments) {
    const Arguments parsed(
        arguments, {kHashOption, kNoCacheOption, {"--at", true}, {"-o", true}, {"--output", true}});
    if (ShowHelp(parsed, kHelp)) return kExitOk;
    parsed.ExpectPositional(1, "flvhost thumb FILE --at MS -o OUT.png");
    const std::optional<std::string> target =
        parsed.Value("-o") ? parsed.Value("-o") : parsed.Value("--output");
    if (!target || target->empty()) throw HostError(kExitUsage, "thumb needs -o OUT.png");
    if (!parsed.Has("--at")) throw HostError(kExitUsage, "thumb needs --at MS");
    const double at = NumberOption(parsed, "--at", 0.0, 0.0, 1e12);
    OpenOptions options = OpenOptionsFrom(parsed);
    options.onlyVideo = true;
    options.colourSpace = kColorSpaceBgr24;

    const OpenedFile opened = OpenFlv(options);
    if (opened.videoTracks == 0) throw HostError(kExitNoTrack, options.file + ": no video track");
    IMediaSource* source = opened.source.Get();
    const double duration = VideoDuration(source);
    if (at >= duration) {
        throw HostError(kExitUsage, "--at " + FormatNumber(at) + " is past the end of the video (" +
                                        FormatNumber(duration) + " ms)");
    }
    Check(source->SeekVideo(0, 0, at), "SeekVideo");
    const std::optional<Packet> frame = ReadVideoPacket(source);
    if (!frame) throw HostError(kExitFailed, "no frame at " + FormatNumber(at) + " ms");
    const FrameLayout layout = LayoutOf(*frame);
    ExpectColourSpace(layout, kColorSpaceBgr24);
    if (frame->size != FrameBytes(layout)) {
        throw HostError(kExitFailed, "the frame holds " + std::to_string(frame->size) +
                                         " bytes, not those of " + std::to_string(layout.width) +
                                         "x" + std::to_string(layout.height) + " BGR24");
    }

    // BGR24 rows to RGB rows.
    const auto width = static_cast<std::size_t>(layout.width);
    const auto height = static_cast<std::size_t>(layout.height);
    std::vector<std::uint8_t> rgb(frame->data, frame->data + frame->size);
    for (std::size_t pixel = 0; pixel < width * height; ++pixel) {
        std::swap(rgb[pixel * kBgrBytes], rgb[pixel * kBgrBytes + 2]);
    }
    std::vector<const std::uint8_t*> rows(height);
    for (std::size_t row = 0; row < height; ++row) rows[row] = &rgb[row * width * kBgrBytes];

    OutputFile out(*target);
    if (!WritePng(out.Get(), static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height),
                  rows.data())) {
        throw HostError(kExitFailed, *target + ": the PNG could not be written");
    }
    out.Close();
    if (!out.IsStandardOutput()) {
        std::printf("%s: %zux%zu, the frame shown at %s ms\n", target->c_str(), width, height,
                    FormatNumber(at).c_str());
    }
    return kExitOk;
}

}  // namespace flvhost
