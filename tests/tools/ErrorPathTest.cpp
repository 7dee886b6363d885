// What flvhost tells a user and a script when something is wrong: a missing file, a file that is
// not FLV, a component that is not registered or does not load, a track that is not there, and
// bad command lines. Each has its own exit code and a message that says what to do. The program
// itself runs for one case of each kind; the other cases call the same command functions in
// this process (each program start under the sanitizers costs most of a second).
#include <cstdio>
#include <fstream>
#include <string>
#include <utility>

#include "tests/support/FfmpegTools.h"
#include "tests/tools/FlvhostHarness.h"
#include "tools/flvhost/Commands.h"
#include "tools/flvhost/Host.h"

namespace {
namespace fs = std::filesystem;

const char kSampleArguments[] =
    "-f lavfi -i testsrc2=size=160x120:rate=25 -f lavfi -i sine=frequency=440:sample_rate=44100 "
    "-t 1 -c:v flv1 -c:a libmp3lame -ac 2";
const char kAudioOnlyArguments[] =
    "-f lavfi -i sine=frequency=440:sample_rate=22050 -t 1 -c:a libmp3lame -ac 1";
const char kVideoOnlyArguments[] = "-f lavfi -i testsrc2=size=160x120:rate=25 -t 1 -c:v flv1";

#define REQUIRE_SAMPLE(var, name, arguments)                                 \
    if (!FfmpegAvailable()) GTEST_SKIP() << "ffmpeg and ffprobe are needed"; \
    const auto var##Found = GeneratedSample(name, arguments);                \
    ASSERT_TRUE(var##Found) << "ffmpeg could not make " << name;             \
    const fs::path var = *var##Found

bool Mentions(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

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

TEST(ErrorPaths, MissingFileIsExitCode3) {
    const std::string missing = (HostFolder() / "missing.flv").string();
    const HostRun run = RunFlvhost("info " + Quote(missing));
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_EQ(run.err, "flvhost info: " + missing + ": no such file\n");
    EXPECT_TRUE(run.out.empty());
    for (const auto& [command, extra] :
         {std::pair<Command, flvhost::CommandArguments>{flvhost::RunIndex, {"--csv"}},
          {flvhost::RunFrames, {"--md5"}},
          {flvhost::RunAudio, {"-o", "-"}},
          {flvhost::RunThumb, {"--at", "0", "-o", "x.png"}},
          {flvhost::RunFollow, {}}}) {
        flvhost::CommandArguments arguments{missing};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        std::string message;
        EXPECT_EQ(ExitCodeOf(command, arguments, &message), 3);
        EXPECT_EQ(message, missing + ": no such file");
    }
    std::string message;
    EXPECT_EQ(ExitCodeOf(flvhost::RunInfo, {HostFolder().string()}, &message), 3);
    EXPECT_TRUE(Mentions(message, "not a regular file")) << message;
}

TEST(ErrorPaths, NotFlvIsExitCode4) {
    const fs::path text = OutputPath("notes.flv");
    std::ofstream(text) << "These are notes, not a video.\n";
    const HostRun run = RunFlvhost("info " + Quote(text));
    EXPECT_EQ(run.exitCode, 4);
    EXPECT_TRUE(Mentions(run.err, "not an FLV file")) << run.err;
    // Shorter than the signature.
    const fs::path empty = OutputPath("empty.flv");
    std::ofstream(empty) << "FL";
    EXPECT_EQ(ExitCodeOf(flvhost::RunIndex, {empty.string(), "--csv"}), 4);
}

TEST(ErrorPaths, ComponentNotRegisteredIsExitCode5AndSaysHowToRegister) {
    REQUIRE_SAMPLE(file, "tools_errors_flv1_mp3.flv", kSampleArguments);
    const HostRun run = RunFlvhost("info " + Quote(file), EmptyRegistry("none"));
    EXPECT_EQ(run.exitCode, 5);
    EXPECT_TRUE(Mentions(run.err, "not registered")) << run.err;
    EXPECT_TRUE(Mentions(run.err, "flvhost register --user")) << run.err;
}

TEST(ErrorPaths, RegisterAndUnregisterDecideWhetherHostsFindTheComponent) {
    REQUIRE_SAMPLE(file, "tools_errors_flv1_mp3.flv", kSampleArguments);
    const std::string registry = EmptyRegistry("roundtrip");
    const HostRun registered = RunFlvhost("register --user", registry);
    ASSERT_EQ(registered.exitCode, 0) << registered.err;
    EXPECT_TRUE(Mentions(registered.out, "for the current user")) << registered.out;
    EXPECT_EQ(RunFlvhost("info " + Quote(file), registry).exitCode, 0);
    ASSERT_EQ(RunFlvhost("unregister --user", registry).exitCode, 0);
    EXPECT_EQ(RunFlvhost("info " + Quote(file), registry).exitCode, 5);
}

TEST(ErrorPaths, AModuleThatDoesNotLoadIsExitCode5) {
    const fs::path notALibrary = OutputPath("libfake.so");
    std::ofstream(notALibrary) << "not a shared object";
    std::string message;
    EXPECT_EQ(
        ExitCodeOf(flvhost::RunRegister, {"--user", "--module", notALibrary.string()}, &message),
        5);
    EXPECT_TRUE(Mentions(message, "does not load")) << message;
    EXPECT_EQ(ExitCodeOf(flvhost::RunRegister,
                         {"--user", "--module", (HostFolder() / "nothing.so").string()}),
              3);
}

TEST(ErrorPaths, ATrackThatIsNotThereIsExitCode6) {
    REQUIRE_SAMPLE(audioOnly, "tools_errors_mp3_only.flv", kAudioOnlyArguments);
    REQUIRE_SAMPLE(videoOnly, "tools_errors_flv1_only.flv", kVideoOnlyArguments);
    EXPECT_EQ(ExitCodeOf(flvhost::RunFrames, {audioOnly.string(), "--md5"}), 6);
    EXPECT_EQ(ExitCodeOf(flvhost::RunThumb, {audioOnly.string(), "--at", "0", "-o", "x.png"}), 6);
    std::string message;
    EXPECT_EQ(ExitCodeOf(flvhost::RunAudio, {videoOnly.string(), "-o", "-"}, &message), 6);
    EXPECT_EQ(message, videoOnly.string() + ": no audio track");
    // The track that is there is read as usual.
    EXPECT_EQ(RunFlvhost("audio " + Quote(audioOnly) + " -o -").exitCode, 0);
}

TEST(ErrorPaths, BadCommandLinesAreExitCode2) {
    REQUIRE_SAMPLE(file, "tools_errors_flv1_mp3.flv", kSampleArguments);
    const std::string name = file.string();
    for (const std::string& arguments : {std::string("transcode ") + Quote(name), std::string(""),
                                         "frames " + Quote(name) + " --colour"}) {
        SCOPED_TRACE(arguments);
        const HostRun run = RunFlvhost(arguments);
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_FALSE(run.err.empty());
    }
    for (const auto& [command, arguments] :
         std::initializer_list<std::pair<Command, flvhost::CommandArguments>>{
             {flvhost::RunInfo, {}},
             {flvhost::RunInfo, {name, "--loud"}},
             {flvhost::RunInfo, {name, name}},
             {flvhost::RunInfo, {name, "--hash", "../../etc"}},
             {flvhost::RunIndex, {name, "--csv", "--json"}},
             {flvhost::RunAudio, {name}},
             {flvhost::RunAudio, {name, "-o", "-", "--chunk", "0"}},
             {flvhost::RunThumb, {name, "-o", "x.png"}},
             {flvhost::RunThumb, {name, "--at", "soon", "-o", "x.png"}},
             {flvhost::RunThumb, {name, "--at", "5000", "-o", "x.png"}},
             {flvhost::RunFrames, {name, "--colour", "purple"}},
             {flvhost::RunFrames, {name, "--colour", "bgr24", "--y4m", "x.y4m"}},
             {flvhost::RunFollow, {name, "--idle", "0"}},
             {flvhost::RunRegister, {"extra"}}}) {
        std::string message;
        EXPECT_EQ(ExitCodeOf(command, arguments, &message), 2) << arguments.size();
        EXPECT_FALSE(message.empty());
    }
}

TEST(ErrorPaths, EveryCommandHasHelpWithTheExitCodes) {
    const HostRun run = RunFlvhost("--help");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(Mentions(run.out, "flvhost register --user"));
    EXPECT_TRUE(Mentions(run.out, "Exit codes:"));
    for (const auto& [name, command] : std::initializer_list<std::pair<const char*, Command>>{
             {"info", flvhost::RunInfo},
             {"index", flvhost::RunIndex},
             {"frames", flvhost::RunFrames},
             {"audio", flvhost::RunAudio},
             {"thumb", flvhost::RunThumb},
             {"follow", flvhost::RunFollow},
             {"register", flvhost::RunRegister},
             {"unregister", flvhost::RunUnregister}}) {
        SCOPED_TRACE(name);
        ::testing::internal::CaptureStdout();
        const int code = ExitCodeOf(command, {"--help"});
        std::fflush(stdout);
        const std::string help = ::testing::internal::GetCapturedStdout();
        EXPECT_EQ(code, 0);
        EXPECT_TRUE(Mentions(help, std::string("usage: flvhost ") + name)) << help;
        EXPECT_TRUE(Mentions(help, "Exit codes:"));
    }
}
}  // namespace
