#include "tests/support/FfmpegTools.h"

#include <unistd.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

namespace {
std::string Quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'') quoted += "'\\''";
        else quoted += c;
    }
    return quoted + "'";
}

std::filesystem::path SampleFolder() {
#ifdef FLV_BINARY_DIR
    return std::filesystem::path(FLV_BINARY_DIR) / "test-samples";
#else
    return std::filesystem::temp_directory_path() / "flv-test-samples";
#endif
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> SplitFields(const std::string& line, char separator) {
    std::vector<std::string> fields;
    std::string field;
    std::istringstream in(line);
    while (std::getline(in, field, separator)) fields.push_back(field);
    return fields;
}
}  // namespace

int RunCommand(const std::string& command, std::string* output) {
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return -1;
    std::array<char, 65536> buffer;
    std::size_t n;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) {
        if (output) output->append(buffer.data(), n);
    }
    return ::pclose(pipe);
}

bool FfmpegAvailable() {
    static const bool available = RunCommand("ffmpeg -version >/dev/null 2>&1") == 0 &&
                                  RunCommand("ffprobe -version >/dev/null 2>&1") == 0;
    return available;
}

std::optional<std::filesystem::path> GeneratedSample(const std::string& name, const std::string& ffmpegArguments) {
    if (!FfmpegAvailable()) return std::nullopt;
    const auto folder = SampleFolder();
    std::error_code ignored;
    std::filesystem::create_directories(folder, ignored);
    const auto target = folder / name;
    // The arguments are part of the sample's identity: a changed recipe makes a new file.
    const auto recipe = folder / (name + ".recipe");
    std::string previous;
    if (std::filesystem::exists(target) && std::filesystem::exists(recipe)) {
        RunCommand("cat " + Quote(recipe.string()), &previous);
        if (previous == ffmpegArguments) return target;
    }
    static std::atomic<unsigned> counter{0};
    const auto temporary = folder / (name + ".tmp" + std::to_string(::getpid()) + "-" +
                                     std::to_string(counter.fetch_add(1)) + target.extension().string());
    const std::string command = "ffmpeg -nostdin -y -v error " + ffmpegArguments + " " + Quote(temporary.string()) +
                                " >/dev/null 2>&1";
    if (RunCommand(command) != 0) {
        std::filesystem::remove(temporary, ignored);
        return std::nullopt;
    }
    const auto recipeTemporary = recipe.string() + ".tmp" + std::to_string(::getpid());
    if (FILE* out = std::fopen(recipeTemporary.c_str(), "wb")) {
        std::fwrite(ffmpegArguments.data(), 1, ffmpegArguments.size(), out);
        std::fclose(out);
    }
    std::filesystem::rename(temporary, target);
    std::filesystem::rename(recipeTemporary, recipe, ignored);
    return target;
}

std::optional<std::filesystem::path> SharedTestFile(const std::string& name) {
#ifdef FLV_SOURCE_DIR
    const auto file = std::filesystem::path(FLV_SOURCE_DIR) / ".." / "shared" / "testdata" / "flv" / name;
    if (std::filesystem::exists(file)) return file;
#endif
    (void)name;
    return std::nullopt;
}

std::vector<ProbePacket> ProbePackets(const std::filesystem::path& file) {
    std::string output;
    RunCommand("ffprobe -v error -show_entries packet=codec_type,pos,pts,flags -of csv=p=0 " + Quote(file.string()),
               &output);
    std::vector<ProbePacket> packets;
    for (const std::string& line : SplitLines(output)) {
        // codec_type,pts,pos,flags (ffprobe prints the entries in its own order)
        const auto fields = SplitFields(line, ',');
        if (fields.size() < 4) continue;
        ProbePacket packet;
        packet.video = fields[0] == "video";
        packet.ptsMs = fields[1] == "N/A" ? 0 : std::stoll(fields[1]);
        packet.position = fields[2] == "N/A" ? 0 : std::stoull(fields[2]);
        packet.keyframe = fields[3].find('K') != std::string::npos;
        packets.push_back(packet);
    }
    return packets;
}

std::vector<ProbeStream> ProbeStreams(const std::filesystem::path& file) {
    std::string output;
    RunCommand("ffprobe -v error -show_entries stream=codec_type,codec_name,width,height,r_frame_rate,avg_frame_rate,"
               "sample_rate,channels,bits_per_sample -of default=nw=0 " +
                   Quote(file.string()),
               &output);
    std::vector<ProbeStream> streams;
    for (const std::string& line : SplitLines(output)) {
        if (line == "[STREAM]") {
            streams.emplace_back();
            continue;
        }
        const auto equals = line.find('=');
        if (streams.empty() || equals == std::string::npos) continue;
        const std::string key = line.substr(0, equals);
        const std::string value = line.substr(equals + 1);
        const auto number = [&value]() { return std::atoi(value.c_str()); };
        ProbeStream& stream = streams.back();
        if (key == "codec_type") stream.video = value == "video";
        if (key == "codec_name") stream.codecName = value;
        if (key == "width") stream.width = number();
        if (key == "height") stream.height = number();
        if (key == "sample_rate") stream.sampleRate = number();
        if (key == "channels") stream.channels = number();
        if (key == "bits_per_sample") stream.bitsPerSample = number();
        if (key == "r_frame_rate" || key == "avg_frame_rate") {
            const auto slash = value.find('/');
            const double denominator = slash == std::string::npos ? 1 : std::atof(value.c_str() + slash + 1);
            const double rate = denominator != 0 ? std::atof(value.c_str()) / denominator : 0;
            // The average rate (which the FLV demuxer takes from the metadata) wins when known.
            if (rate > 0 && (key == "avg_frame_rate" || stream.frameRate == 0)) stream.frameRate = rate;
        }
    }
    return streams;
}

std::vector<FrameHash> VideoFrameHashes(const std::filesystem::path& file, const std::string& pixelFormat) {
    std::string output;
    RunCommand("ffmpeg -nostdin -v error -filter_threads 1 -i " + Quote(file.string()) +
                   " -map 0:v -fps_mode passthrough -pix_fmt " +
                   pixelFormat + " -f framemd5 -",
               &output);
    std::vector<FrameHash> frames;
    for (const std::string& line : SplitLines(output)) {
        if (line[0] == '#') continue;
        // stream, dts, pts, duration, size, hash
        auto fields = SplitFields(line, ',');
        if (fields.size() < 6) continue;
        for (auto& f : fields) f.erase(0, f.find_first_not_of(' '));
        frames.push_back({std::stoll(fields[2]), std::stoll(fields[3]), std::stoll(fields[4]), fields[5]});
    }
    return frames;
}

std::string DecodedPcm(const std::filesystem::path& file, int rate, int channels) {
    std::string command = "ffmpeg -nostdin -v error -i " + Quote(file.string()) + " -map 0:a -f s16le -c:a pcm_s16le";
    if (rate > 0) command += " -ar " + std::to_string(rate);
    if (channels > 0) command += " -ac " + std::to_string(channels);
    std::string output;
    RunCommand(command + " -", &output);
    return output;
}

extern "C" {
#include <libavutil/md5.h>
}

std::string Md5Hex(const void* data, std::size_t size) {
    std::uint8_t digest[16];
    av_md5_sum(digest, static_cast<const std::uint8_t*>(data), size);
    static const char kHex[] = "0123456789abcdef";
    std::string text;
    for (std::uint8_t byte : digest) {
        text += kHex[byte >> 4];
        text += kHex[byte & 15];
    }
    return text;
}
