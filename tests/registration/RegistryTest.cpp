// The registry API against Windows semantics (exact results), the merged HKEY_CLASSES_ROOT
// view, concurrent writers, and damaged hive files.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

#include "platform/Registry.h"
#include "tests/support/TempRegistry.h"

namespace {
UniqueRegistryKey Create(HKEY parent, const wchar_t* path) {
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExW(parent, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              LONG{ERROR_SUCCESS});
    return UniqueRegistryKey(key);
}

UniqueRegistryKey Open(HKEY parent, const wchar_t* path, REGSAM access = KEY_ALL_ACCESS) {
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExW(parent, path, 0, access, &key), LONG{ERROR_SUCCESS});
    return UniqueRegistryKey(key);
}

// Sets a string value through `key` itself, so that the handle's rights apply.
LONG SetString(HKEY key, const wchar_t* name, const std::wstring& value) {
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

std::string ReadBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteBytes(const std::filesystem::path& path, const std::string& bytes) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

class RegistryTest : public testing::Test {
  protected:
    TempRegistry registry_;
};

TEST_F(RegistryTest, FailuresGiveTheWindowsResults) {
    UniqueRegistryKey present = Create(HKEY_CURRENT_USER, L"Software\\Present");
    Create(present.get(), L"Child");
    UniqueRegistryKey reader = Open(HKEY_CURRENT_USER, L"Software\\Present", KEY_READ);
    UniqueRegistryKey setter = Open(HKEY_CURRENT_USER, L"Software\\Present", KEY_SET_VALUE);
    ASSERT_EQ(SetString(setter.get(), L"x", L"y"), LONG{ERROR_SUCCESS});
    HKEY key = nullptr;
    DWORD size = 0, length = 4;
    wchar_t name[4];
    const auto create = [&](HKEY parent, const std::wstring& path) {  // every one fails
        return RegCreateKeyExW(parent, path.c_str(), 0, nullptr, 0, 0, nullptr, &key, nullptr);
    };
    std::wstring tooDeep;
    for (DWORD i = 0; i <= kRegistryMaxDepth; ++i) tooDeep += L"d\\";
    const LONG missing = LONG{ERROR_FILE_NOT_FOUND};
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Missing", 0, KEY_READ, &key), missing);
    EXPECT_EQ(RegQueryValueExW(present.get(), nullptr, nullptr, nullptr, nullptr, &size),
              missing);  // a default value never set
    EXPECT_EQ(RegDeleteValueW(present.get(), L"absent"), missing);
    EXPECT_EQ(create(HKEY_CURRENT_USER, L"\\Lead"), LONG{ERROR_BAD_PATHNAME});
    EXPECT_EQ(create(HKEY_CURRENT_USER, std::wstring(256, L'k')), LONG{ERROR_INVALID_PARAMETER});
    EXPECT_EQ(create(HKEY_LOCAL_MACHINE, tooDeep), LONG{ERROR_INVALID_PARAMETER});
    EXPECT_EQ(SetString(reinterpret_cast<HKEY>(0xDEAD0), L"x", L"y"), LONG{ERROR_INVALID_HANDLE});
    // Rights of the handle: set and delete values, query values, enumerate subkeys.
    EXPECT_EQ(SetString(reader.get(), L"x", L"y"), LONG{ERROR_ACCESS_DENIED});
    EXPECT_EQ(RegDeleteValueW(reader.get(), L"x"), LONG{ERROR_ACCESS_DENIED});
    EXPECT_EQ(RegQueryValueExW(setter.get(), L"x", nullptr, nullptr, nullptr, &size),
              LONG{ERROR_ACCESS_DENIED});
    EXPECT_EQ(RegEnumKeyExW(setter.get(), 0, name, &length, nullptr, nullptr, nullptr, nullptr),
              LONG{ERROR_ACCESS_DENIED});
    EXPECT_EQ(RegDeleteKeyW(present.get(), L""), LONG{ERROR_ACCESS_DENIED});      // has subkeys
    EXPECT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, L""), LONG{ERROR_ACCESS_DENIED});  // a root
    // Looking created nothing, and the machine hive was never written.
    EXPECT_FALSE(RegistryKeyExists(HKEY_CURRENT_USER, L"Software\\Missing"));
    EXPECT_FALSE(std::filesystem::exists(registry_.MachineHive()));
}

TEST_F(RegistryTest, KeysAndValuesFollowWindowsRules) {
    UniqueRegistryKey key = Create(HKEY_CURRENT_USER, L"SOFTWARE\\vendor\\Clé\\");
    // Names compare without case (Latin-1 too) and keep the case they were created with.
    EXPECT_EQ(RegistrySubkeyNames(HKEY_CURRENT_USER, L"software\\VENDOR"),
              std::vector<std::wstring>{L"Clé"});
    ASSERT_EQ(SetString(key.get(), L"Name", L"first"), LONG{ERROR_SUCCESS});
    ASSERT_EQ(SetString(key.get(), L"NAME", L"second"), LONG{ERROR_SUCCESS});  // same value
    EXPECT_EQ(RegistryString(HKEY_CURRENT_USER, L"Software\\Vendor\\CLÉ", L"name"), L"second");
    wchar_t small[3] = {L'a', L'b', L'c'};
    DWORD size = sizeof(small);
    EXPECT_EQ(RegQueryValueExW(key.get(), L"name", nullptr, nullptr, reinterpret_cast<BYTE*>(small),
                               &size),
              LONG{ERROR_MORE_DATA});
    EXPECT_EQ(size, 7 * sizeof(wchar_t));  // "second" and its terminator
    EXPECT_EQ(small[0], L'a');             // nothing written into a buffer that is too small
    // A closed handle stays closed.
    HKEY closed = Open(HKEY_CURRENT_USER, L"Software").release();
    EXPECT_EQ(RegCloseKey(closed), LONG{ERROR_SUCCESS});
    EXPECT_EQ(RegCloseKey(closed), LONG{ERROR_INVALID_HANDLE});
    // A key deleted through its own handle: the handle stays valid but reaches nothing.
    EXPECT_EQ(RegDeleteKeyW(key.get(), L""), LONG{ERROR_SUCCESS});
    EXPECT_EQ(SetString(key.get(), L"x", L"y"), LONG{ERROR_KEY_DELETED});
}

TEST_F(RegistryTest, ClassesRootMergesUserClassesOverMachineClasses) {
    UniqueRegistryKey machine = Create(HKEY_LOCAL_MACHINE, L"Software\\Classes\\Shared");
    ASSERT_EQ(SetString(machine.get(), nullptr, L"machine"), LONG{ERROR_SUCCESS});
    Create(machine.get(), L"X");
    Create(machine.get(), L"Y");
    UniqueRegistryKey user = Create(HKEY_CURRENT_USER, L"Software\\Classes\\Shared");
    ASSERT_EQ(SetString(user.get(), nullptr, L"user"), LONG{ERROR_SUCCESS});
    Create(user.get(), L"y");
    Create(user.get(), L"Z");

    EXPECT_EQ(RegistryString(HKEY_CLASSES_ROOT, L"Shared"), L"user");
    UniqueRegistryKey merged = Open(HKEY_CLASSES_ROOT, L"Shared");
    EXPECT_EQ(RegistrySubkeyNames(merged.get(), nullptr),
              (std::vector<std::wstring>{L"X", L"y", L"Z"}));

    // Values go where the merged key reads them from: the user's key when there is one.
    ASSERT_EQ(SetString(merged.get(), L"Written", L"1"), LONG{ERROR_SUCCESS});
    EXPECT_EQ(RegistryString(HKEY_CURRENT_USER, L"Software\\Classes\\Shared", L"Written"), L"1");
    EXPECT_EQ(RegistryString(HKEY_LOCAL_MACHINE, L"Software\\Classes\\Shared", L"Written"),
              std::nullopt);
    // New keys go to the machine.
    Create(HKEY_CLASSES_ROOT, L"Shared\\Fresh");
    EXPECT_TRUE(RegistryKeyExists(HKEY_LOCAL_MACHINE, L"Software\\Classes\\Shared\\Fresh"));
    EXPECT_FALSE(RegistryKeyExists(HKEY_CURRENT_USER, L"Software\\Classes\\Shared\\Fresh"));
    // Deleting through the merged view removes the user's key and uncovers the machine's.
    EXPECT_EQ(RegDeleteTreeW(HKEY_CLASSES_ROOT, L"Shared"), LONG{ERROR_SUCCESS});
    EXPECT_EQ(RegistryString(HKEY_CLASSES_ROOT, L"Shared"), L"machine");
    EXPECT_EQ(RegDeleteTreeW(HKEY_CLASSES_ROOT, L"Shared"), LONG{ERROR_SUCCESS});
    EXPECT_FALSE(RegistryKeyExists(HKEY_CLASSES_ROOT, L"Shared"));
}

TEST_F(RegistryTest, ConcurrentWritersLoseNothingAndReadersSeeWholeHives) {
    // Four processes of two threads each; every write may be the one that creates the parent.
    std::vector<pid_t> children;
    for (int process = 0; process < 4; ++process) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child > 0) {
            children.push_back(child);
            continue;
        }
        std::atomic<bool> failed{false};
        const auto write = [&](int thread) {
            for (int i = 0; i < 20; ++i) {
                const std::wstring name = std::to_wstring(process * 1000 + thread * 100 + i);
                const std::wstring path = L"Software\\Race\\" + name;
                if (SetRegistryString(HKEY_LOCAL_MACHINE, path.c_str(), nullptr, name) != 0)
                    failed = true;
            }
        };
        std::thread other(write, 1);
        write(0);
        other.join();
        ::_exit(failed ? 1 : 0);
    }
    // Meanwhile, a reader never meets a half-written hive (which would be ERROR_BADDB).
    for (int status = 0; !children.empty(); children.pop_back()) {
        while (::waitpid(children.back(), &status, WNOHANG) == 0) {
            HKEY key = nullptr;
            const LONG result =
                RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Race", 0, KEY_READ, &key);
            ASSERT_TRUE(result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND) << result;
            UniqueRegistryKey owned(key);
        }
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    EXPECT_EQ(RegistrySubkeyNames(HKEY_LOCAL_MACHINE, L"Software\\Race").size(), 4u * 2 * 20);
    // Only the hive and its lock file are left: no temporary file stays behind.
    const std::filesystem::directory_iterator folder(registry_.MachineHive().parent_path());
    EXPECT_EQ(std::distance(folder, {}), 2);
}

// ---- Damaged hive files ----

std::string U32(std::uint32_t value) {
    std::string bytes;
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
    return bytes;
}

std::string Name(std::string_view text) {
    return U32(static_cast<std::uint32_t>(text.size())) + std::string(text);
}

// A hive file around `payload`: magic, version, payload size, payload, FNV-1a of the payload.
// A key is its name, its value count, its values, its subkey count and its subkeys.
std::string HiveFile(const std::string& payload, std::uint32_t version = 1) {
    std::uint32_t hash = 2166136261u;
    for (unsigned char byte : payload) hash = (hash ^ byte) * 16777619u;
    return std::string("ZEVHIVE\0", 8) + U32(version) +
           U32(static_cast<std::uint32_t>(payload.size())) + payload + U32(hash);
}

// A root (empty name, no values) with one subkey named `name` that has nothing.
std::string RootWith(std::string_view name) {
    return U32(0) + U32(0) + U32(1) + Name(name) + U32(0) + U32(0);
}

TEST_F(RegistryTest, DamagedHiveFailsCleanlyAndIsNeverOverwritten) {
    const std::string damaged = "this is not a hive";
    WriteBytes(registry_.UserHive(), damaged);
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\New", 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              LONG{ERROR_BADDB});
    EXPECT_EQ(ReadBytes(registry_.UserHive()), damaged);
    EXPECT_TRUE(Create(HKEY_LOCAL_MACHINE, L"Software\\Fine"));  // the machine hive is unaffected

    // Every truncation and every changed byte of a real hive is detected.
    SetRegistryString(HKEY_LOCAL_MACHINE, L"Software\\Sample\\Deeper", L"Name", L"value");
    const std::string good = ReadBytes(registry_.MachineHive());
    for (std::size_t position = 0; position < good.size(); ++position) {
        std::string changed = good;
        changed[position] = static_cast<char>(changed[position] ^ 0x5A);
        for (const std::string& bytes : {good.substr(0, position), changed}) {
            WriteBytes(registry_.UserHive(), bytes);
            ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software", 0, KEY_READ, &key),
                      LONG{ERROR_BADDB})
                << (bytes.size() < good.size() ? "truncated at " : "changed at ") << position;
        }
    }
}

TEST_F(RegistryTest, HivesWithAValidChecksumAreCheckedFieldByField) {
    // Keys nested `levels` deep, each named "k".
    const auto nested = [](std::uint32_t levels) {
        std::string payload = U32(0) + U32(0);  // root: no name, no values
        for (std::uint32_t i = 0; i < levels; ++i) payload += U32(1) + Name("k") + U32(0);
        return HiveFile(payload + U32(0));  // the deepest key has no subkeys
    };
    const struct {
        const char* what;
        std::string bytes;
        DWORD expected;
    } cases[] = {
        {"a hand-made hive", HiveFile(RootWith("k")), ERROR_SUCCESS},
        {"nested as deep as allowed", nested(kRegistryMaxDepth), ERROR_SUCCESS},
        {"nested deeper than any stack", nested(100000), ERROR_BADDB},
        {"version 2", HiveFile(RootWith("k"), 2), ERROR_BADDB},
        {"value count beyond the bytes left", HiveFile(U32(0) + U32(0x7FFFFFFF) + U32(0)),
         ERROR_BADDB},
        {"subkey count beyond the bytes left",
         HiveFile(U32(0) + U32(0) + U32(0xFFFFFFFF) + Name("k") + U32(0) + U32(0)), ERROR_BADDB},
        {"name size beyond the bytes left",
         HiveFile(U32(0) + U32(0) + U32(1) + U32(0xFFFFFFF0) + U32(0) + U32(0)), ERROR_BADDB},
        {"value data beyond the bytes left",
         HiveFile(U32(0) + U32(1) + Name("v") + U32(REG_SZ) + U32(100) + U32(0)), ERROR_BADDB},
    };
    for (const auto& c : cases) {
        WriteBytes(registry_.UserHive(), c.bytes);
        HKEY opened = nullptr;
        EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"k", 0, KEY_READ, &opened),
                  static_cast<LONG>(c.expected))
            << c.what;
        UniqueRegistryKey owned(opened);
    }
}
}  // namespace
