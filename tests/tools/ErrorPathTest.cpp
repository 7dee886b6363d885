// What flvhost tells a user and a script when something is wrong: a missing file, a file that is
// not FLV, a component that is not registered or does not load, a track that is not there, and
// bad command lines. Each has its own exit code and a message that says what to do. The program
// itself runs for one case of each kind; the other cases call the same command functions in
// this process (each program start under the sanitizers costs most of a second).
#include <cstdio>
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

TEST(ErrorPaths, TheProgramsExitCodesAndMessages) {
    REQUIRE_TOOLS_SAMPLE(file, "tools_errors_flv1_mp3.flv", kSampleArguments);
    const std::string missing = (HostFolder() / "missing.flv").string();
    const fs::path text = OutputPath("notes.flv");
    std::ofstream(text) << "These are notes, not a video.\n";
    const struct {
        std::string arguments, environment;
        int exitCode;
        std::vector<std::string> says;
    } cases[] = {
        {"info " + Quote(missing), "", 3, {"flvhost info: " + missing + ": no such file\n"}},
        {"info " + Quote(text), "", 4, {"not an FLV file"}},
        // Not registered: the message says how to register.
        {"info " + Quote(file),
         EmptyRegistry("none"),
         5,
         {"not registered", "flvhost register --user"}},
        // Bad command lines: an unknown command, none at all, an option without its value.
        {"transcode " + Quote(file), "", 2, {}},
        {"", "", 2, {}},
        {"frames " + Quote(file) + " --colour", "", 2, {}},
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.arguments);
        const HostRun run = RunFlvhost(entry.arguments, entry.environment);
        EXPECT_EQ(run.exitCode, entry.exitCode);
        EXPECT_FALSE(run.err.empty());
        for (const std::string& part : entry.says) EXPECT_TRUE(Mentions(run.err, part)) << run.err;
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
    const std::string notFound = missing + ": no such file";
    const fs::path shortFile = OutputPath("empty.flv"), notALibrary = OutputPath("libfake.so");
    std::ofstream(shortFile) << "FL";
    std::ofstream(notALibrary) << "not a shared object";
    const struct {
        Command command;
        flvhost::CommandArguments arguments;
        int exitCode;
        std::string says;
    } cases[] = {
        // A missing file: the same message from every command; a folder is no file either.
        {flvhost::RunIndex, {missing, "--csv"}, 3, notFound},
        {flvhost::RunFollow, {missing}, 3, notFound},
        {flvhost::RunInfo, {HostFolder().string()}, 3, "not a regular file"},
        {flvhost::RunIndex, {shortFile.string(), "--csv"}, 4, ""},  // shorter than the signature
        // A module that does not load, or is not there.
        {flvhost::RunRegister, {"--user", "--module", notALibrary.string()}, 5, "does not load"},
        {flvhost::RunRegister, {"--user", "--module", (HostFolder() / "no.so").string()}, 3, ""},
        // A track that is not there.
        {flvhost::RunFrames, {audioOnly.string(), "--md5"}, 6, ""},
        {flvhost::RunThumb, {audioOnly.string(), "--at", "0", "-o", "x.png"}, 6, ""},
        {flvhost::RunAudio, {videoOnly.string(), "-o", "-"}, 6, videoOnly.string() + ": no audio"},
        // Bad command lines.
        {flvhost::RunInfo, {}, 2, ""},
        {flvhost::RunInfo, {name, "--loud"}, 2, ""},
        {flvhost::RunInfo, {name, "--hash", "../../etc"}, 2, ""},
        {flvhost::RunIndex, {name, "--csv", "--json"}, 2, ""},
        {flvhost::RunAudio, {name, "-o", "-", "--chunk", "0"}, 2, ""},
        {flvhost::RunThumb, {name, "--at", "5000", "-o", "x.png"}, 2, ""},
        {flvhost::RunFrames, {name, "--colour", "purple"}, 2, ""},
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

TEST(ErrorPaths, RegisterAndUnregisterDecideWhetherHostsFindTheComponent) {
    REQUIRE_TOOLS_SAMPLE(file, "tools_errors_flv1_mp3.flv", kSampleArguments);
    const std::string registry = EmptyRegistry("roundtrip");
    const HostRun registered = RunFlvhost("register --user", registry);
    ASSERT_EQ(registered.exitCode, 0) << registered.err;
    EXPECT_TRUE(Mentions(registered.out, "for the current user")) << registered.out;
    EXPECT_EQ(RunFlvhost("info " + Quote(file), registry).exitCode, 0);
    ASSERT_EQ(RunFlvhost("unregister --user", registry).exitCode, 0);
    EXPECT_EQ(RunFlvhost("info " + Quote(file), registry).exitCode, 5);
}

TEST(ErrorPaths, EveryCommandHasHelpWithTheExitCodes) {
    const HostRun run = RunFlvhost("--help");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(Mentions(run.out, "flvhost register --user"));
    EXPECT_TRUE(Mentions(run.out, "Exit codes:"));
    const char* const names[] = {"info",  "index",  "frames",   "audio",
                                 "thumb", "follow", "register", "unregister"};
    const Command commands[] = {flvhost::RunInfo,     flvhost::RunIndex,     flvhost::RunFrames,
                                flvhost::RunAudio,    flvhost::RunThumb,     flvhost::RunFollow,
                                flvhost::RunRegister, flvhost::RunUnregister};
    for (std::size_t i = 0; i < std::size(names); ++i) {
        const std::string name = names[i];
        ::testing::internal::CaptureStdout();
        const int code = ExitCodeOf(commands[i], {"--help"});
        std::fflush(stdout);
        const std::string help = ::testing::internal::GetCapturedStdout();
        EXPECT_EQ(code, 0) << name;
        EXPECT_TRUE(Mentions(help, "usage: flvhost " + name)) << help;
        EXPECT_TRUE(Mentions(help, "Exit codes:")) << name;
    }
}
}  // namespace
