#include "tools/flvhost/Arguments.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "tools/flvhost/Commands.h"
#include "tools/flvhost/Output.h"

namespace flvhost {

const char kExitCodeHelp[] =
    "Exit codes:\n"
    "  0    success\n"
    "  1    the component, a decoder or an output file failed\n"
    "  2    usage: unknown command or option, missing or bad argument\n"
    "  3    the input file (or the module to register) does not exist or cannot be read\n"
    "  4    the input file is not an FLV file\n"
    "  5    the component is not registered, or its module does not load\n"
    "  6    the file has no track of the kind the command needs\n"
    "  130  interrupted (Ctrl-C)\n";

namespace {
constexpr std::size_t kMaxHashLength = 200;

// The component uses a hash only as part of a file name; any other hash would silently turn
// its cache off, so flvhost refuses it instead.
bool UsableHash(const std::string& hash) {
    if (hash.empty() || hash.size() > kMaxHashLength || hash == "." || hash == "..") return false;
    for (unsigned char c : hash) {
        if (c == '/' || c == '\\' || c < 0x20 || c == 0x7F) return false;
    }
    return true;
}
}  // namespace

Arguments::Arguments(const std::vector<std::string>& arguments,
                     std::initializer_list<OptionSpec> specs) {
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument == "--help" || argument == "-h") {
            help_ = true;
            continue;
        }
        if (argument.size() < 2 || argument[0] != '-') {
            positional_.push_back(argument);
            continue;
        }
        const auto equals = argument.find('=');
        const std::string name = argument.substr(0, equals);
        const OptionSpec* known = nullptr;
        for (const OptionSpec& candidate : specs) {
            if (name == candidate.name) known = &candidate;
        }
        if (known == nullptr) throw HostError(kExitUsage, "unknown option " + name);
        if (!known->takesValue) {
            if (equals != std::string::npos) {
                throw HostError(kExitUsage, "option " + name + " takes no value");
            }
            options_[name] = "";
        } else if (equals != std::string::npos) {
            options_[name] = argument.substr(equals + 1);
        } else if (i + 1 < arguments.size()) {
            options_[name] = arguments[++i];
        } else {
            throw HostError(kExitUsage, "option " + name + " needs a value");
        }
    }
}

std::optional<std::string> Arguments::Value(const std::string& name) const {
    const auto found = options_.find(name);
    if (found == options_.end()) return std::nullopt;
    return found->second;
}

void Arguments::ExpectPositional(std::size_t count, const char* usage) const {
    if (positional_.size() != count) {
        throw HostError(kExitUsage, std::string("usage: ") + usage + " (see --help)");
    }
}

OpenOptions OpenOptionsFrom(const Arguments& arguments) {
    OpenOptions options;
    if (!arguments.Positional().empty()) options.file = arguments.Positional().front();
    options.useCache = !arguments.Has(kNoCacheOption.name);
    if (auto hash = arguments.Value(kHashOption.name)) {
        if (!UsableHash(*hash)) {
            throw HostError(kExitUsage,
                            "--hash must be usable as a file name: 1 to 200 characters, no '/', "
                            "'\\' or control characters, not \".\" or \"..\"");
        }
        options.hash = *hash;
    }
    return options;
}

bool ShowHelp(const Arguments& arguments, const char* help) {
    if (!arguments.WantsHelp()) return false;
    std::printf("%s\n%s", help, kExitCodeHelp);
    return true;
}

double NumberOption(const Arguments& arguments, const std::string& name, double fallback,
                    double minimum, double maximum) {
    const auto text = arguments.Value(name);
    if (!text) return fallback;
    char* end = nullptr;
    const double value = std::strtod(text->c_str(), &end);
    if (text->empty() || *end != '\0' || !std::isfinite(value) || value < minimum ||
        value > maximum) {
        throw HostError(kExitUsage, name + " wants a number from " + FormatNumber(minimum) +
                                        " to " + FormatNumber(maximum) + ", not \"" + *text + "\"");
    }
    return value;
}

}  // namespace flvhost
