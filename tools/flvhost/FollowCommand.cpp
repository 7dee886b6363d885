// flvhost follow: a file that is still being written, re-opened every second.
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "tools/flvhost/Arguments.h"
#include "tools/flvhost/Commands.h"
#include "tools/flvhost/Output.h"
#include "tools/flvhost/StreamFacts.h"

namespace flvhost {
namespace {
constexpr char kHelp[] =
    "usage: flvhost follow FILE [--idle SECONDS] [--interval SECONDS] [--hash H] [--no-cache]\n"
    "\n"
    "Opens FILE, then calls IFlashFile5::ReOpenFile every second and prints a line whenever the\n"
    "file, the durations or the packet counts grew: seconds since the start, the file size, and\n"
    "per track the packets indexed and the duration. Ends when the file has not grown for the\n"
    "idle time (default 10 seconds) or on Ctrl-C (exit code 0 either way). The packet counts come\n"
    "from the component's index cache, which ReOpenFile keeps up to date; with --no-cache they\n"
    "are shown as -.\n"
    "\n"
    "  --idle S       stop after S seconds without growth (0.1 to 86400)\n"
    "  --interval S   seconds between two ReOpenFile calls (default 1, 0.05 to 60)\n";

constexpr double kDefaultIdleSeconds = 10.0;
constexpr double kDefaultIntervalSeconds = 1.0;
constexpr auto kSleepStep = std::chrono::milliseconds(50);

struct Snapshot {
    std::uint64_t size = 0;
    double videoMs = 0.0;
    double audioMs = 0.0;
    long long videoPackets = -1;  // -1: unknown
    long long audioPackets = -1;
    bool operator==(const Snapshot&) const = default;
};

std::uint64_t SizeOf(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? static_cast<std::uint64_t>(info.st_size) : 0;
}

long long CachedCount(const std::wstring& hash, char kind) {
    if (hash.empty()) return -1;
    const auto index = CachedIndex(CacheFilePath(hash, kind), kind == 'v');
    return index ? static_cast<long long>(index->size()) : -1;
}

Snapshot Take(const OpenedFile& opened, const std::string& file) {
    Snapshot now;
    now.size = SizeOf(file);
    if (opened.videoTracks > 0) {
        now.videoMs = VideoDuration(opened.source.Get());
        now.videoPackets = CachedCount(opened.hash, 'v');
    }
    if (opened.audioTracks > 0) {
        now.audioMs = AudioDuration(opened.source.Get());
        now.audioPackets = CachedCount(opened.hash, 'a');
    }
    return now;
}

std::string Count(long long packets) {
    return packets < 0 ? "-" : std::to_string(packets);
}

void Print(double seconds, const OpenedFile& opened, const Snapshot& now) {
    std::printf("%7.1f s  %12llu bytes", seconds, static_cast<unsigned long long>(now.size));
    if (opened.videoTracks > 0) {
        std::printf("  video %s packets %s ms", Count(now.videoPackets).c_str(),
                    FormatNumber(now.videoMs).c_str());
    }
    if (opened.audioTracks > 0) {
        std::printf("  audio %s packets %s ms", Count(now.audioPackets).c_str(),
                    FormatNumber(now.audioMs).c_str());
    }
    if (opened.videoTracks == 0 && opened.audioTracks == 0) std::printf("  no track yet");
    std::printf("\n");
    std::fflush(stdout);
}

// Sleeps `seconds` in short steps, so that Ctrl-C ends the wait at once.
void Wait(double seconds) {
    const auto until = std::chrono::steady_clock::now() +
                       std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                           std::chrono::duration<double>(seconds));
    while (!Interrupted() && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(kSleepStep);
    }
}
}  // namespace

int RunFollow(const CommandArguments& arguments) {
    const Arguments parsed(arguments,
                           {kHashOption, kNoCacheOption, {"--idle", true}, {"--interval", true}});
    if (ShowHelp(parsed, kHelp)) return kExitOk;
    parsed.ExpectPositional(1, "flvhost follow FILE [--idle SECONDS]");
    const double idleLimit = NumberOption(parsed, "--idle", kDefaultIdleSeconds, 0.1, 86400.0);
    const double interval = NumberOption(parsed, "--interval", kDefaultIntervalSeconds, 0.05, 60.0);
    const OpenOptions options = OpenOptionsFrom(parsed);

    CatchInterrupt();
    const auto start = std::chrono::steady_clock::now();
    const auto elapsed = [&start] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    };
    OpenedFile opened = OpenFlv(options);
    Snapshot last = Take(opened, options.file);
    Print(0.0, opened, last);
    double idle = 0.0;
    while (idle < idleLimit) {
        Wait(interval);
        if (Interrupted()) break;
        if (opened.videoTracks == 0 && opened.audioTracks == 0) {
            // Nothing to re-open yet (the file had no tag): open it again once it has grown.
            if (SizeOf(options.file) != last.size) {
                opened = OpenWith(opened.source, options, opened.hash);
            }
        } else {
            ComPtr<IFlashFile5> file;
            Check(opened.source.As(file), "IFlashFile5");
            Check(file->ReOpenFile(), "ReOpenFile");
        }
        const Snapshot now = Take(opened, options.file);
        if (now == last) {
            idle += interval;
            continue;
        }
        idle = 0.0;
        last = now;
        Print(elapsed(), opened, now);
    }
    if (!Interrupted()) {
        std::printf("stopped: no growth for %s s\n", FormatNumber(idleLimit, 1).c_str());
    }
    return kExitOk;
}

}  // namespace flvhost
