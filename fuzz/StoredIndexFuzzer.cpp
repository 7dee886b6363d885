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
// The bytes of each index stream also stand as its configuration change stream
// ("FileVideoConfigChanges", "FileAudioConfigChanges"), whose positions point into the file.
#include <algorithm>
#include <bit>

#include "fuzz/FuzzSupport.h"
#include "platform/TextConvert.h"

namespace {
constexpr std::uint32_t kNoStream = 0xFFFFFFFF;
constexpr std::uint8_t kOpenThroughSource = 0x80;
constexpr std::uint8_t kFrameRateFlag = 0x40;
constexpr std::size_t kSourceReadLimit = 8;

// The input's fields in order; a field that the input does not reach is 0 (or cut short).
struct Fields {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t at = 0;

    std::uint64_t Number(std::size_t bytes) {
        std::uint64_t value = 0;
        for (std::size_t i = 0; i < bytes && at < size; ++i) {
            value |= std::uint64_t{data[at++]} << (8 * i);
        }
        return value;
    }
    std::string_view Bytes(std::uint64_t count) {
        const auto taken = static_cast<std::size_t>(std::min<std::uint64_t>(count, size - at));
        at += taken;
        return {reinterpret_cast<const char*>(data + at - taken), taken};
    }
};

// The container saved as both cache files of the hash "stale"; FlashFile5 opens the file with
// that hash and reads what the stored index promises.
void OpenWithStaleCache(IMediaParams* container, const std::wstring& path) {
    for (const char kind : {'v', 'a'}) {
        const std::filesystem::path cache = CacheFilePath(UsePrivateFolders(), kind, "stale");
        std::filesystem::create_directories(cache.parent_path());
        FUZZ_CHECK(container->SaveToFile(Bstr(Utf8ToWide(cache.string())).Get()) == S_OK);
    }
    (void)OpenAndRead(path, L"stale", kSourceReadLimit);
    for (const char kind : {'v', 'a'}) {
        std::filesystem::remove(CacheFilePath(UsePrivateFolders(), kind, "stale"));
    }
}
}  // namespace

int FuzzStoredIndex(const std::uint8_t* data, std::size_t size) {
    static MemoryFile file;
    RegisterComponent();

    Fields fields{data, size};
    const auto flags = static_cast<std::uint8_t>(fields.Number(1));
    ComPtr<IMediaParams> container = NewContainer();
    for (std::size_t i = 0; i < std::size(kStoredIndexLongNames); ++i) {
        const auto value = static_cast<LONG>(static_cast<std::uint32_t>(fields.Number(4)));
        if (flags & (1u << i)) {
            FUZZ_CHECK(container->SetLong(Bstr(kStoredIndexLongNames[i]).Get(), -1, value) == S_OK);
        }
    }
    const std::uint64_t frameRateBits = fields.Number(8);
    if (flags & kFrameRateFlag) {
        FUZZ_CHECK(container->SetDouble(Bstr(L"VideoFrameRate").Get(), -1,
                                        std::bit_cast<double>(frameRateBits)) == S_OK);
    }
    for (const auto& [name, changes] :
         {std::pair{L"FileVideoIndexes", L"FileVideoConfigChanges"},
          std::pair{L"FileAudioIndexes", L"FileAudioConfigChanges"}}) {
        const auto length = static_cast<std::uint32_t>(fields.Number(4));
        if (length != kNoStream) {
            const std::string_view bytes = fields.Bytes(length);
            FUZZ_CHECK(container->SetStream(Bstr(name).Get(), 0, 1, MemoryStreamOf(bytes).Get()) ==
                       S_OK);
            FUZZ_CHECK(container->SetStream(Bstr(changes).Get(), 0, 1,
                                            MemoryStreamOf(bytes).Get()) == S_OK);
        }
    }
    file.Assign(data + fields.at, size - fields.at);

    CInputStream input;
    file.Open(input);
    CFLV_Manager manager;
    manager.BuildIndex(container.Get(), input);
    // Nothing is allocated for records that the streams do not hold.
    FUZZ_CHECK(manager.videoIndex.size() + manager.audioIndex.size() <= size / 36);
    FUZZ_CHECK(manager.videoConfigChanges.size() + manager.audioConfigChanges.size() <= size / 16);
    FUZZ_CHECK(manager.facts.hasVideo == !manager.videoIndex.empty());
    manager.RefreshIndex(container.Get(), input);
    manager.RefreshIndex(nullptr, input);

    if (flags & kOpenThroughSource) OpenWithStaleCache(container.Get(), file.Path());
    return 0;
}
