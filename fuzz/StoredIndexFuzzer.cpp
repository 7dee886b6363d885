// fuzz_stored_index: CFLV_Manager loading a stored index (the "FileVideoIndexes" and
// "FileAudioIndexes" streams and the stream description of an index cache file) from a
// parameter container, and, with the same container as the cache files of an FLV file,
// FlashFile5 opening that file and its stream objects reading at the stored positions (a cache
// left by another file under the same hash).
//
// Input layout (little-endian; a field the input does not reach is 0):
//   0   UI8    flags: bits 0-5 set "VideoCodecType", "VideoWidth", "VideoHeight",
//              "VideoDateRate", "AudioCodecType", "AudioDataRate" from the values below, bit 6
//              "VideoFrameRate"; bit 7 also opens the file through FlashFile5 with the
//              container as its cache
//   1   6 x 4  the six long values, in that order
//   25  8      "VideoFrameRate" (IEEE-754 bits)
//   33  4      V: bytes of "FileVideoIndexes" that follow (0xFFFFFFFF: no such stream)
//       V      the stream (cut at the end of the input)
//       4      A: bytes of "FileAudioIndexes" (0xFFFFFFFF: none), then the stream
//       rest   the FLV file that the stored positions point into
#include <algorithm>
#include <bit>
#include <cstdint>
#include <filesystem>
#include <string>

#include "flv/Manager.h"
#include "fuzz/FuzzSource.h"
#include "fuzz/FuzzSupport.h"
#include "fuzz/FuzzTargets.h"
#include "mediakit/MediaInterfaces.h"
#include "platform/Bstr.h"
#include "platform/Com.h"
#include "platform/MemoryStream.h"
#include "platform/TextConvert.h"

namespace {
constexpr std::uint32_t kNoStream = 0xFFFFFFFF;
constexpr std::uint8_t kOpenThroughSource = 0x80;
constexpr const wchar_t* kLongNames[] = {L"VideoCodecType", L"VideoWidth",     L"VideoHeight",
                                         L"VideoDateRate",  L"AudioCodecType", L"AudioDataRate"};
constexpr std::uint8_t kFrameRateFlag = 0x40;
constexpr std::size_t kSourceReadLimit = 8;

class Fields {
  public:
    Fields(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    std::uint64_t Number(std::size_t bytes) {
        std::uint64_t value = 0;
        for (std::size_t i = 0; i < bytes && position_ < size_; ++i) {
            value |= std::uint64_t{data_[position_++]} << (8 * i);
        }
        return value;
    }
    // Up to `count` bytes, fewer at the end of the input.
    std::string Bytes(std::uint64_t count) {
        const std::size_t taken = static_cast<std::size_t>(std::min<std::uint64_t>(count, Left()));
        std::string bytes(reinterpret_cast<const char*>(data_ + position_), taken);
        position_ += taken;
        return bytes;
    }
    std::size_t Left() const { return size_ - position_; }
    const std::uint8_t* Rest() const { return data_ + position_; }

  private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t position_ = 0;
};

void SetStream(IMediaParams* params, const wchar_t* name, const std::string& bytes) {
    ComPtr<IStream> stream;
    FUZZ_CHECK(CreateStreamOnHGlobal(nullptr, TRUE, stream.Put()) == S_OK);
    FUZZ_CHECK(stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), nullptr) == S_OK);
    FUZZ_CHECK(params->SetStream(Bstr(name).Get(), 0, 1, stream.Get()) == S_OK);
}

std::filesystem::path CacheFile(char kind) {
    return std::filesystem::path(UsePrivateFolders()) / "Veltrano" / "FileCache" /
           (std::string("zevflashfile-5-0-1-207-") + kind + "-stale.cache");
}

// The container saved as both cache files of the hash "stale"; FlashFile5 opens the file with
// that hash and reads what the stored index promises.
void OpenWithStaleCache(IMediaParams* container, const std::wstring& path) {
    for (const char kind : {'v', 'a'}) {
        std::filesystem::create_directories(CacheFile(kind).parent_path());
        const Bstr cachePath(Utf8ToWide(CacheFile(kind).string()));
        FUZZ_CHECK(container->SaveToFile(cachePath.Get()) == S_OK);
    }
    if (ComPtr<IMediaSource> source = OpenSource(path, L"stale")) {
        (void)ReadTracks(source.Get(), kSourceReadLimit);
        FUZZ_CHECK(source->SendCommandEx(3, nullptr, nullptr) == S_OK);
    }
    for (const char kind : {'v', 'a'}) std::filesystem::remove(CacheFile(kind));
}
}  // namespace

int FuzzStoredIndex(const std::uint8_t* data, std::size_t size) {
    static MemoryFile file;
    RegisterComponent();
    (void)UsePrivateFolders();

    Fields fields(data, size);
    const auto flags = static_cast<std::uint8_t>(fields.Number(1));
    ComPtr<IMediaParams> container;
    FUZZ_CHECK(CreateInstance(CLSID_MediaParams, container) == S_OK);
    for (std::size_t i = 0; i < std::size(kLongNames); ++i) {
        const auto value = static_cast<LONG>(static_cast<std::uint32_t>(fields.Number(4)));
        if (flags & (1u << i)) {
            FUZZ_CHECK(container->SetLong(Bstr(kLongNames[i]).Get(), -1, value) == S_OK);
        }
    }
    const std::uint64_t frameRateBits = fields.Number(8);
    if (flags & kFrameRateFlag) {
        FUZZ_CHECK(container->SetDouble(Bstr(L"VideoFrameRate").Get(), -1,
                                        std::bit_cast<double>(frameRateBits)) == S_OK);
    }
    for (const wchar_t* name : {L"FileVideoIndexes", L"FileAudioIndexes"}) {
        const auto length = static_cast<std::uint32_t>(fields.Number(4));
        if (length != kNoStream) SetStream(container.Get(), name, fields.Bytes(length));
    }
    file.Assign(fields.Rest(), fields.Left());

    CInputStream input;
    input.Open(file.Path());
    FUZZ_CHECK(input.IsOpen());
    CFLV_Manager manager;
    manager.BuildIndex(container.Get(), input);
    // Nothing is allocated for records that the streams do not hold.
    FUZZ_CHECK(manager.videoIndex.size() + manager.audioIndex.size() <= size / 36);
    FUZZ_CHECK(manager.facts.hasVideo == !manager.videoIndex.empty());
    manager.RefreshIndex(container.Get(), input);
    manager.RefreshIndex(nullptr, input);

    if (flags & kOpenThroughSource) OpenWithStaleCache(container.Get(), file.Path());
    return 0;
}
