#include "tests/tools/FlvhostHarness.h"

#include <sys/wait.h>

#include <atomic>

namespace {
namespace fs = std::filesystem;

std::uint32_t Little(const std::string& bytes, std::size_t at, int size = 4) {
    std::uint32_t value = 0;
    for (int i = size - 1; i >= 0; --i)
        value = value << 8 | static_cast<std::uint8_t>(bytes[at + i]);
    return value;
}

// The environment of the test program: hives, XDG folders, and the registration, set up once
// before the first test (gtest_main gives no other place for it). They go with the folder.
class FlvhostEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        const fs::path root = HostFolder();
        const std::pair<const char*, fs::path> variables[] = {
            {"ZEV_REGISTRY_MACHINE", root / "hives" / "machine.reg"},
            {"ZEV_REGISTRY_USER", root / "hives" / "user.reg"},
            {"XDG_DATA_HOME", root / "data"},
            {"XDG_RUNTIME_DIR", root / "run"},
            {"XDG_CONFIG_HOME", root / "config"}};
        for (const auto& [name, folder] : variables) ::setenv(name, folder.c_str(), 1);
        fs::create_directories(root / "run");
        fs::create_directories(root / "out");
        const HostRun registered = RunFlvhost("register --user");
        ASSERT_EQ(registered.exitCode, 0) << registered.err;
    }
};
const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new FlvhostEnvironment);
}  // namespace

const fs::path& HostFolder() {
    static TempDir folder;
    return folder.Path();
}

fs::path OutputPath(const std::string& name) {
    static std::atomic<unsigned> counter{0};
    return HostFolder() / "out" / (std::to_string(counter++) + "-" + name);
}

HostRun RunFlvhost(const std::string& arguments, const std::string& environment) {
    const fs::path errors = OutputPath("stderr.txt");
    HostRun run;
    const std::string prefix = environment.empty() ? "" : "env " + environment + " ";
    const int status =
        RunCommand(prefix + FlvhostCommand(arguments) + " 2>" + Quote(errors), &run.out);
    run.exitCode = status >= 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.err = FileBytes(errors);
    return run;
}

PacketCounts CountPackets(const fs::path& file) {
    PacketCounts counts;
    for (const ProbePacket& packet : ProbePackets(file)) {
        (packet.video ? counts.video : counts.audio) += 1;
        counts.keyframes += packet.video && packet.keyframe;
    }
    return counts;
}

WavFile ReadWav(const fs::path& file) {
    // "RIFF" size "WAVE" "fmt " 16 | format 1, channels, rate, bytes/s, block align, bits |
    // "data" size, then the samples.
    constexpr std::size_t kHeader = 44;
    const std::string bytes = FileBytes(file);
    WavFile wav;
    if (bytes.size() < kHeader || bytes.compare(0, 4, "RIFF") != 0 ||
        bytes.compare(8, 8, "WAVEfmt ") != 0 || bytes.compare(36, 4, "data") != 0 ||
        Little(bytes, 16) != 16 || Little(bytes, 20, 2) != 1 ||
        Little(bytes, 4) != bytes.size() - 8 || Little(bytes, 40) != bytes.size() - kHeader) {
        return wav;
    }
    wav.channels = static_cast<int>(Little(bytes, 22, 2));
    wav.sampleRate = static_cast<int>(Little(bytes, 24));
    wav.blockAlign = static_cast<int>(Little(bytes, 32, 2));
    wav.samples = bytes.substr(kHeader);
    wav.valid = Little(bytes, 28) == static_cast<std::uint32_t>(wav.sampleRate * wav.blockAlign) &&
                Little(bytes, 34, 2) == 16 && wav.blockAlign == 2 * wav.channels;
    return wav;
}

std::string RgbPixels(const fs::path& file) {
    std::string pixels;
    RunCommand("ffmpeg -nostdin -v error -filter_threads 1 -i " + Quote(file) +
                   " -map 0:v -fps_mode passthrough -pix_fmt rgb24 -f rawvideo -",
               &pixels);
    return pixels;
}
