#include "tools/flvhost/Host.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <fstream>
#include <memory>
#include <vector>

extern "C" {
#include <libavutil/md5.h>
#include <libavutil/mem.h>
}

#include "platform/Bstr.h"
#include "platform/Com.h"
#include "platform/ErrorInfo.h"
#include "platform/Registry.h"
#include "platform/TextConvert.h"
#include "tools/flvhost/System.h"

namespace flvhost {
namespace {
constexpr ULONGLONG kCommandOpen = 1;
constexpr LONG kOperationModeRead = 1;
constexpr LONG kAllStreams = -2;
constexpr LONG kResetVideo = 1;
constexpr std::size_t kHashWindow = 64 * 1024;
constexpr char kFlvSignature[] = {'F', 'L', 'V'};

std::string Hex32(HRESULT hr) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
    return text;
}

std::string HexBytes(const std::uint8_t* bytes, std::size_t count) {
    static const char kHex[] = "0123456789abcdef";
    std::string text;
    for (std::size_t i = 0; i < count; ++i) {
        text += kHex[bytes[i] >> 4];
        text += kHex[bytes[i] & 15];
    }
    return text;
}

std::string ClassKeyName() {
    wchar_t clsid[64];
    if (StringFromGUID2(CLSID_FlashFile5, clsid, 64) == 0) return "CLSID";
    return "CLSID\\" + WideToUtf8(clsid) + "\\InprocServer32";
}

// The module that the registry names for FlashFile5 (empty when none).
std::string RegisteredModule() {
    HKEY raw = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, Utf8ToWide(ClassKeyName()).c_str(), 0, KEY_READ, &raw) !=
        ERROR_SUCCESS) {
        return {};
    }
    UniqueRegistryKey key(raw);
    std::array<wchar_t, 4096> path{};
    DWORD size = static_cast<DWORD>(sizeof(wchar_t) * (path.size() - 1));
    DWORD type = 0;
    if (RegQueryValueExW(key.get(), nullptr, nullptr, &type, reinterpret_cast<BYTE*>(path.data()),
                         &size) != ERROR_SUCCESS ||
        type != REG_SZ) {
        return {};
    }
    return WideToUtf8(path.data());
}

std::string HiveFiles() {
    return RegistryLocation(true) + " and " + RegistryLocation(false);
}

HRESULT SetString(IMediaParams* params, const wchar_t* name, const std::wstring& value) {
    return params->SetString(Bstr(name).Get(), 0, Bstr(value).Get());
}
HRESULT SetFlag(IMediaParams* params, const wchar_t* name, bool value) {
    return params->SetBool(Bstr(name).Get(), 0, value ? VARIANT_TRUE : VARIANT_FALSE);
}

void SetColourSpace(IMediaSource* source, LONG colourSpace) {
    VARIANT value{};
    value.vt = VT_I4;
    value.lVal = colourSpace;
    Check(source->SetParam(Bstr(L"DecodeColorSpace").Get(), value), "DecodeColorSpace");
}

std::optional<Packet> PacketOf(HRESULT hr, ComPtr<IUnknown>& data, const char* what) {
    Check(hr, what);
    Packet result;
    if (!data || FAILED(data.As(result.packet)) || !result.packet) return std::nullopt;
    VARIANT_BOOL mark = VARIANT_FALSE;
    LONG size = 0;
    BYTE* bytes = nullptr;
    (void)result.packet->GetTime(&result.time);
    (void)result.packet->GetDuration(&result.duration);
    (void)result.packet->GetDiscontinuity(&mark);
    if (SUCCEEDED(result.packet->GetSize(&size)) && size > 0 &&
        SUCCEEDED(result.packet->GetData(&bytes)) && bytes != nullptr) {
        result.data = bytes;
        result.size = static_cast<std::size_t>(size);
    }
    result.discontinuity = mark != VARIANT_FALSE;
    return result;
}
}  // namespace

std::string DescribeFailure(HRESULT hr) {
    ComPtr<IErrorInfo> record;
    Bstr description;
    if (GetErrorInfo(0, record.Put()) == S_OK && record &&
        SUCCEEDED(record->GetDescription(description.Put())) && description.Length() > 0) {
        return Hex32(hr) + " " + WideToUtf8(description.View());
    }
    return Hex32(hr);
}

void Check(HRESULT hr, const std::string& what) {
    if (FAILED(hr)) throw HostError(kExitFailed, what + ": " + DescribeFailure(hr));
}

void StartHost() {
    static const HRESULT registered = StartFramework();
    Check(registered, "mediakit's components could not be registered");
}

ComPtr<IMediaSource> CreateSource() {
    StartHost();
    ComPtr<IMediaSource> source;
    const HRESULT hr = CreateInstance(CLSID_FlashFile5, source);
    if (hr == REGDB_E_CLASSNOTREG) {
        throw HostError(kExitNotRegistered,
                        "the FlashFile5 component is not registered (no HKEY_CLASSES_ROOT\\" +
                            ClassKeyName() + " in " + HiveFiles() +
                            ").\nRegister it for your user with:  flvhost register --user");
    }
    if (hr == CO_E_DLLNOTFOUND || hr == CO_E_ERRORINDLL) {
        throw HostError(kExitNotRegistered,
                        "the FlashFile5 component is registered as \"" + RegisteredModule() +
                            "\", which does not load (" + Hex32(hr) +
                            ").\nRegister the built module again with:  flvhost register --user");
    }
    if (FAILED(hr) || !source) {
        throw HostError(kExitNotRegistered,
                        "the FlashFile5 component could not be created: " + DescribeFailure(hr));
    }
    return source;
}

std::optional<LONG> ColourSpaceByName(const std::string& name) {
    if (name == "yuv") return kColorSpaceYuv420;
    if (name == "bgr24") return kColorSpaceBgr24;
    if (name == "bgra") return kColorSpaceBgra32;
    return std::nullopt;
}

const char* ColourSpaceName(LONG colourSpace) {
    switch (colourSpace) {
        case kColorSpaceBgr24:
            return "bgr24";
        case kColorSpaceBgra32:
            return "bgra";
        default:
            return "yuv";
    }
}

std::string DefaultFileHash(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    in.seekg(0, std::ios::end);
    const auto end = static_cast<std::uint64_t>(std::max<std::streamoff>(in.tellg(), 0));
    std::unique_ptr<AVMD5, decltype(&av_free)> md5(av_md5_alloc(), &av_free);
    if (!md5) throw std::bad_alloc();
    av_md5_init(md5.get());
    const std::string size = std::to_string(end) + ":";
    av_md5_update(md5.get(), reinterpret_cast<const std::uint8_t*>(size.data()), size.size());
    std::vector<char> window(kHashWindow);
    const auto hashAt = [&](std::uint64_t offset) {
        in.clear();
        in.seekg(static_cast<std::streamoff>(offset));
        in.read(window.data(), static_cast<std::streamsize>(window.size()));
        av_md5_update(md5.get(), reinterpret_cast<const std::uint8_t*>(window.data()),
                      static_cast<std::size_t>(in.gcount()));
    };
    hashAt(0);
    if (end > kHashWindow) hashAt(end - kHashWindow);
    std::uint8_t digest[16];
    av_md5_final(md5.get(), digest);
    return "flvhost-" + HexBytes(digest, sizeof digest);
}

void CheckFlvFile(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        throw HostError(kExitFileMissing, path + ": no such file");
    }
    if (!S_ISREG(info.st_mode)) throw HostError(kExitFileMissing, path + ": not a regular file");
    std::ifstream in(path, std::ios::binary);
    if (!in) throw HostError(kExitFileMissing, path + ": cannot be read");
    char signature[sizeof kFlvSignature] = {};
    in.read(signature, sizeof signature);
    if (in.gcount() != sizeof signature ||
        !std::equal(std::begin(signature), std::end(signature), std::begin(kFlvSignature))) {
        throw HostError(kExitNotFlv, path + ": not an FLV file (it does not start with \"FLV\")");
    }
}

ComPtr<IMediaParams> NewParams() {
    StartHost();
    ComPtr<IMediaParams> params;
    Check(CreateInstance(CLSID_MediaParams, params), "no parameter container");
    return params;
}

OpenedFile OpenFlv(const OpenOptions& options) {
    CheckFlvFile(options.file);
    std::wstring hash;
    if (options.useCache) {
        hash = Utf8ToWide(options.hash.empty() ? DefaultFileHash(options.file) : options.hash);
    }
    return OpenWith(CreateSource(), options, hash);
}

OpenedFile OpenWith(ComPtr<IMediaSource> source, const OpenOptions& options,
                    const std::wstring& hash) {
    OpenedFile opened;
    opened.source = std::move(source);
    opened.params = NewParams();
    opened.hash = hash;
    IMediaParams* params = opened.params.Get();
    Check(params->SetLong(Bstr(L"OperationMode").Get(), 0, kOperationModeRead), "OperationMode");
    Check(SetString(params, L"FileName", Utf8ToWide(options.file)), "FileName");
    if (!hash.empty()) Check(SetString(params, L"FileHash", hash), "FileHash");
    Check(SetFlag(params, L"OnlyVideoOpen", options.onlyVideo), "OnlyVideoOpen");
    Check(SetFlag(params, L"OnlyAudioOpen", options.onlyAudio), "OnlyAudioOpen");
    // The component hands the colour space to its stream objects at the open (in the host's
    // container, as "ReadColorSpace") and on every SetParam (command 100). Setting it on both
    // sides of the open, then restarting the video at 0, makes every frame come out in it.
    if (options.colourSpace) SetColourSpace(opened.source.Get(), *options.colourSpace);
    Check(opened.source->SendCommandEx(kCommandOpen, params, nullptr), options.file);
    Check(opened.source->get_videoTracksCount(&opened.videoTracks), "videoTracksCount");
    Check(opened.source->get_audioTracksCount(&opened.audioTracks), "audioTracksCount");
    if (options.colourSpace && opened.videoTracks > 0) {
        SetColourSpace(opened.source.Get(), *options.colourSpace);
        Check(opened.source->ResetBuffers(kAllStreams, kResetVideo), "ResetBuffers");
        Check(opened.source->SeekVideo(kAllStreams, 0, 0.0), "SeekVideo");
    }
    return opened;
}

std::optional<Packet> ReadVideoPacket(IMediaSource* source) {
    ComPtr<IUnknown> data;
    const HRESULT hr = source->ReadVideo(0, 0, data.Put());
    return PacketOf(hr, data, "ReadVideo");
}

std::optional<Packet> ReadAudioPacket(IMediaSource* source, double ms) {
    ComPtr<IUnknown> data;
    const HRESULT hr = source->ReadAudio(0, 0, ms, data.Put());
    return PacketOf(hr, data, "ReadAudio");
}

FrameLayout LayoutOf(const Packet& frame) {
    FrameLayout layout;
    ComPtr<IUnknown> format;
    ComPtr<IVideoFormat> video;
    if (FAILED(frame.packet->GetFormat(format.Put())) || FAILED(format.As(video)) || !video) {
        return layout;
    }
    (void)video->GetWidth(&layout.width);
    (void)video->GetHeight(&layout.height);
    (void)video->GetColorSpace(&layout.colourSpace);
    (void)video->GetFrameRate(&layout.frameRate);
    return layout;
}

void ExpectColourSpace(const FrameLayout& layout, LONG wanted) {
    if (layout.colourSpace != wanted) {
        throw HostError(kExitFailed, std::string("the component delivered ") +
                                         ColourSpaceName(layout.colourSpace) +
                                         " frames although \"DecodeColorSpace\" asked for " +
                                         ColourSpaceName(wanted));
    }
}

std::size_t FrameBytes(const FrameLayout& layout) {
    if (layout.width <= 0 || layout.height <= 0) return 0;
    const auto width = static_cast<std::size_t>(layout.width);
    const auto height = static_cast<std::size_t>(layout.height);
    switch (layout.colourSpace) {
        case kColorSpaceBgr24:
            return width * height * 3;
        case kColorSpaceBgra32:
            return width * height * 4;
        default:
            return width * height + 2 * ((width + 1) / 2) * ((height + 1) / 2);
    }
}

double VideoDuration(IMediaSource* source) {
    double duration = 0.0;
    Check(source->get_videoDuration(0, &duration), "videoDuration");
    return duration;
}

double AudioDuration(IMediaSource* source) {
    double duration = 0.0;
    Check(source->get_audioDuration(0, &duration), "audioDuration");
    return duration;
}

std::string Md5Hex(const void* data, std::size_t size) {
    std::uint8_t digest[16];
    av_md5_sum(digest, static_cast<const std::uint8_t*>(data), size);
    return HexBytes(digest, sizeof digest);
}

}  // namespace flvhost
