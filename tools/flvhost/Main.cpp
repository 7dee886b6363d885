// flvhost: a command-line host of the FlashFile5 component. It loads the component as any host
// does, by class identifier through the registry, and links only the platform layer and
// mediakit (the host framework's components).
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "tools/flvhost/Commands.h"
#include "tools/flvhost/Host.h"
#include "tools/flvhost/System.h"

namespace flvhost {

namespace {
struct Command {
    const char* name;
    int (*run)(const CommandArguments&);
    const char* summary;
};

constexpr Command kCommands[] = {
    {"info", RunInfo, "streams, durations, packet counts, index source"},
    {"index", RunIndex, "every index entry (--csv, --json)"},
    {"frames", RunFrames, "decode every frame (--md5 lines, --y4m video)"},
    {"audio", RunAudio, "decode the audio track into a WAV file"},
    {"thumb", RunThumb, "the frame at a time as a PNG file"},
    {"follow", RunFollow, "follow a file that is still being written"},
    {"register", RunRegister, "register the component (--user: for this user)"},
    {"unregister", RunUnregister, "remove the component's registration"},
};

void PrintUsage(std::FILE* out) {
    std::fprintf(out,
                 "usage: flvhost COMMAND [ARGUMENTS]   (flvhost COMMAND --help for its options)\n"
                 "\n"
                 "A command-line host of the FlashFile5 FLV component: it creates the component\n"
                 "by class identifier through the registry and reads files through its\n"
                 "interfaces.\n\nCommands:\n");
    for (const Command& command : kCommands) {
        std::fprintf(out, "  %-11s %s\n", command.name, command.summary);
    }
    std::fprintf(out, "\nFirst use:  flvhost register --user\n\n%s", kExitCodeHelp);
}
}  // namespace
}  // namespace flvhost

int main(int argc, char** argv) {
    using namespace flvhost;
    PrepareProcess();
    if (argc < 2) {
        PrintUsage(stderr);
        return kExitUsage;
    }
    const std::string name = argv[1];
    if (name == "--help" || name == "-h" || name == "help") {
        PrintUsage(stdout);
        return kExitOk;
    }
    const CommandArguments arguments(argv + 2, argv + argc);
    for (const Command& command : kCommands) {
        if (name != command.name) continue;
        try {
            const int code = command.run(arguments);
            if (std::fflush(stdout) != 0) {
                std::fprintf(stderr, "flvhost: standard output could not be written\n");
                return kExitFailed;
            }
            return code;
        } catch (const HostError& error) {
            std::fflush(stdout);
            std::fprintf(stderr, "flvhost %s: %s\n", command.name, error.what());
            return error.ExitCode();
        } catch (const std::bad_alloc&) {
            std::fprintf(stderr, "flvhost %s: out of memory\n", command.name);
            return kExitFailed;
        } catch (const std::exception& error) {
            std::fprintf(stderr, "flvhost %s: %s\n", command.name, error.what());
            return kExitFailed;
        }
    }
    std::fprintf(stderr, "flvhost: unknown command \"%s\" (flvhost --help lists them)\n",
                 name.c_str());
    return kExitUsage;
}
