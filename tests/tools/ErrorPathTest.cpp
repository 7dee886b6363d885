// What flvhost tells a user and a script when something is wrong: a missing file, a file that is
// not FLV, a component that is not registered or does not load, a track that is not there, and
// bad command lines. Each has its own exit code and a message that says what to do. The program
// itself runs for one case of each kind; the other cases call the same command functions in
// this process (each program start under the sanitizers costs most of a second).
#include <fstream>
#include <utility>

#include "tests/tools/FlvhostHarness.h"
#include "tools/flvhost/Commands.h"
#include "tools/flvhost/Host.h"

namespace {
namespace fs = std::filesystem;

const std::string kSampleArguments = Clip(25, 44100, "-c:v flv1 -c:a libmp3lame -ac 2");

using Command = int (*)(const flvhost::CommandArguments&);

// The exit code a command ends with in this process: its result, or that of the HostError it
// throws (which main() prints and returns).
int ExitCodeOf(Command command, const flvhost::CommandArguments& arguments,
               std::string* message = nullptr) {
    try {
        return command(arguments);
    } catch (const flvhost::HostError& error) {
        if (message != nullptr) *message = error.what();
        return error.ExitCode();
    }
}

// A registry of its own for one run, with nothing registered in it.
std::string EmptyRegistry(const std::string& name) {
    const fs::path hives = HostFolder() / ("hives-" + name);
    return "ZEV_REGISTRY_MACHINE=" + Quote(hives / "machine.reg") +
           " ZEV_REGISTRY_USER=" + Quote(hives / "user.reg");
}

// In order: each row runs the program once; the last rows register the component in an empty
// registry and unregister it again, deciding whether hosts find it.
TEST(ErrorPaths, TheProgramsExitCodesAndMessages) {
    REQUIRE_TOOLS_SAMPLE(file, "tools_errors_flv1_mp3.flv", kSampleArguments);
    const std::string missing = (HostFolder() / "missing.flv").string();
    const fs::path text = OutputPath("notes.flv");
    std::ofstream(text) << "These are notes, not a video.\n";
    const std::string empty = EmptyRegistry("roundtrip"), info = "info " + Quote(file);
    const struct {
        std::string arguments, environment;
        int exitCode;
        std::vector<std::string> says;  // on standard output when the exit code is 0
    } cases[] = {
        {"info " + Quote(missing), "", 3, {"flvhost info: " + missing + ": no such file\n"}},
        {"info " + Quote(text), "", 4, {"not an FLV file"}},
        // Bad command lines: an unknown command, an option without its value.
        {"transcode " + Quote(file), "", 2, {"unknown command"}},
        {"frames " + Quote(file) + " --colour", "", 2, {"--colour needs a value"}},
        // Help lists the exit codes and how to register.
        {"--help", "", 0, {"flvhost register --user", "Exit codes:"}},
        // Not registered: the message says how to register.
        {info, empty, 5, {"not registered", "flvhost register --user"}},
        {"register --user", empty, 0, {"for the current user"}},
        {info, empty, 0, {"Video:"}},
        {"unregister --user", empty, 0, {"unregistered"}},
        {info, empty, 5, {"not registered"}},
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.arguments);
        const HostRun run = RunFlvhost(entry.arguments, entry.environment);
        EXPECT_EQ(run.exitCode, entry.exitCode) << run.err;
        const std::string& said = entry.exitCode == 0 ? run.out : run.err;
        for (const std::string& part : entry.says) EXPECT_TRUE(Mentions(said, part)) << said;
    }
}

TEST(ErrorPaths, EachCommandsExitCodesAndMessages) {
    REQUIRE_TOOLS_SAMPLE(file, "tools_errors_flv1_mp3.flv", kSampleArguments);
    REQUIRE_TOOLS_SAMPLE(
        audioOnly, "tools_errors_mp3_only.flv",
        "-f lavfi -i sine=frequency=440:sample_rate=22050 -t 1 -c:a libmp3lame -ac 1");
    REQUIRE_TOOLS_SAMPLE(videoOnly, "tools_errors_flv1_only.flv",
                         "-f lavfi -i testsrc2=size=160x120:rate=25 -t 1 -c:v flv1");
    const std::string name = file.string(), missing = (HostFolder() / "missing.flv").string();
    const fs::path shortFile = OutputPath("empty.flv"), notALibrary = OutputPath("libfake.so");
    std::ofstream(shortFile) << "FL";
    std::ofstream(notALibrary) << "not a shared object";
    const struct {
        Command command;
        flvhost::CommandArguments arguments;
        int exitCode;
        std::string says;
    } cases[] = {
        // A missing file, and a folder, which is no file either.
        {flvhost::RunIndex, {missing, "--csv"}, 3, missing + ": no such file"},
        {flvhost::RunInfo, {HostFolder().string()}, 3, "not a regular file"},
        {flvhost::RunIndex, {shortFile.string(), "--csv"}, 4, ""},  // shorter than the signature
        // A module that does not load, or is not there.
        {flvhost::RunRegister, {"--user", "--module", notALibrary.string()}, 5, "does not load"},
        {flvhost::RunRegister, {"--user", "--module", (HostFolder() / "no.so").string()}, 3, ""},
        // A track that is not there.
        {flvhost::RunFrames, {audioOnly.string(), "--md5"}, 6, ""},
        {flvhost::RunAudio, {videoOnly.string(), "-o", "-"}, 6, videoOnly.string() + ": no audio"},
        // Bad command lines.
        {flvhost::RunInfo, {}, 2, ""},
        {flvhost::RunInfo, {name, "--loud"}, 2, ""},
        {flvhost::RunInfo, {name, "--hash", "../../etc"}, 2, ""},
        {flvhost::RunAudio, {name, "-o", "-", "--chunk", "0"}, 2, ""},
        {flvhost::RunThumb, {name, "--at", "5000", "-o", "x.png"}, 2, ""},
        {flvhost::RunFrames, {name, "--colour", "bgr24", "--y4m", "x.y4m"}, 2, ""},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        std::string message;
        EXPECT_EQ(ExitCodeOf(cases[i].command, cases[i].arguments, &message), cases[i].exitCode)
            << "case " << i;
        EXPECT_TRUE(Mentions(message, cases[i].says)) << "case " << i << ": " << message;
        EXPECT_TRUE(cases[i].exitCode != 2 || !message.empty()) << "case " << i;
    }
    // The track that is there is read as usual.
    EXPECT_EQ(RunFlvhost("audio " + Quote(audioOnly) + " -o -").exitCode, 0);
}

}  // namespace
