// The flvhost commands. Each takes the arguments after its name and returns the exit code;
// failures for the user are thrown as HostError.
#pragma once

#include <string>
#include <vector>

namespace flvhost {

using CommandArguments = std::vector<std::string>;

int RunInfo(const CommandArguments& arguments);
int RunIndex(const CommandArguments& arguments);
int RunFrames(const CommandArguments& arguments);
int RunAudio(const CommandArguments& arguments);
int RunThumb(const CommandArguments& arguments);
int RunFollow(const CommandArguments& arguments);
int RunRegister(const CommandArguments& arguments);
int RunUnregister(const CommandArguments& arguments);

// The exit-code table, for every --help.
extern const char kExitCodeHelp[];

}  // namespace flvhost
