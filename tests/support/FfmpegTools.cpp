#include "tests/support/FfmpegTools.h"

#ifdef _WIN32
#include <chrono>
#include <thread>

#include "platform/System.h"
#else
#include <unistd.h>
#endif

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <sstream>

#include "tests/support/TempDir.h"

extern "C" {
#include <libavutil/md5.h>
}

namespace fs = std::filesystem;

#ifdef _WIN32
// The Windows test programs run under Wine, and the tools (ffmpeg, ffprobe, the shell) are the
// host's: Wine starts Unix programs, though without the pipes and exit status that popen needs
// (the program gets no handle of ours and its process cannot be waited for). So /bin/sh runs
// each command with its output into a file, then writes its exit status into another by a
// rename, which the caller waits for. Paths go to the host in their Unix form (Wine's
// wine_get_unix_file_name). Outside Wine no command runs: RunCommand answers -1.
namespace {
using UnixFileName = char*(__cdecl*)(const wchar_t*);

UnixFileName WineUnixFileName() {
    static const auto function = reinterpret_cast<UnixFileName>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    return function;
}

std::string UnixPath(const fs::path& path) {
    char* name = WineUnixFileName()(path.wstring().c_str());
    if (name == nullptr) return path.string();
    std::string unixName(name);
    HeapFree(GetProcessHeap(), 0, name);  // Wine allocates it on the process heap
    return unixName;
}

std::string ShellQuoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}
}  // namespace

std::string Quote(const fs::path& text) {
    return ShellQuoted(text.has_root_path() && WineUnixFileName() ? UnixPath(text) : text.string());
}

int RunCommand(const std::string& command, std::string* output) {
    if (WineUnixFileName() == nullptr) return -1;
    const TempDir folder;
    const std::string out = Quote(folder.Path() / "out"), status = Quote(folder.Path() / "status");
    folder.Write("run.sh", "{\n" + command + "\n} </dev/null >" + out + "\necho $? >" + status +
                               ".tmp && mv " + status + ".tmp " + status + "\n");
    // Wine splits the command line as Windows does: double quotes around the script's path.
    std::wstring commandLine =
        L"/bin/sh \"" + Utf8ToWide(UnixPath(folder.Path() / "run.sh")) + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        return -1;
    }
    if (process.hProcess != nullptr) CloseHandle(process.hProcess);
    if (process.hThread != nullptr) CloseHandle(process.hThread);
    // Every command of the tests ends within a minute or two.
    const auto end = std::chrono::steady_clock::now() + std::chrono::minutes(5);
    std::error_code error;
    while (!fs::exists(folder.Path() / "status", error)) {
        if (std::chrono::steady_clock::now() > end) return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (output) *output += FileBytes(folder.Path() / "out");
    return std::atoi(FileBytes(folder.Path() / "status").c_str());
}
#else
std::string Quote(const fs::path& text) {
    std::string quoted = "'";
    for (char c : text.string()) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}
#endif

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    for (std::string line : Fields(text, '\n')) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> Fields(const std::string& line, char separator) {
    std::vector<std::string> fields;
    std::istringstream in(line);
    for (std::string field; std::getline(in, field, separator);) fields.push_back(field);
    return fields;
}

#ifndef _WIN32
int RunCommand(const std::string& command, std::string* output) {
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return -1;
    char buffer[65536];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
        if (output) output->append(buffer, n);
    }
    return ::pclose(pipe);
}
#endif

bool FfmpegAvailable() {
    static const bool available =
        RunCommand("{ ffmpeg -version && ffprobe -version; } >/dev/null 2>&1") == 0;
    return available;
}

std::optional<fs::path> GeneratedSample(const std::string& name,
                                        const std::string& ffmpegArguments) {
    if (!FfmpegAvailable()) return std::nullopt;
    const fs::path folder = fs::path(FLV_BINARY_DIR) / "test-samples";
    std::error_code ignored;
    fs::create_directories(folder, ignored);
    const fs::path target = folder / name;
    // The arguments are part of the sample's identity: a changed recipe makes a new file.
    const fs::path recipe = folder / (name + ".recipe");
    if (fs::exists(target) && FileBytes(recipe) == ffmpegArguments) return target;
    static std::atomic<unsigned> counter{0};
#ifdef _WIN32
    const unsigned long process = GetCurrentProcessId();
#else
    const long process = ::getpid();
#endif
    const std::string unique = ".tmp" + std::to_string(process) + "-" + std::to_string(counter++);
    const fs::path temporary = folder / (name + unique + target.extension().string());
    if (RunCommand("ffmpeg -nostdin -y -v error " + ffmpegArguments + " " + Quote(temporary) +
                   " >/dev/null 2>&1") != 0) {
        fs::remove(temporary, ignored);
        return std::nullopt;
    }
    const fs::path recipeTemporary = folder / (name + unique + ".recipe");
    std::ofstream(recipeTemporary, std::ios::binary) << ffmpegArguments;
    fs::rename(temporary, target);
    fs::rename(recipeTemporary, recipe, ignored);
    return target;
}

std::optional<fs::path> SharedTestFile(const std::string& name) {
    const fs::path file = fs::path(FLV_SOURCE_DIR) / ".." / "shared" / "testdata" / "flv" / name;
    return fs::exists(file) ? std::optional<fs::path>(file) : std::nullopt;
}

std::vector<ProbePacket> ProbePackets(const fs::path& file) {
    std::string output;
    RunCommand(
        "ffprobe -v error -show_entries packet=codec_type,pos,pts,flags -of csv=p=0 " + Quote(file),
        &output);
    std::vector<ProbePacket> packets;
    for (const std::string& line : Lines(output)) {
        // codec_type,pts,pos,flags (ffprobe prints the entries in its own order)
        const auto fields = Fields(line);
        if (fields.size() < 4) continue;
        packets.push_back({fields[0] == "video", fields[2] == "N/A" ? 0 : std::stoull(fields[2]),
                           fields[1] == "N/A" ? 0 : std::stoll(fields[1]),
                           fields[3].find('K') != std::string::npos});
    }
    return packets;
}

std::vector<ProbeStream> ProbeStreams(const fs::path& file) {
    std::string output;
    RunCommand(
        "ffprobe -v error -show_entries stream=codec_type,codec_name,width,height,"
        "r_frame_rate,avg_frame_rate,sample_rate,channels,bits_per_sample " +
            Quote(file),
        &output);
    std::vector<ProbeStream> streams;
    for (const std::string& line : Lines(output)) {
        if (line == "[STREAM]") streams.emplace_back();
        const auto equals = line.find('=');
        if (streams.empty() || equals == std::string::npos) continue;
        const std::string key = line.substr(0, equals), value = line.substr(equals + 1);
        const int number = std::atoi(value.c_str());
        ProbeStream& stream = streams.back();
        if (key == "codec_type") stream.video = value == "video";
        if (key == "codec_name") stream.codecName = value;
        if (key == "width") stream.width = number;
        if (key == "height") stream.height = number;
        if (key == "sample_rate") stream.sampleRate = number;
        if (key == "channels") stream.channels = number;
        if (key == "bits_per_sample") stream.bitsPerSample = number;
        if (key == "r_frame_rate" || key == "avg_frame_rate") {
            // A fraction ("25/1"); the average rate (which the FLV demuxer takes from the
            // metadata) wins when known ("0/0" is not).
            const auto slash = value.find('/');
            const double rate = std::atof(value.c_str()) / std::atof(&value[slash + 1]);
            if (rate > 0 && (key == "avg_frame_rate" || stream.frameRate == 0))
                stream.frameRate = rate;
        }
    }
    return streams;
}

std::vector<FrameHash> VideoFrameHashes(const fs::path& file, const std::string& pixelFormat) {
    std::string output;
    // The FLV time base is 1/1000: with the input's time base, pts are milliseconds.
    RunCommand("ffmpeg -nostdin -v error -filter_threads 1 -copyts -i " + Quote(file) +
                   " -map 0:v:0 -fps_mode passthrough -enc_time_base -1 -autoscale 0 -pix_fmt " +
                   pixelFormat + " -f framemd5 -",
               &output);
    std::int64_t firstKey = std::numeric_limits<std::int64_t>::min();
    for (const ProbePacket& packet : ProbePackets(file)) {
        if (packet.video && packet.keyframe) {
            firstKey = packet.ptsMs;
            break;
        }
    }
    std::vector<FrameHash> frames;
    for (const std::string& line : Lines(output)) {
        // stream, dts, pts, duration, size, hash
        auto fields = Fields(line);
        if (line[0] == '#' || fields.size() < 6) continue;
        for (auto& f : fields) f.erase(0, f.find_first_not_of(' '));
        const std::int64_t pts = std::stoll(fields[2]);
        if (pts < firstKey) continue;
        frames.push_back({pts, std::stoll(fields[3]), std::stoll(fields[4]), fields[5]});
    }
    return frames;
}

std::string DecodedPcm(const fs::path& file, int rate, int channels) {
    std::string output;
    RunCommand("ffmpeg -nostdin -v error -i " + Quote(file) + " -map 0:a -f s16le -c:a pcm_s16le" +
                   (rate > 0 ? " -ar " + std::to_string(rate) : "") +
                   (channels > 0 ? " -ac " + std::to_string(channels) : "") + " -",
               &output);
    return output;
}

std::string TimelinePcm(const fs::path& file, int rate, int channels) {
    std::string output;
    RunCommand("ffmpeg -nostdin -v error -copyts -i " + Quote(file) +
                   " -map 0:a:0 -af aresample=async=1:min_hard_comp=0.1:first_pts=0" +
                   (rate > 0 ? " -ar " + std::to_string(rate) : "") +
                   (channels > 0 ? " -ac " + std::to_string(channels) : "") +
                   " -f s16le -c:a pcm_s16le -",
               &output);
    return output;
}

double DifferenceDb(std::string_view delivered, std::string_view expected, int channels,
                    long shift) {
    auto sample = [](std::string_view pcm, std::size_t at) {
        return static_cast<double>(
            static_cast<std::int16_t>(static_cast<std::uint8_t>(pcm[2 * at]) |
                                      static_cast<std::uint8_t>(pcm[2 * at + 1]) << 8));
    };
    const auto frameBytes = static_cast<long>(2 * channels);
    const long deliveredFrames = static_cast<long>(delivered.size()) / frameBytes;
    const long expectedFrames = static_cast<long>(expected.size()) / frameBytes;
    double signal = 0.0, difference = 0.0;
    for (long frame = std::max(0L, -shift);
         frame < deliveredFrames && frame + shift < expectedFrames; ++frame) {
        for (long channel = 0; channel < channels; ++channel) {
            const double want =
                sample(expected, static_cast<std::size_t>((frame + shift) * channels + channel));
            const double got =
                sample(delivered, static_cast<std::size_t>(frame * channels + channel));
            signal += want * want;
            difference += (got - want) * (got - want);
        }
    }
    if (difference == 0.0) return -std::numeric_limits<double>::infinity();
    return 10.0 * std::log10(difference / signal);
}

std::string Md5Hex(const void* data, std::size_t size) {
    std::uint8_t digest[16];
    av_md5_sum(digest, static_cast<const std::uint8_t*>(data), size);
    char text[33];
    for (int i = 0; i < 16; ++i) std::snprintf(text + 2 * i, 3, "%02x", digest[i]);
    return text;
}
