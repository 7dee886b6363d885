// flvhost register / unregister: the component's own DllInstall, per user or machine-wide.
#include <cstdio>
#include <filesystem>

#include "platform/Registry.h"
#include "platform/TextConvert.h"
#include "tools/flvhost/Arguments.h"
#include "tools/flvhost/Commands.h"
#include "tools/flvhost/System.h"

namespace flvhost {
namespace {
constexpr char kRegisterHelp[] =
    "usage: flvhost register [--user] [--module PATH]\n"
    "\n"
    "Registers the FlashFile5 component: loads its module and calls its DllInstall, which writes\n"
    "the classes (CLSID\\{...}\\InprocServer32 naming the module) and the type library into the\n"
    "registry. Hosts then create the component by class identifier.\n"
    "\n"
    "  --user         register for the current user (HKEY_CURRENT_USER\\Software\\Classes, in the\n"
    "                 hive file named by ZEV_REGISTRY_USER, by default\n"
    "                 ~/.config/zev-registry/user.reg); without it the registration is\n"
    "                 machine-wide (ZEV_REGISTRY_MACHINE, by default\n"
    "                 /var/lib/zev-registry/machine.reg, which usually needs root)\n"
    "  --module PATH  the module to register (default: libzevflashfile5.so where an\n"
    "                 installation puts it, lib/zevflashfile5 in the library folder beside\n"
    "                 bin/, else in ../lib beside the flvhost program, or in its own folder)\n";

constexpr char kUnregisterHelp[] =
    "usage: flvhost unregister [--user] [--module PATH]\n"
    "\n"
    "Removes the FlashFile5 component's registration (through its DllInstall), per user with\n"
    "--user, machine-wide otherwise. --module as for register.\n";

// The module beside flvhost (ComponentModuleCandidates, in order).
std::string DefaultModule() {
    std::string tried;
    for (const auto& candidate : ComponentModuleCandidates()) {
        std::error_code error;
        if (std::filesystem::is_regular_file(candidate, error)) {
            return std::filesystem::weakly_canonical(candidate, error).string();
        }
        tried += (tried.empty() ? "" : " or ") + candidate.parent_path().string();
    }
    throw HostError(kExitFileMissing, std::string("the component module ") + kComponentModuleName +
                                          " is not in " + tried + "; give it with --module PATH");
}

int Install(const CommandArguments& arguments, bool install) {
    const Arguments parsed(arguments, {{"--user", false}, {"--module", true}});
    if (ShowHelp(parsed, install ? kRegisterHelp : kUnregisterHelp)) return kExitOk;
    parsed.ExpectPositional(0, install ? "flvhost register [--user] [--module PATH]"
                                       : "flvhost unregister [--user] [--module PATH]");
    const bool user = parsed.Has("--user");
    std::string module = parsed.Value("--module").value_or("");
    if (module.empty()) {
        module = DefaultModule();
    } else if (!std::filesystem::is_regular_file(module)) {
        throw HostError(kExitFileMissing, module + ": no such module");
    } else {
        module = std::filesystem::absolute(module).lexically_normal().string();
    }

    const DllInstallFunction dllInstall = LoadDllInstall(module);
    const std::string hive = RegistryLocation(user);
    const HRESULT hr = dllInstall(install ? TRUE : FALSE, user ? L"user" : nullptr);
    if (FAILED(hr)) {
        std::string hint;
        if (!user)
            hint = "\nMachine-wide registration writes " + hive + "; use --user, or run as root";
        throw HostError(kExitFailed, std::string(install ? "registration" : "unregistration") +
                                         " failed: " + DescribeFailure(hr) + hint);
    }
    std::printf("%s %s %s (%s)\n", install ? "registered" : "unregistered", module.c_str(),
                user ? "for the current user" : "machine-wide", hive.c_str());
    return kExitOk;
}
}  // namespace

int RunRegister(const CommandArguments& arguments) {
    return Install(arguments, true);
}

int RunUnregister(const CommandArguments& arguments) {
    return Install(arguments, false);
}

}  // namespace flvhost
