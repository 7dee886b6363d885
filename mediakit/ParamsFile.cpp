#include "mediakit/ParamsFile.h"

#include <array>
#include <bit>
#include <cstring>
#include <limits>
#include <unordered_set>

#include "mediakit/StreamBytes.h"
#include "platform/TextConvert.h"

namespace mediakit {
namespace {

constexpr char kMagic[8] = {'M', 'K', 'P', 'A', 'R', 'A', 'M', 'S'};
constexpr std::size_t kVersionOffset = 8;
constexpr std::size_t kChecksumOffset = 12;
constexpr std::size_t kContentSizeOffset = 16;
// The smallest element is a bool (type and value byte); the smallest name entry has an empty
// name, one count and one such element.
constexpr std::size_t kMinElementSize = 2;
constexpr std::size_t kMinEntrySize = 4 + 4 + kMinElementSize;

// CRC-32 tables for eight bytes a step ("slicing by 8"): table[0] is the classic byte table, and
// table[k][n] is the CRC of byte n followed by k zero bytes. A cache file of an index with many
// entries runs to megabytes, and the byte-at-a-time loop was a large part of loading one.
constexpr std::array<std::array<std::uint32_t, 256>, 8> MakeCrcTables() {
    std::array<std::array<std::uint32_t, 256>, 8> tables{};
    for (std::uint32_t n = 0; n < 256; ++n) {
        std::uint32_t c = n;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        tables[0][n] = c;
    }
    for (std::size_t k = 1; k < 8; ++k) {
        for (std::uint32_t n = 0; n < 256; ++n) {
            const std::uint32_t previous = tables[k - 1][n];
            tables[k][n] = tables[0][previous & 0xFFu] ^ (previous >> 8);
        }
    }
    return tables;
}
constexpr auto kCrcTables = MakeCrcTables();

std::uint32_t Crc32(std::string_view bytes) {
    const auto& t = kCrcTables;
    std::uint32_t crc = 0xFFFFFFFFu;
    const auto* next = reinterpret_cast<const std::uint8_t*>(bytes.data());
    std::size_t left = bytes.size();
    for (; left >= 8; left -= 8, next += 8) {
        const std::uint32_t low =
            crc ^ (std::uint32_t{next[0]} | std::uint32_t{next[1]} << 8 |
                   std::uint32_t{next[2]} << 16 | std::uint32_t{next[3]} << 24);
        crc = t[7][low & 0xFFu] ^ t[6][(low >> 8) & 0xFFu] ^ t[5][(low >> 16) & 0xFFu] ^
              t[4][low >> 24] ^ t[3][next[4]] ^ t[2][next[5]] ^ t[1][next[6]] ^ t[0][next[7]];
    }
    for (; left > 0; --left, ++next) crc = t[0][(crc ^ *next) & 0xFFu] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

std::uint64_t LoadLittleEndian(std::string_view bytes, std::size_t offset, std::size_t size) {
    std::uint64_t value = 0;
    for (std::size_t i = size; i-- > 0;) {
        value = (value << 8) | static_cast<std::uint8_t>(bytes[offset + i]);
    }
    return value;
}

void StoreLittleEndian(std::string& bytes, std::size_t offset, std::uint64_t value,
                       std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) {
        bytes[offset + i] = static_cast<char>(value >> (8 * i));
    }
}

class Writer {
  public:
    explicit Writer(std::string& out) : out_(out) {}

    HRESULT List(const ParamList& list, int depth) {
        if (depth > kMaxParamsDepth) return E_FAIL;
        std::uint32_t saved = 0;
        for (const ParamEntry& entry : list) saved += SavedCount(entry) > 0 ? 1 : 0;
        Number(saved, 4);
        for (const ParamEntry& entry : list) {
            const std::uint32_t count = SavedCount(entry);
            if (count == 0) continue;
            HRESULT hr = Text(entry.name);
            if (FAILED(hr)) return hr;
            Number(count, 4);
            for (const ParamValue& value : entry.values) {
                if (TypeOf(value) == kParamUnknown) continue;
                hr = Element(value, depth);
                if (FAILED(hr)) return hr;
            }
        }
        return S_OK;
    }

  private:
    static std::uint32_t SavedCount(const ParamEntry& entry) {
        std::uint32_t count = 0;
        for (const ParamValue& value : entry.values) count += TypeOf(value) != kParamUnknown;
        return count;
    }

    void Number(std::uint64_t value, std::size_t size) {
        const std::size_t at = out_.size();
        out_.resize(at + size);
        StoreLittleEndian(out_, at, value, size);
    }

    HRESULT Text(const std::wstring& text) {
        const std::string utf8 = WideToUtf8(text);
        if (utf8.size() > std::numeric_limits<std::uint32_t>::max()) return E_OUTOFMEMORY;
        Number(utf8.size(), 4);
        out_ += utf8;
        return S_OK;
    }

    HRESULT Element(const ParamValue& value, int depth) {
        Number(static_cast<std::uint64_t>(TypeOf(value)), 1);
        if (const auto* flag = std::get_if<VARIANT_BOOL>(&value)) {
            Number(*flag != 0 ? 1 : 0, 1);
        } else if (const auto* number = std::get_if<LONG>(&value)) {
            Number(static_cast<std::uint32_t>(*number), 4);
        } else if (const auto* wide = std::get_if<ULONGLONG>(&value)) {
            Number(*wide, 8);
        } else if (const auto* real = std::get_if<double>(&value)) {
            Number(std::bit_cast<std::uint64_t>(*real), 8);
        } else if (const auto* text = std::get_if<std::wstring>(&value)) {
            return Text(*text);
        } else if (const auto* params = std::get_if<ComPtr<IMediaParams>>(&value)) {
            ParamList inner;
            const HRESULT hr = SnapshotParams(params->Get(), inner);
            return FAILED(hr) ? hr : List(inner, depth + 1);
        } else if (const auto* stream = std::get_if<ComPtr<IStream>>(&value)) {
            const std::size_t sizeAt = out_.size();
            Number(0, 8);
            const std::size_t start = out_.size();
            const std::uint64_t room =
                start < kMaxParamsFileBytes ? kMaxParamsFileBytes - start : 0;
            const HRESULT hr = AppendStreamContent(stream->Get(), out_, room);
            if (FAILED(hr)) return hr;
            StoreLittleEndian(out_, sizeAt, out_.size() - start, 8);
        }
        return S_OK;
    }

    std::string& out_;
};

class Reader {
  public:
    explicit Reader(std::string_view data) : data_(data) {}

    bool AtEnd() const { return position_ == data_.size(); }
    // Why the last read failed: damaged bytes, or an object that could not be made.
    HRESULT Failure() const { return failure_; }

    [[nodiscard]] bool List(ParamList& list, int depth) {
        if (depth > kMaxParamsDepth) return false;
        std::uint64_t names = 0;
        if (!Number(names, 4) || names > Left() / kMinEntrySize) return false;
        ParamList result;
        std::unordered_set<std::wstring> seen;
        for (std::uint64_t i = 0; i < names; ++i) {
            ParamEntry entry;
            std::uint64_t count = 0;
            if (!Text(entry.name) || !seen.insert(entry.name).second) return false;
            if (!Number(count, 4) || count == 0 || count > Left() / kMinElementSize) return false;
            for (std::uint64_t j = 0; j < count; ++j) {
                ParamValue value;
                if (!Element(value, depth)) return false;
                entry.values.push_back(std::move(value));
            }
            result.push_back(std::move(entry));
        }
        list = std::move(result);
        return true;
    }

  private:
    std::size_t Left() const { return data_.size() - position_; }

    [[nodiscard]] bool Bytes(std::uint64_t size, std::string_view& bytes) {
        if (size > Left()) return false;
        bytes = data_.substr(position_, static_cast<std::size_t>(size));
        position_ += static_cast<std::size_t>(size);
        return true;
    }

    [[nodiscard]] bool Number(std::uint64_t& value, std::size_t size) {
        std::string_view bytes;
        if (!Bytes(size, bytes)) return false;
        value = LoadLittleEndian(bytes, 0, size);
        return true;
    }

    [[nodiscard]] bool Text(std::wstring& text) {
        std::uint64_t size = 0;
        std::string_view bytes;
        if (!Number(size, 4) || !Bytes(size, bytes)) return false;
        text = Utf8ToWide(bytes);
        return true;
    }

    // Notes an object that could not be made; the read fails with its result.
    bool Fail(HRESULT hr) {
        failure_ = hr;
        return false;
    }

    [[nodiscard]] bool Element(ParamValue& value, int depth) {
        std::uint64_t type = 0;
        std::uint64_t number = 0;
        if (!Number(type, 1)) return false;
        switch (type) {
            case kParamBool:
                if (!Number(number, 1) || number > 1) return false;
                value.emplace<VARIANT_BOOL>(number != 0 ? VARIANT_TRUE : VARIANT_FALSE);
                return true;
            case kParamLong:
                if (!Number(number, 4)) return false;
                value.emplace<LONG>(static_cast<LONG>(static_cast<std::uint32_t>(number)));
                return true;
            case kParamUInt64:
                if (!Number(number, 8)) return false;
                value.emplace<ULONGLONG>(number);
                return true;
            case kParamDouble:
                if (!Number(number, 8)) return false;
                value.emplace<double>(std::bit_cast<double>(number));
                return true;
            case kParamString:
                return Text(value.emplace<std::wstring>());
            case kParamParams: {
                ParamList inner;
                if (!List(inner, depth + 1)) return false;
                const HRESULT hr =
                    CreateParams(std::move(inner), value.emplace<ComPtr<IMediaParams>>());
                return SUCCEEDED(hr) || Fail(hr);
            }
            case kParamStream: {
                std::string_view bytes;
                if (!Number(number, 8) || !Bytes(number, bytes)) return false;
                const HRESULT hr = CreateMemoryStream(bytes, value.emplace<ComPtr<IStream>>());
                return SUCCEEDED(hr) || Fail(hr);
            }
            default:
                return false;  // objects are never saved; anything else is unknown
        }
    }

    std::string_view data_;
    std::size_t position_ = 0;
    HRESULT failure_ = kParamsFileDamaged;
};

}  // namespace

HRESULT WriteParamsFile(const ParamList& list, std::string& bytes) {
    std::string out(kParamsFileHeaderSize, '\0');
    Writer writer(out);
    const HRESULT hr = writer.List(list, 0);
    if (FAILED(hr)) return hr;
    if (out.size() > kMaxParamsFileBytes) return E_OUTOFMEMORY;
    const std::string_view content = std::string_view(out).substr(kParamsFileHeaderSize);
    std::memcpy(out.data(), kMagic, sizeof kMagic);
    StoreLittleEndian(out, kVersionOffset, kParamsFileVersion, 4);
    StoreLittleEndian(out, kChecksumOffset, Crc32(content), 4);
    StoreLittleEndian(out, kContentSizeOffset, content.size(), 8);
    bytes = std::move(out);
    return S_OK;
}

bool ReadParamsFileHeader(std::string_view header, std::uint64_t& contentSize) {
    if (header.size() < kParamsFileHeaderSize) return false;
    if (std::memcmp(header.data(), kMagic, sizeof kMagic) != 0) return false;
    if (LoadLittleEndian(header, kVersionOffset, 4) != kParamsFileVersion) return false;
    const std::uint64_t size = LoadLittleEndian(header, kContentSizeOffset, 8);
    if (size > kMaxParamsFileBytes - kParamsFileHeaderSize) return false;
    contentSize = size;
    return true;
}

HRESULT ReadParamsFile(std::string_view bytes, ParamList& list) {
    std::uint64_t contentSize = 0;
    if (!ReadParamsFileHeader(bytes, contentSize)) return kParamsFileDamaged;
    const std::string_view content = bytes.substr(kParamsFileHeaderSize);
    if (content.size() != contentSize) return kParamsFileDamaged;
    if (Crc32(content) != LoadLittleEndian(bytes, kChecksumOffset, 4)) return kParamsFileDamaged;
    Reader reader(content);
    ParamList parsed;
    if (!reader.List(parsed, 0)) return reader.Failure();
    if (!reader.AtEnd()) return kParamsFileDamaged;
    list = std::move(parsed);
    return S_OK;
}

}  // namespace mediakit
