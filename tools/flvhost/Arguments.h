// Command-line arguments of one flvhost command: options (--name, --name VALUE, --name=VALUE,
// and the short -o) and positional arguments ("-" is positional).
#pragma once

#include <initializer_list>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tools/flvhost/Host.h"

namespace flvhost {

struct OptionSpec {
    const char* name;  // "--json", "-o"
    bool takesValue;
};

class Arguments {
  public:
    // Throws HostError(kExitUsage) for an unknown option or a missing value. "--help" and "-h"
    // are always known.
    Arguments(const std::vector<std::string>& arguments, std::initializer_list<OptionSpec> specs);

    bool WantsHelp() const { return help_; }
    bool Has(const std::string& name) const { return options_.count(name) != 0; }
    std::optional<std::string> Value(const std::string& name) const;
    const std::vector<std::string>& Positional() const { return positional_; }
    // Exactly `count` positional arguments, else HostError(kExitUsage) naming `usage`.
    void ExpectPositional(std::size_t count, const char* usage) const;

  private:
    bool help_ = false;
    std::map<std::string, std::string> options_;
    std::vector<std::string> positional_;
};

// The options of every command that opens a file: --hash H and --no-cache.
inline constexpr OptionSpec kHashOption{"--hash", true};
inline constexpr OptionSpec kNoCacheOption{"--no-cache", false};
OpenOptions OpenOptionsFrom(const Arguments& arguments);

// Prints `help` and the exit codes when the arguments ask for help; true then.
bool ShowHelp(const Arguments& arguments, const char* help);

// A number from an option; HostError(kExitUsage) when it is not one or is out of range.
double NumberOption(const Arguments& arguments, const std::string& name, double fallback,
                    double minimum, double maximum);

}  // namespace flvhost
