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

#include <cstdint>
#include <string>
#include <vector>

#include "flv/Manager.h"
#include "fuzz/FuzzSupport.h"
#include "fuzz/FuzzTargets.h"
#include "mediakit/MediaInterfaces.h"
#include "mediakit/ParamsFile.h"
#include "platform/Bstr.h"
#include "platform/Com.h"
#include "platform/MemoryStream.h"

namespace {
constexpr std::size_t kChecksumOffset = 12;

std::string Saved(IMediaParams* params) {
    ComPtr<IStream> stream;
    FUZZ_CHECK(CreateStreamOnHGlobal(nullptr, TRUE, stream.Put()) == S_OK);
    FUZZ_CHECK(params->SaveToStream(stream.Get()) == S_OK);
    ULARGE_INTEGER end{};
    FUZZ_CHECK(stream->Seek(LARGE_INTEGER{0}, STREAM_SEEK_END, &end) == S_OK);
    FUZZ_CHECK(stream->Seek(LARGE_INTEGER{0}, STREAM_SEEK_SET, nullptr) == S_OK);
    std::string bytes(end.QuadPart, '\0');
    ULONG read = 0;
    FUZZ_CHECK(stream->Read(bytes.data(), static_cast<ULONG>(bytes.size()), &read) == S_OK);
    FUZZ_CHECK(read == bytes.size());
    return bytes;
}

ComPtr<IMediaParams> NewParams() {
    ComPtr<IMediaParams> params;
    FUZZ_CHECK(CreateInstance(CLSID_MediaParams, params) == S_OK);
    return params;
}
}  // namespace

int FuzzParams(const std::uint8_t* data, std::size_t size) {
    static MemoryFile file;
    RegisterMediaKit();
    std::vector<std::uint8_t> bytes(data, data + size);
    if (size >= mediakit::kParamsFileHeaderSize) {
        const uLong checksum = crc32(0, bytes.data() + mediakit::kParamsFileHeaderSize,
                                     static_cast<uInt>(size - mediakit::kParamsFileHeaderSize));
        for (std::size_t i = 0; i < 4; ++i) {
            bytes[kChecksumOffset + i] = static_cast<std::uint8_t>(checksum >> (8 * i));
        }
    }
    file.Assign(bytes.data(), bytes.size());

    ComPtr<IMediaParams> loaded = NewParams();
    const HRESULT hr = loaded->LoadFromFile(Bstr(file.Path()).Get());
    FUZZ_CHECK(hr == S_OK || hr == mediakit::kParamsFileDamaged || hr == E_OUTOFMEMORY);
    if (hr != S_OK) {
        LONG names = -1;
        FUZZ_CHECK(loaded->GetNameCount(&names) == S_OK && names == 0);
        return 0;
    }

    const std::string first = Saved(loaded.Get());
    ComPtr<IStream> stream;
    FUZZ_CHECK(CreateStreamOnHGlobal(nullptr, TRUE, stream.Put()) == S_OK);
    FUZZ_CHECK(stream->Write(first.data(), static_cast<ULONG>(first.size()), nullptr) == S_OK);
    FUZZ_CHECK(stream->Seek(LARGE_INTEGER{0}, STREAM_SEEK_SET, nullptr) == S_OK);
    ComPtr<IMediaParams> again = NewParams();
    FUZZ_CHECK(again->LoadFromStream(stream.Get()) == S_OK);
    FUZZ_CHECK(Saved(again.Get()) == first);

    // A cache file's content, given to the manager as its stored index. The input stream is
    // not open: the audio format, read from the file, is not found.
    CInputStream noFile;
    CFLV_Manager manager;
    manager.BuildIndex(loaded.Get(), noFile);
    manager.RefreshIndex(loaded.Get(), noFile);
    return 0;
}
