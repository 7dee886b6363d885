// fuzz_params: MediaParams::LoadFromFile, the file form of the parameter container in which the
// index cache is kept, through the container's COM interface.
//
// The input is the file. Its checksum field is set to the checksum of its content before the
// file is written (a fuzzer cannot find checksums), so that the bytes behind the header are
// what gets exercised; the check of the checksum itself is plain code the unit tests cover.
//
// The load must give S_OK, HRESULT_FROM_WIN32(ERROR_INVALID_DATA) or E_OUTOFMEMORY. A loaded
// container is saved to a stream, loaded from it again and saved again: both saves must be the
// same bytes. It is then handed to CFLV_Manager as a stored index, as a cache file is.
#include <zlib.h>

#include "fuzz/FuzzSupport.h"
#include "mediakit/ParamsFile.h"

namespace {
constexpr std::size_t kChecksumOffset = 12;

std::string Saved(IMediaParams* params) {
    const ComPtr<IStream> stream = MemoryStreamOf({});
    FUZZ_CHECK(params->SaveToStream(stream.Get()) == S_OK);
    return StreamBytes(stream.Get());
}
}  // namespace

int FuzzParams(const std::uint8_t* data, std::size_t size) {
    static MemoryFile file;
    std::vector<std::uint8_t> bytes(data, data + size);
    if (size >= mediakit::kParamsFileHeaderSize) {
        const uLong checksum = crc32(0, bytes.data() + mediakit::kParamsFileHeaderSize,
                                     static_cast<uInt>(size - mediakit::kParamsFileHeaderSize));
        for (std::size_t i = 0; i < 4; ++i) {
            bytes[kChecksumOffset + i] = static_cast<std::uint8_t>(checksum >> (8 * i));
        }
    }
    file.Assign(bytes.data(), bytes.size());

    ComPtr<IMediaParams> loaded = NewContainer();
    const HRESULT hr = loaded->LoadFromFile(Bstr(file.Path()).Get());
    FUZZ_CHECK(hr == S_OK || hr == mediakit::kParamsFileDamaged || hr == E_OUTOFMEMORY);
    if (hr != S_OK) {
        LONG names = -1;
        FUZZ_CHECK(loaded->GetNameCount(&names) == S_OK && names == 0);
        return 0;
    }

    const std::string first = Saved(loaded.Get());
    ComPtr<IMediaParams> again = NewContainer();
    FUZZ_CHECK(again->LoadFromStream(MemoryStreamOf(first).Get()) == S_OK);
    FUZZ_CHECK(Saved(again.Get()) == first);

    // A cache file's content, given to the manager as its stored index. The input stream is
    // not open: the audio format, read from the file, is not found.
    CInputStream noFile;
    CFLV_Manager manager;
    manager.BuildIndex(loaded.Get(), noFile);
    manager.RefreshIndex(loaded.Get(), noFile);
    return 0;
}
