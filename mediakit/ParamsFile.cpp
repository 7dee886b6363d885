#include "mediakit/ParamsFile.h"

#include <bit>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <unordered_set>
#include <utility>
#include <vector>

#include "mediakit/Crc32.h"
#include "mediakit/FileRangeStream.h"
#include "mediakit/StreamBytes.h"
#include "platform/File.h"
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

// The header's content size and version (1 or 2); false when the header is not one of ours.
bool ReadHeader(std::string_view header, std::uint64_t& contentSize, LONG& version) {
    if (header.size() < kParamsFileHeaderSize) return false;
    if (std::memcmp(header.data(), kMagic, sizeof kMagic) != 0) return false;
    const std::uint64_t stated = LoadLittleEndian(header, kVersionOffset, 4);
    if (stated != 1 && stated != kParamsFileVersion) return false;
    const std::uint64_t size = LoadLittleEndian(header, kContentSizeOffset, 8);
    if (size > kMaxParamsFileBytes - kParamsFileHeaderSize) return false;
    contentSize = size;
    version = static_cast<LONG>(stated);
    return true;
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

    // The checksum of the header: every byte written from `from` on, except the bytes of large
    // streams.
    std::uint32_t Checksum(std::size_t from) const {
        std::uint32_t state = kCrc32Start;
        for (const auto& [start, end] : CheckedStretches(from)) {
            state = Crc32Update(state, out_.data() + start, end - start);
        }
        return Crc32Final(state);
    }

  private:
    static std::uint32_t SavedCount(const ParamEntry& entry) {
        std::uint32_t count = 0;
        for (const ParamValue& value : entry.values) count += TypeOf(value) != kParamUnknown;
        return count;
    }

    // The stretches of out_ from `from` on that lie between large stream bodies.
    std::vector<std::pair<std::size_t, std::size_t>> CheckedStretches(std::size_t from) const {
        std::vector<std::pair<std::size_t, std::size_t>> checked;
        for (const auto& [start, end] : largeBodies_) {
            checked.emplace_back(from, start);
            from = end;
        }
        checked.emplace_back(from, out_.size());
        return checked;
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
            // The size, room for a checksum, then the content; the room goes again when the
            // content turns out small.
            const std::size_t sizeAt = out_.size();
            Number(0, 8);
            Number(0, 4);
            const std::size_t start = out_.size();
            const std::uint64_t room =
                start < kMaxParamsFileBytes ? kMaxParamsFileBytes - start : 0;
            const HRESULT hr = AppendStreamContent(stream->Get(), out_, room);
            if (FAILED(hr)) return hr;
            const std::size_t size = out_.size() - start;
            StoreLittleEndian(out_, sizeAt, size, 8);
            if (size < kLargeStreamBytes) {
                out_.erase(start - 4, 4);
            } else {
                StoreLittleEndian(out_, start - 4, Crc32({out_.data() + start, size}), 4);
                largeBodies_.emplace_back(start, out_.size());
            }
        }
        return S_OK;
    }

    std::string& out_;
    // Where the bodies of large streams lie in out_, in order.
    std::vector<std::pair<std::size_t, std::size_t>> largeBodies_;
};

// Where a reader takes the content of a file from, strictly in order: views of the next bytes,
// and stream elements. The bytes taken go into the checksum (Checksum()), except the bodies of
// large streams of a version 2 file, which carry their own.
class ContentSource {
  public:
    explicit ContentSource(LONG version) : version_(version) {}
    virtual ~ContentSource() = default;
    // Content bytes not yet taken.
    virtual std::uint64_t Left() const = 0;
    // The next `size` bytes as one view, valid until the next call; false when fewer are left or
    // they cannot be read.
    [[nodiscard]] bool Take(std::uint64_t size, std::string_view& bytes) {
        if (!View(size, bytes)) return false;
        crc_ = Crc32Update(crc_, bytes.data(), bytes.size());
        return true;
    }
    // The next `size` bytes as a stream element; in a version 2 file, one of kLargeStreamBytes
    // or more is preceded by its checksum `bodyChecksum`, already taken.
    virtual HRESULT TakeStream(std::uint64_t size, std::uint32_t bodyChecksum,
                               ComPtr<IStream>& stream) = 0;
    // Why the last Take or TakeStream failed: damaged content, or the file could not be read.
    HRESULT Failure() const { return failure_; }
    std::uint32_t Checksum() const { return Crc32Final(crc_); }
    // Whether a stream of `size` bytes carries its own checksum.
    bool SeparatelyChecked(std::uint64_t size) const {
        return version_ >= 2 && size >= kLargeStreamBytes;
    }

  protected:
    // The next `size` bytes, without the checksum.
    [[nodiscard]] virtual bool View(std::uint64_t size, std::string_view& bytes) = 0;

    HRESULT failure_ = kParamsFileDamaged;

  private:
    LONG version_;
    std::uint32_t crc_ = kCrc32Start;
};

// Content held in memory; stream elements become memory streams with a copy of their bytes, and
// a large one's own checksum is checked at once.
class MemorySource final : public ContentSource {
  public:
    MemorySource(std::string_view content, LONG version)
        : ContentSource(version), content_(content) {}
    std::uint64_t Left() const override { return content_.size() - position_; }
    HRESULT TakeStream(std::uint64_t size, std::uint32_t bodyChecksum,
                       ComPtr<IStream>& stream) override {
        std::string_view bytes;
        if (SeparatelyChecked(size)) {
            if (!View(size, bytes) || Crc32(bytes) != bodyChecksum) return kParamsFileDamaged;
        } else if (!Take(size, bytes)) {
            return kParamsFileDamaged;
        }
        return CreateMemoryStream(bytes, stream);
    }

  private:
    bool View(std::uint64_t size, std::string_view& bytes) override {
        if (size > Left()) return false;
        bytes = content_.substr(position_, static_cast<std::size_t>(size));
        position_ += static_cast<std::size_t>(size);
        return true;
    }

    std::string_view content_;
    std::size_t position_ = 0;
};

// Content read from a file a block (256 KiB) at a time. Streams of kLargeStreamBytes or more are
// not held: they become streams over their range of the file, which stays open for them; in a
// version 2 file their bodies are not even read here (they check themselves when read), in a
// version 1 file they pass through the buffer for the file's checksum. So loading a file of large
// streams needs memory for one block, not for the file.
class FileSource final : public ContentSource {
  public:
    static constexpr std::size_t kBlock = std::size_t{1} << 18;

    FileSource(std::shared_ptr<const File> file, LONG version, std::uint64_t offset,
               std::uint64_t size)
        : ContentSource(version), file_(std::move(file)), nextRead_(offset), left_(size) {}

    std::uint64_t Left() const override { return left_; }

    HRESULT TakeStream(std::uint64_t size, std::uint32_t bodyChecksum,
                       ComPtr<IStream>& stream) override {
        std::string_view bytes;
        if (size < kLargeStreamBytes) {
            if (!Take(size, bytes)) return failure_;
            return CreateMemoryStream(bytes, stream);
        }
        if (size > left_) return kParamsFileDamaged;
        const std::uint64_t start = nextRead_ - (end_ - begin_);
        if (SeparatelyChecked(size)) {
            // Passed over: what the buffer holds of it is dropped, the rest is not read.
            const auto buffered =
                static_cast<std::size_t>(std::min<std::uint64_t>(size, end_ - begin_));
            begin_ += buffered;
            left_ -= size;
            nextRead_ += size - buffered;
            return CreateFileRangeStream(file_, start, size, bodyChecksum, stream);
        }
        for (std::uint64_t rest = size; rest > 0;) {
            const auto piece = std::min<std::uint64_t>(rest, kBlock);
            if (!Take(piece, bytes)) return failure_;
            rest -= piece;
        }
        return CreateFileRangeStream(file_, start, size, std::nullopt, stream);
    }

  private:
    bool View(std::uint64_t size, std::string_view& bytes) override {
        if (size > left_) return false;
        if (size > end_ - begin_ && !Fill(static_cast<std::size_t>(size))) return false;
        bytes = std::string_view(buffer_.get() + begin_, static_cast<std::size_t>(size));
        begin_ += static_cast<std::size_t>(size);
        left_ -= size;
        return true;
    }

    // Makes at least `need` unread bytes contiguous in the buffer, reading a block (or what is
    // left of the content, or `need` when that is more).
    bool Fill(std::size_t need) {
        const std::size_t kept = end_ - begin_;
        if (begin_ > 0) {
            std::memmove(buffer_.get(), buffer_.get() + begin_, kept);
            begin_ = 0;
            end_ = kept;
        }
        const auto unread = static_cast<std::size_t>(left_ - kept);
        const std::size_t want = std::min(unread, std::max(need - kept, kBlock));
        if (capacity_ < kept + want) {
            // A larger buffer keeps the unread bytes; it is not cleared, as every byte used is
            // read into it first.
            std::unique_ptr<char[]> larger(new char[kept + want]);
            if (kept > 0) std::memcpy(larger.get(), buffer_.get(), kept);
            buffer_ = std::move(larger);
            capacity_ = kept + want;
        }
        std::size_t got = 0;
        if (!file_->ReadAt(nextRead_, buffer_.get() + kept, want, got)) {
            failure_ = kParamsFileUnreadable;
            return false;
        }
        nextRead_ += got;
        end_ = kept + got;
        // A file cut short under the reader: its content is not whole.
        return got == want;
    }

    std::shared_ptr<const File> file_;
    std::unique_ptr<char[]> buffer_;
    std::size_t capacity_ = 0;
    std::size_t begin_ = 0;  // unread bytes in the buffer: [begin_, end_)
    std::size_t end_ = 0;
    std::uint64_t nextRead_;  // file offset of the first byte not yet in the buffer
    std::uint64_t left_;      // content bytes not yet taken
};

class Reader {
  public:
    explicit Reader(ContentSource& source) : source_(source) {}

    bool AtEnd() const { return source_.Left() == 0; }
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
    std::uint64_t Left() const { return source_.Left(); }

    [[nodiscard]] bool Number(std::uint64_t& value, std::size_t size) {
        std::string_view bytes;
        if (!source_.Take(size, bytes)) return false;
        value = LoadLittleEndian(bytes, 0, size);
        return true;
    }

    [[nodiscard]] bool Text(std::wstring& text) {
        std::uint64_t size = 0;
        std::string_view bytes;
        if (!Number(size, 4) || !source_.Take(size, bytes)) return false;
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
                std::uint64_t checksum = 0;
                if (!Number(number, 8) || number > Left()) return false;
                if (source_.SeparatelyChecked(number) && !Number(checksum, 4)) return false;
                if (number > Left()) return false;
                const HRESULT hr = source_.TakeStream(number, static_cast<std::uint32_t>(checksum),
                                                      value.emplace<ComPtr<IStream>>());
                return SUCCEEDED(hr) || (hr != kParamsFileDamaged && Fail(hr));
            }
            default:
                return false;  // objects are never saved; anything else is unknown
        }
    }

    ContentSource& source_;
    HRESULT failure_ = kParamsFileDamaged;
};

}  // namespace

HRESULT WriteParamsFile(const ParamList& list, std::string& bytes) {
    std::string out(kParamsFileHeaderSize, '\0');
    Writer writer(out);
    const HRESULT hr = writer.List(list, 0);
    if (FAILED(hr)) return hr;
    if (out.size() > kMaxParamsFileBytes) return E_OUTOFMEMORY;
    std::memcpy(out.data(), kMagic, sizeof kMagic);
    StoreLittleEndian(out, kVersionOffset, kParamsFileVersion, 4);
    StoreLittleEndian(out, kChecksumOffset, writer.Checksum(kParamsFileHeaderSize), 4);
    StoreLittleEndian(out, kContentSizeOffset, out.size() - kParamsFileHeaderSize, 8);
    bytes = std::move(out);
    return S_OK;
}

bool ReadParamsFileHeader(std::string_view header, std::uint64_t& contentSize) {
    LONG version = 0;
    return ReadHeader(header, contentSize, version);
}

HRESULT ReadParamsFile(std::string_view bytes, ParamList& list) {
    std::uint64_t contentSize = 0;
    LONG version = 0;
    if (!ReadHeader(bytes, contentSize, version)) return kParamsFileDamaged;
    const std::string_view content = bytes.substr(kParamsFileHeaderSize);
    if (content.size() != contentSize) return kParamsFileDamaged;
    MemorySource source(content, version);
    Reader reader(source);
    ParamList parsed;
    if (!reader.List(parsed, 0)) return reader.Failure();
    if (!reader.AtEnd() || source.Checksum() != LoadLittleEndian(bytes, kChecksumOffset, 4)) {
        return kParamsFileDamaged;
    }
    list = std::move(parsed);
    return S_OK;
}

HRESULT LoadParamsFile(std::wstring_view path, ParamList& list) {
    auto file = std::make_shared<File>();
    std::uint64_t size = 0;
    if (!file->Open(path, File::Mode::ReadShared) || !file->Size(size)) {
        return kParamsFileUnreadable;
    }
    if (size > kMaxParamsFileBytes) return kParamsFileUnreadable;
    char header[kParamsFileHeaderSize];
    std::size_t got = 0;
    if (!file->ReadAt(0, header, sizeof header, got)) return kParamsFileUnreadable;
    std::uint64_t contentSize = 0;
    LONG version = 0;
    const std::string_view headerBytes(header, got);
    if (!ReadHeader(headerBytes, contentSize, version) ||
        size != kParamsFileHeaderSize + contentSize) {
        return kParamsFileDamaged;
    }
    const std::uint64_t expected = LoadLittleEndian(headerBytes, kChecksumOffset, 4);
    FileSource source(file, version, kParamsFileHeaderSize, contentSize);
    Reader reader(source);
    ParamList parsed;
    // Nothing read is kept unless the checksum, taken over every byte on the way, matches.
    if (!reader.List(parsed, 0)) {
        return reader.Failure() != kParamsFileDamaged ? reader.Failure() : source.Failure();
    }
    if (!reader.AtEnd() || source.Checksum() != expected) return kParamsFileDamaged;
    list = std::move(parsed);
    return S_OK;
}

}  // namespace mediakit
