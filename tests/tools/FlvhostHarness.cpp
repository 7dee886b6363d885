#include "tests/tools/FlvhostHarness.h"

#include <sys/wait.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

#include "tests/support/FfmpegTools.h"
#include "tests/support/TempDir.h"

namespace {
namespace fs = std::filesystem;

TempDir& Folder() {
    static TempDir folder;
    return folder;
}

// The variables the environment sets, in the order of their values below.
constexpr const char* kVariables[] = {"ZEV_REGISTRY_MACHINE", "ZEV_REGISTRY_USER", "XDG_DATA_HOME",
                                      "XDG_RUNTIME_DIR", "XDG_CONFIG_HOME"};

std::uint32_t Little32(const std::string& bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = value << 8 | static_cast<std::uint8_t>(bytes[at + i]);
    return value;
}
std::uint16_t Little16(const std::string& bytes, std::size_t at) {
    return static_cast<std::uint16_t>(static_cast<std::uint8_t>(bytes[at]) |
                                      static_cast<std::uint8_t>(bytes[at + 1]) << 8);
}

// Set up before any test runs: gtest_main gives no other place for a global environment.
const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new FlvhostEnvironment);
}  // namespace

std::string Quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::string Quote(const fs::path& path) {
    return Quote(path.string());
}

const fs::path& HostFolder() {
    return Folder().Path();
}

fs::path OutputPath(const std::string& name) {
    static std::atomic<unsigned> counter{0};
    return HostFolder() / "out" / (std::to_string(counter++) + "-" + name);
}

std::string FlvhostCommand(const std::string& arguments) {
    return Quote(std::string(FLVHOST_PROGRAM)) + " " + arguments;
}

HostRun RunFlvhost(const std::string& arguments, const std::string& environment) {
    const fs::path errors = OutputPath("stderr.txt");
    HostRun run;
    const std::string prefix = environment.empty() ? "" : "env " + environment + " ";
    const int status =
        RunCommand(prefix + FlvhostCommand(arguments) + " 2>" + Quote(errors), &run.out);
    run.exitCode = status >= 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.err = ReadBytes(errors);
    return run;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::vector<std::string> Fields(const std::string& line, char separator) {
    std::vector<std::string> fields;
    std::istringstream in(line);
    for (std::string field; std::getline(in, field, separator);) fields.push_back(field);
    return fields;
}

std::string ReadBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

WavFile ReadWav(const fs::path& file) {
    // "RIFF" size "WAVE" "fmt " 16 | format 1, channels, rate, bytes/s, block align, bits |
    // "data" size, then the samples.
    constexpr std::size_t kHeader = 44;
    const std::string bytes = ReadBytes(file);
    WavFile wav;
    if (bytes.size() < kHeader || bytes.compare(0, 4, "RIFF") != 0 ||
        bytes.compare(8, 8, "WAVEfmt ") != 0 || bytes.compare(36, 4, "data") != 0 ||
        Little32(bytes, 16) != 16 || Little16(bytes, 20) != 1 ||
        Little32(bytes, 4) != bytes.size() - 8 || Little32(bytes, 40) != bytes.size() - kHeader) {
        return wav;
    }
    wav.channels = Little16(bytes, 22);
    wav.sampleRate = static_cast<int>(Little32(bytes, 24));
    wav.blockAlign = Little16(bytes, 32);
    wav.bitsPerSample = Little16(bytes, 34);
    wav.samples = bytes.substr(kHeader);
    wav.valid = Little32(bytes, 28) == static_cast<std::uint32_t>(wav.sampleRate) * wav.blockAlign;
    return wav;
}

std::string RgbPixels(const fs::path& image) {
    std::string pixels;
    RunCommand("ffmpeg -nostdin -v error -i " + Quote(image) + " -f rawvideo -pix_fmt rgb24 -",
               &pixels);
    return pixels;
}

void FlvhostEnvironment::SetUp() {
    const fs::path root = HostFolder();
    const std::string values[] = {(root / "hives" / "machine.reg").string(),
                                  (root / "hives" / "user.reg").string(), (root / "data").string(),
                                  (root / "run").string(), (root / "config").string()};
    for (std::size_t i = 0; i < std::size(kVariables); ++i) {
        ::setenv(kVariables[i], values[i].c_str(), 1);
    }
    fs::create_directories(root / "run");
    fs::create_directories(root / "out");
    const HostRun registered = RunFlvhost("register --user");
    ASSERT_EQ(registered.exitCode, 0) << registered.err;
}

void FlvhostEnvironment::TearDown() {
    const HostRun unregistered = RunFlvhost("unregister --user");
    EXPECT_EQ(unregistered.exitCode, 0) << unregistered.err;
    for (const char* variable : kVariables) ::unsetenv(variable);
}
