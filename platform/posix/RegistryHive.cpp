#include "platform/posix/RegistryHive.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "platform/File.h"
#include "platform/TextConvert.h"

namespace registry_detail {
namespace {
constexpr char kMagic[8] = {'Z', 'E', 'V', 'H', 'I', 'V', 'E', '\0'};
constexpr std::uint32_t kFormatVersion = 1;
constexpr std::size_t kHeaderSize = 16;
constexpr std::size_t kChecksumSize = 4;
// The smallest key record (name size, value count, subkey count) and value record (name size,
// type, data size): counts are checked against them before anything is read.
constexpr std::size_t kMinKeyRecord = 12;
constexpr std::size_t kMinValueRecord = 12;

wchar_t FoldCase(wchar_t c) noexcept {
    if (c >= L'a' && c <= L'z') return static_cast<wchar_t>(c - 0x20);
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<wchar_t>(c - 0x20);
    if (c == 0xFF) return 0x178;
    return c;
}

std::uint32_t Fnv1a(std::string_view bytes) noexcept {
    std::uint32_t hash = 2166136261u;
    for (unsigned char byte : bytes) {
        hash ^= byte;
        hash *= 16777619u;
    }
    return hash;
}

class HiveReader {
  public:
    explicit HiveReader(std::string_view bytes) : bytes_(bytes) {}

    std::size_t Left() const { return bytes_.size() - position_; }

    [[nodiscard]] bool U32(std::uint32_t& value) {
        std::string_view raw;
        if (!Bytes(4, raw)) return false;
        value = 0;
        for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(raw[i]);
        return true;
    }
    [[nodiscard]] bool Bytes(std::size_t count, std::string_view& out) {
        if (count > Left()) return false;
        out = bytes_.substr(position_, count);
        position_ += count;
        return true;
    }

  private:
    std::string_view bytes_;
    std::size_t position_ = 0;
};

// A name as stored: UTF-8 that converts back to exactly the same bytes, within `maxLength`
// characters, without a terminator; key names also without '\'.
[[nodiscard]] bool ReadName(HiveReader& reader, std::size_t maxLength, bool keyName,
                            std::wstring& name) {
    std::uint32_t size = 0;
    std::string_view bytes;
    if (!reader.U32(size) || !reader.Bytes(size, bytes)) return false;
    // A UTF-8 character takes at most 4 bytes, so a longer byte string cannot fit.
    if (bytes.size() > 4 * maxLength) return false;
    name = Utf8ToWide(bytes);
    if (name.size() > maxLength || WideToUtf8(name) != bytes) return false;
    if (name.find(L'\0') != std::wstring::npos) return false;
    return !keyName || name.find(L'\\') == std::wstring::npos;
}

[[nodiscard]] bool ReadKeyBody(HiveReader& reader, Key& key, std::uint32_t depth) {
    std::uint32_t valueCount = 0;
    if (!reader.U32(valueCount) || valueCount > reader.Left() / kMinValueRecord) return false;
    for (std::uint32_t i = 0; i < valueCount; ++i) {
        std::wstring name;
        Value value;
        std::uint32_t size = 0;
        std::string_view data;
        if (!ReadName(reader, kRegistryMaxValueNameLength, false, name) ||
            !reader.U32(value.type) || !reader.U32(size) || !reader.Bytes(size, data)) {
            return false;
        }
        value.data.assign(data);
        if (!key.values.emplace(std::move(name), std::move(value)).second) return false;
    }
    std::uint32_t subkeyCount = 0;
    if (!reader.U32(subkeyCount) || subkeyCount > reader.Left() / kMinKeyRecord) return false;
    if (subkeyCount > 0 && depth >= kRegistryMaxDepth) return false;
    for (std::uint32_t i = 0; i < subkeyCount; ++i) {
        std::wstring name;
        if (!ReadName(reader, kRegistryMaxKeyNameLength, true, name) || name.empty()) return false;
        auto child = std::make_unique<Key>();
        if (!ReadKeyBody(reader, *child, depth + 1)) return false;
        if (!key.subkeys.emplace(std::move(name), std::move(child)).second) return false;
    }
    return true;
}

void PutU32(std::string& out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

void PutBytes(std::string& out, std::string_view bytes) {
    PutU32(out, static_cast<std::uint32_t>(bytes.size()));
    out.append(bytes);
}

void WriteKeyBody(std::string& out, const Key& key) {
    PutU32(out, static_cast<std::uint32_t>(key.values.size()));
    for (const auto& [name, value] : key.values) {
        PutBytes(out, WideToUtf8(name));
        PutU32(out, value.type);
        PutBytes(out, value.data);
    }
    PutU32(out, static_cast<std::uint32_t>(key.subkeys.size()));
    for (const auto& [name, child] : key.subkeys) {
        PutBytes(out, WideToUtf8(name));
        WriteKeyBody(out, *child);
    }
}

LONG LoadHiveFile(const std::string& path, Key& root) {
    root.values.clear();
    root.subkeys.clear();
    if (path.empty()) return ERROR_SUCCESS;
    File file;
    if (!file.Open(Utf8ToWide(path), File::Mode::ReadShared)) {
        switch (file.LastError()) {
            case ERROR_FILE_NOT_FOUND:
            case ERROR_PATH_NOT_FOUND:
                return ERROR_SUCCESS;  // no hive yet: an empty one
            case ERROR_ACCESS_DENIED:
                return ERROR_ACCESS_DENIED;
            default:
                return ERROR_CANTREAD;
        }
    }
    std::uint64_t size = 0;
    if (!file.Size(size)) return ERROR_CANTREAD;
    if (size > kMaxHiveFileSize) return ERROR_BADDB;
    std::string bytes(static_cast<std::size_t>(size), '\0');
    std::size_t got = 0;
    if (!file.ReadAt(0, bytes.data(), bytes.size(), got)) return ERROR_CANTREAD;
    bytes.resize(got);
    if (!ParseHive(bytes, root)) {
        root.values.clear();
        root.subkeys.clear();
        return ERROR_BADDB;
    }
    return ERROR_SUCCESS;
}

// The writers' lock of one hive: "<hive>.lock" held with flock (released if the process dies).
class HiveLock {
  public:
    HiveLock() = default;
    HiveLock(const HiveLock&) = delete;
    HiveLock& operator=(const HiveLock&) = delete;
    ~HiveLock() {
        if (descriptor_ >= 0) ::close(descriptor_);  // closing releases the flock
    }

    LONG Acquire(const std::string& hivePath) {
        const std::string lockPath = hivePath + ".lock";
        descriptor_ = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (descriptor_ < 0) {
            return (errno == EACCES || errno == EPERM || errno == EROFS) ? ERROR_ACCESS_DENIED
                                                                         : ERROR_CANTWRITE;
        }
        while (::flock(descriptor_, LOCK_EX) != 0) {
            if (errno != EINTR) return ERROR_CANTWRITE;
        }
        return ERROR_SUCCESS;
    }

  private:
    int descriptor_ = -1;
};

std::string HomeFolder() {
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') return home;
    passwd entry{};
    passwd* found = nullptr;
    std::string buffer(16384, '\0');
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
        found != nullptr && found->pw_dir != nullptr && found->pw_dir[0] == '/') {
        return found->pw_dir;
    }
    return {};
}
}  // namespace

bool NameLess::operator()(std::wstring_view left, std::wstring_view right) const noexcept {
    const std::size_t common = std::min(left.size(), right.size());
    for (std::size_t i = 0; i < common; ++i) {
        const wchar_t a = FoldCase(left[i]);
        const wchar_t b = FoldCase(right[i]);
        if (a != b) return a < b;
    }
    return left.size() < right.size();
}

bool NamesEqual(std::wstring_view left, std::wstring_view right) noexcept {
    return !NameLess{}(left, right) && !NameLess{}(right, left);
}

std::string HiveFilePath(Hive hive) {
    const char* variable = hive == Hive::Machine ? "ZEV_REGISTRY_MACHINE" : "ZEV_REGISTRY_USER";
    const char* chosen = std::getenv(variable);
    if (chosen != nullptr && chosen[0] != '\0') return chosen;
    if (hive == Hive::Machine) return "/var/lib/zev-registry/machine.reg";
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config != nullptr && config[0] == '/')
        return std::string(config) + "/zev-registry/user.reg";
    const std::string home = HomeFolder();
    return home.empty() ? std::string() : home + "/.config/zev-registry/user.reg";
}

Key* FindKey(Key& root, const KeyPath& path) noexcept {
    Key* key = &root;
    for (const std::wstring& name : path) {
        auto it = key->subkeys.find(name);
        if (it == key->subkeys.end()) return nullptr;
        key = it->second.get();
    }
    return key;
}

bool ParseHive(std::string_view bytes, Key& root) {
    HiveReader reader(bytes);
    std::string_view magic;
    std::uint32_t version = 0;
    std::uint32_t payloadSize = 0;
    if (!reader.Bytes(sizeof(kMagic), magic) || magic != std::string_view(kMagic, sizeof(kMagic)) ||
        !reader.U32(version) || version != kFormatVersion || !reader.U32(payloadSize) ||
        reader.Left() < kChecksumSize || payloadSize != reader.Left() - kChecksumSize) {
        return false;
    }
    const std::string_view payload = bytes.substr(kHeaderSize, payloadSize);
    HiveReader trailer(bytes.substr(kHeaderSize + payloadSize));
    std::uint32_t checksum = 0;
    if (!trailer.U32(checksum) || checksum != Fnv1a(payload)) return false;

    HiveReader body(payload);
    std::uint32_t rootNameSize = 0;
    if (!body.U32(rootNameSize) || rootNameSize != 0) return false;
    return ReadKeyBody(body, root, 0) && body.Left() == 0;
}

std::string SerializeHive(const Key& root) {
    std::string payload;
    PutU32(payload, 0);  // the root's name is empty
    WriteKeyBody(payload, root);
    std::string out(kMagic, sizeof(kMagic));
    PutU32(out, kFormatVersion);
    PutU32(out, static_cast<std::uint32_t>(payload.size()));
    out += payload;
    PutU32(out, Fnv1a(payload));
    return out;
}

LONG LoadHive(Hive hive, Key& root) {
    return LoadHiveFile(HiveFilePath(hive), root);
}

LONG ModifyHive(Hive hive, const HiveChange& change) {
    const std::string path = HiveFilePath(hive);
    if (path.empty()) return ERROR_CANTWRITE;
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    if (!folder.empty()) {
        std::error_code ignored;  // a folder that cannot be made fails at the lock below
        std::filesystem::create_directories(folder, ignored);
    }
    HiveLock lock;
    LONG result = lock.Acquire(path);
    if (result != ERROR_SUCCESS) return result;
    Key root;
    result = LoadHiveFile(path, root);
    if (result != ERROR_SUCCESS) return result;
    bool changed = false;
    result = change(root, changed);
    if (result != ERROR_SUCCESS || !changed) return result;
    const std::string bytes = SerializeHive(root);
    if (bytes.size() > kMaxHiveFileSize) return ERROR_CANTWRITE;
    if (!ReplaceFileAtomically(Utf8ToWide(path), bytes.data(), bytes.size())) {
        return ERROR_CANTWRITE;
    }
    return ERROR_SUCCESS;
}

}  // namespace registry_detail
