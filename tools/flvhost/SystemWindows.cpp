// flvhost on Windows: the console's Ctrl-C, LoadLibraryW, binary standard streams, and PNG files
// written with zlib (no libpng for mingw in Debian).
#include <fcntl.h>
#include <io.h>
#include <zlib.h>

#include <array>
#include <csignal>
#include <cstdlib>

#include "platform/TextConvert.h"
#include "tools/flvhost/Host.h"
#include "tools/flvhost/System.h"

namespace flvhost {
namespace {
std::filesystem::path ProgramFolder() {
    std::wstring path(32768, L'\0');
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0 || length >= path.size()) return ".";
    path.resize(length);
    return std::filesystem::path(path).parent_path();
}

void PutBigEndian(std::string& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((value >> shift) & 0xFF);
}

// One PNG chunk: length, type, data, CRC of type and data.
bool WriteChunk(std::FILE* out, const char (&type)[5], const std::string& data) {
    std::string chunk;
    PutBigEndian(chunk, static_cast<std::uint32_t>(data.size()));
    chunk.append(type, 4);
    chunk += data;
    const auto* crcBytes = reinterpret_cast<const Bytef*>(chunk.data() + 4);
    PutBigEndian(
        chunk, static_cast<std::uint32_t>(crc32(0, crcBytes, static_cast<uInt>(data.size() + 4))));
    return std::fwrite(chunk.data(), 1, chunk.size(), out) == chunk.size();
}
}  // namespace

void PrepareProcess() {
    (void)CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    (void)_setmode(_fileno(stdout), _O_BINARY);
    (void)_setmode(_fileno(stderr), _O_BINARY);
}

HRESULT StartFramework() {
    return S_OK;
}

std::string RegistryLocation(bool user) {
    return user ? "HKEY_CURRENT_USER\\Software\\Classes" : "HKEY_LOCAL_MACHINE\\Software\\Classes";
}

const char kComponentModuleName[] = "zevflashfile5.dll";

std::vector<std::filesystem::path> ComponentModuleCandidates() {
    return {ProgramFolder() / kComponentModuleName};
}

DllInstallFunction LoadDllInstall(const std::string& path) {
    // The module stays loaded until the process ends, as COM leaves it.
    HMODULE library = LoadLibraryW(Utf8ToWide(path).c_str());
    if (library == nullptr) {
        throw HostError(kExitNotRegistered,
                        path + " does not load (error " + std::to_string(GetLastError()) + ")");
    }
    // FARPROC is a generic function pointer; the cast through void* names the real signature.
    auto* dllInstall = reinterpret_cast<DllInstallFunction>(
        reinterpret_cast<void*>(GetProcAddress(library, "DllInstall")));
    if (dllInstall == nullptr) throw HostError(kExitNotRegistered, path + " exports no DllInstall");
    return dllInstall;
}

void InstallInterruptHandler(void (*handler)(int)) {
    (void)std::signal(SIGINT, handler);
}

bool StandardErrorIsTerminal() {
    return _isatty(_fileno(stderr)) != 0;
}

void ExitNow(int code) {
    std::_Exit(code);
}

// Filter type 0 on every row, one zlib stream in one IDAT chunk.
bool WritePng(std::FILE* out, std::uint32_t width, std::uint32_t height,
              const std::uint8_t* const* rows) {
    constexpr std::array<unsigned char, 8> kSignature = {0x89, 'P',  'N',  'G',
                                                         '\r', '\n', 0x1A, '\n'};
    constexpr char kRgb = 2, kBitDepth = 8;
    const std::size_t rowBytes = static_cast<std::size_t>(width) * 3;
    std::string raw;
    raw.reserve((rowBytes + 1) * height);
    for (std::uint32_t row = 0; row < height; ++row) {
        raw += '\0';
        raw.append(reinterpret_cast<const char*>(rows[row]), rowBytes);
    }
    uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
    std::string packed(packedSize, '\0');
    if (compress2(reinterpret_cast<Bytef*>(packed.data()), &packedSize,
                  reinterpret_cast<const Bytef*>(raw.data()), static_cast<uLong>(raw.size()),
                  Z_DEFAULT_COMPRESSION) != Z_OK) {
        return false;
    }
    packed.resize(packedSize);
    std::string header;
    PutBigEndian(header, width);
    PutBigEndian(header, height);
    header += {kBitDepth, kRgb, 0, 0, 0};  // compression, filter and interlace methods 0
    return std::fwrite(kSignature.data(), 1, kSignature.size(), out) == kSignature.size() &&
           WriteChunk(out, "IHDR", header) && WriteChunk(out, "IDAT", packed) &&
           WriteChunk(out, "IEND", {});
}

}  // namespace flvhost
