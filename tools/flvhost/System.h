// What flvhost needs of the operating system beyond COM, one implementation per target
// (SystemPosix.cpp on the stand-in, SystemWindows.cpp on Windows).
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/Types.h"

namespace flvhost {

// Starts COM on the main thread (single-threaded apartment) for the life of the process and,
// on Windows, puts the standard streams in binary mode, so that PCM, PNG and text lines leave
// byte for byte as they do on Linux.
void PrepareProcess();
// What a host does before it creates the component: on the stand-in, mediakit's classes are
// registered in the process (MediaKitRegisterClasses); on Windows they are registered with the
// system (regsvr32 mediakit.dll) and found through the registry.
HRESULT StartFramework();
// Where registration writes, for messages: machine-wide, or per user.
std::string RegistryLocation(bool user);

// The component module's file name and where flvhost looks for it beside itself.
extern const char kComponentModuleName[];
std::vector<std::filesystem::path> ComponentModuleCandidates();
// DllInstall of the module at `path`, which stays loaded; throws HostError when the module does
// not load or has no DllInstall.
using DllInstallFunction = HRESULT (*)(BOOL install, LPCWSTR commandLine);
DllInstallFunction LoadDllInstall(const std::string& path);

// Calls `handler` on Ctrl-C (SIGINT).
void InstallInterruptHandler(void (*handler)(int));
// Whether standard error is a terminal (progress bars are drawn only there).
bool StandardErrorIsTerminal();
// Ends the process at once with `code` (from an interrupt handler).
[[noreturn]] void ExitNow(int code);

// Writes an 8-bit RGB picture (`rows` of width × 3 bytes) as a PNG file; false on failure.
bool WritePng(std::FILE* out, std::uint32_t width, std::uint32_t height,
              const std::uint8_t* const* rows);

}  // namespace flvhost
