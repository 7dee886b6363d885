// flvhost frames: every video frame decoded through ReadVideo, as MD5 lines or a Y4M video.
#include <cmath>
#include <cstdio>
#include <memory>
#include <numeric>

#include "tools/flvhost/Arguments.h"
#include "tools/flvhost/Commands.h"
#include "tools/flvhost/Output.h"

namespace flvhost {
namespace {
constexpr char kHelp[] =
    "usage: flvhost frames FILE [--colour yuv|bgr24|bgra] [--md5] [--y4m OUT]\n"
    "                           [--hash H] [--no-cache]\n"
    "\n"
    "Decodes every frame of the video track through IMediaSource::ReadVideo, in the colour space\n"
    "asked for with \"DecodeColorSpace\" (default yuv: planar 4:2:0).\n"
    "\n"
    "  --md5        print one line per frame: start_ms,duration_ms,discontinuity,md5 where md5\n"
    "               is the MD5 of the frame's pixel bytes, planes in order without padding (for\n"
    "               yuv the same as ffmpeg -f framemd5 -pix_fmt yuv420p)\n"
    "  --y4m OUT    write the frames as a YUV4MPEG2 video (yuv only; OUT - is standard output)\n"
    "  --colour C   yuv, bgr24 or bgra (--color is the same)\n"
    "Without --md5 or --y4m it prints how many frames were decoded.\n"
    "A progress bar is shown on a terminal for long videos.\n";

constexpr double kLongVideoMs = 20000.0;
constexpr double kFrameRateScale = 1000.0;

// Milliseconds as scripts like them: no trailing zeros ("40", "33.333").
std::string Milliseconds(double value) {
    std::string text = FormatNumber(value, 3);
    while (!text.empty() && text.back() == '0') text.pop_back();
    if (!text.empty() && text.back() == '.') text.pop_back();
    return text == "-0" ? "0" : text;
}

// The Y4M stream header: "YUV4MPEG2 W.. H.. F num:den Ip A1:1 C420jpeg".
std::string Y4mHeader(const FrameLayout& layout, double frameRate) {
    long long numerator = std::llround((frameRate > 0 ? frameRate : 25.0) * kFrameRateScale);
    long long denominator = static_cast<long long>(kFrameRateScale);
    const long long divisor = std::gcd(numerator, denominator);
    numerator /= divisor;
    denominator /= divisor;
    return "YUV4MPEG2 W" + std::to_string(layout.width) + " H" + std::to_string(layout.height) +
           " F" + std::to_string(numerator) + ":" + std::to_string(denominator) +
           " Ip A1:1 C420jpeg\n";
}
}  // namespace

int RunFrames(const CommandArguments& arguments) {
    const Arguments parsed(arguments, {kHashOption,
                                       kNoCacheOption,
                                       {"--colour", true},
                                       {"--color", true},
                                       {"--md5", false},
                                       {"--y4m", true}});
    if (ShowHelp(parsed, kHelp)) return kExitOk;
    parsed.ExpectPositional(1, "flvhost frames FILE [--colour yuv|bgr24|bgra] [--md5] [--y4m OUT]");
    OpenOptions options = OpenOptionsFrom(parsed);
    options.onlyVideo = true;
    const std::string colour =
        parsed.Value("--colour").value_or(parsed.Value("--color").value_or("yuv"));
    options.colourSpace = ColourSpaceByName(colour);
    if (!options.colourSpace) {
        throw HostError(kExitUsage, "--colour wants yuv, bgr24 or bgra, not \"" + colour + "\"");
    }
    const bool md5 = parsed.Has("--md5");
    const std::optional<std::string> y4m = parsed.Value("--y4m");
    if (y4m && *options.colourSpace != kColorSpaceYuv420) {
        throw HostError(kExitUsage, "--y4m writes yuv frames only");
    }
    if (y4m && *y4m == "-" && md5) {
        throw HostError(kExitUsage, "--md5 and --y4m - would both write to standard output");
    }

    const OpenedFile opened = OpenFlv(options);
    if (opened.videoTracks == 0) throw HostError(kExitNoTrack, options.file + ": no video track");
    IMediaSource* source = opened.source.Get();
    const double duration = VideoDuration(source);
    std::unique_ptr<OutputFile> video;
    if (y4m) video = std::make_unique<OutputFile>(*y4m);

    CatchInterrupt();
    ProgressBar progress("frames", duration, kLongVideoMs);
    std::size_t count = 0;
    double end = 0.0;
    FrameLayout first;
    std::size_t firstBytes = 0;
    while (!Interrupted()) {
        const std::optional<Packet> frame = ReadVideoPacket(source);
        if (!frame) break;
        const FrameLayout layout = LayoutOf(*frame);
        if (count == 0) {
            ExpectColourSpace(layout, *options.colourSpace);
            first = layout;
            firstBytes = frame->size;
        }
        if (md5) {
            std::printf("%s,%s,%d,%s\n", Milliseconds(frame->time).c_str(),
                        Milliseconds(frame->duration).c_str(), frame->discontinuity ? 1 : 0,
                        Md5Hex(frame->data, frame->size).c_str());
        }
        if (video) {
            if (frame->size != FrameBytes(layout) || layout.width != first.width ||
                layout.height != first.height) {
                throw HostError(kExitFailed, "frame at " + Milliseconds(frame->time) +
                                                 " ms does not fit the Y4M video (" +
                                                 std::to_string(layout.width) + "x" +
                                                 std::to_string(layout.height) + ")");
            }
            if (count == 0) {
                const std::string header = Y4mHeader(layout, layout.frameRate);
                video->Write(header.data(), header.size());
            }
            static constexpr char kFrameMarker[] = "FRAME\n";
            video->Write(kFrameMarker, sizeof kFrameMarker - 1);
            video->Write(frame->data, frame->size);
        }
        ++count;
        end = frame->time + frame->duration;
        progress.Update(end);
    }
    if (video) video->Close();
    if (Interrupted()) return kExitInterrupted;
    if (!md5 && !(y4m && *y4m == "-")) {
        std::printf("%zu frames, %ldx%ld %s (%zu bytes each), 0 to %s ms\n", count,
                    static_cast<long>(first.width), static_cast<long>(first.height),
                    ColourSpaceName(first.colourSpace), firstBytes, Milliseconds(end).c_str());
    }
    return kExitOk;
}

}  // namespace flvhost
