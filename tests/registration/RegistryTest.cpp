// The registry API against Windows semantics (exact results), the merged HKEY_CLASSES_ROOT
// view, concurrent writers, and damaged hive files.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
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

class RegistryTest : public testing::Test {
  protected:
    // Replaces the user hive file with `bytes`.
    void WriteUserHive(const std::string& bytes) {
        std::filesystem::create_directories(registry_.UserHive().parent_path());
        registry_.Dir().Write("hives/user.reg", bytes);
    }
    TempRegistry registry_;
};

// Bad names and handles, calls the handle's rights do not allow, and a buffer too small fail
// with Windows' codes; names compare without case (Latin-1 too).
TEST_F(RegistryTest, FailuresGiveTheWindowsResults) {
    UniqueRegistryKey present = Create(HKEY_CURRENT_USER, L"Software\\Clé");
    Create(present.get(), L"Child");
    UniqueRegistryKey reader = Open(HKEY_CURRENT_USER, L"SOFTWARE\\CLÉ", KEY_READ);
    HKEY key = nullptr;
    const auto create = [&](HKEY parent, const std::wstring& path) {  // every one fails
        return RegCreateKeyExW(parent, path.c_str(), 0, nullptr, 0, 0, nullptr, &key, nullptr);
    };
    std::wstring tooDeep;
    for (DWORD i = 0; i <= kRegistryMaxDepth; ++i) tooDeep += L"d\\";
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Missing", 0, KEY_READ, &key),
              LONG{ERROR_FILE_NOT_FOUND});
    EXPECT_EQ(create(HKEY_CURRENT_USER, L"\\Lead"), LONG{ERROR_BAD_PATHNAME});
    EXPECT_EQ(create(HKEY_CURRENT_USER, std::wstring(256, L'k')), LONG{ERROR_INVALID_PARAMETER});
    EXPECT_EQ(create(HKEY_LOCAL_MACHINE, tooDeep), LONG{ERROR_INVALID_PARAMETER});
    EXPECT_EQ(SetString(reinterpret_cast<HKEY>(0xDEAD0), L"x", L"y"), LONG{ERROR_INVALID_HANDLE});
    EXPECT_EQ(SetString(reader.get(), L"x", L"y"), LONG{ERROR_ACCESS_DENIED});
    EXPECT_EQ(RegDeleteKeyW(present.get(), L""), LONG{ERROR_ACCESS_DENIED});      // has subkeys
    EXPECT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, L""), LONG{ERROR_ACCESS_DENIED});  // a root
    ASSERT_EQ(SetString(present.get(), L"NAME", L"second"), LONG{ERROR_SUCCESS});
    wchar_t small[3] = {L'a', L'b', L'c'};
    DWORD size = sizeof(small);
    EXPECT_EQ(RegQueryValueExW(reader.get(), L"name", nullptr, nullptr,
                               reinterpret_cast<BYTE*>(small), &size),
              LONG{ERROR_MORE_DATA});
    EXPECT_EQ(size, 7 * sizeof(wchar_t));  // "second" and its terminator
    EXPECT_EQ(small[0], L'a');             // nothing written into a buffer that is too small
    // A closed handle stays closed; a key deleted through its own handle reaches nothing.
    HKEY closed = Open(HKEY_CURRENT_USER, L"Software").release();
    EXPECT_EQ(RegCloseKey(closed), LONG{ERROR_SUCCESS});
    EXPECT_EQ(RegCloseKey(closed), LONG{ERROR_INVALID_HANDLE});
    UniqueRegistryKey child = Open(present.get(), L"child");
    EXPECT_EQ(RegDeleteKeyW(child.get(), L""), LONG{ERROR_SUCCESS});
    EXPECT_EQ(SetString(child.get(), L"x", L"y"), LONG{ERROR_KEY_DELETED});
    // Looking created nothing, and the machine hive was never written.
    EXPECT_FALSE(RegistryKeyExists(HKEY_CURRENT_USER, L"Software\\Missing"));
    EXPECT_FALSE(std::filesystem::exists(registry_.MachineHive()));
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
    // Values go to the user's key when there is one; new keys go to the machine.
    ASSERT_EQ(SetString(merged.get(), L"Written", L"1"), LONG{ERROR_SUCCESS});
    EXPECT_EQ(RegistryString(HKEY_CURRENT_USER, L"Software\\Classes\\Shared", L"Written"), L"1");
    EXPECT_EQ(RegistryString(HKEY_LOCAL_MACHINE, L"Software\\Classes\\Shared", L"Written"),
              std::nullopt);
    Create(HKEY_CLASSES_ROOT, L"Shared\\Fresh");
    EXPECT_TRUE(RegistryKeyExists(HKEY_LOCAL_MACHINE, L"Software\\Classes\\Shared\\Fresh"));
    // Deleting through the merged view removes the user's key and uncovers the machine's.
    EXPECT_EQ(RegDeleteTreeW(HKEY_CLASSES_ROOT, L"Shared"), LONG{ERROR_SUCCESS});
    EXPECT_EQ(RegistryString(HKEY_CLASSES_ROOT, L"Shared"), L"machine");
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

std::string U32(std::uint32_t value) {
    std::string bytes;
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
    return bytes;
}

// A hive file around `payload`: magic, version, payload size, payload, FNV-1a of the payload.
// A key is its name (size, bytes), its value count, its values, its subkey count and subkeys.
std::string HiveFile(const std::string& payload, std::uint32_t version = 1) {
    std::uint32_t hash = 2166136261u;
    for (unsigned char byte : payload) hash = (hash ^ byte) * 16777619u;
    return std::string("ZEVHIVE\0", 8) + U32(version) +
           U32(static_cast<std::uint32_t>(payload.size())) + payload + U32(hash);
}

// A damaged hive is never overwritten; every truncation and changed byte of a real hive, and
// sizes, counts and nesting behind a valid checksum, are detected (ERROR_BADDB).
TEST_F(RegistryTest, DamagedHivesFailCleanlyAndAreNeverOverwritten) {
    WriteUserHive("this is not a hive");
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\New", 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              LONG{ERROR_BADDB});
    EXPECT_EQ(FileBytes(registry_.UserHive()), "this is not a hive");

    SetRegistryString(HKEY_LOCAL_MACHINE, L"Software\\Sample\\Deeper", L"Name", L"value");
    const std::string good = FileBytes(registry_.MachineHive());
    std::vector<std::pair<std::string, LONG>> cases;
    for (std::size_t position = 0; position < good.size(); ++position) {
        std::string changed = good;
        changed[position] = static_cast<char>(changed[position] ^ 0x5A);
        cases.insert(cases.end(),
                     {{good.substr(0, position), ERROR_BADDB}, {changed, ERROR_BADDB}});
    }
    const auto nested = [](std::uint32_t levels) {  // keys "k" nested `levels` deep
        std::string payload = U32(0) + U32(0);      // root: no name, no values
        for (std::uint32_t i = 0; i < levels; ++i) payload += U32(1) + U32(1) + "k" + U32(0);
        return HiveFile(payload + U32(0));
    };
    const std::string root = U32(0) + U32(0);
    cases.insert(
        cases.end(),
        {{nested(kRegistryMaxDepth), ERROR_SUCCESS},
         {nested(100000), ERROR_BADDB},  // deeper than any stack
         {HiveFile(root + U32(1) + U32(1) + "k" + U32(0) + U32(0), 2), ERROR_BADDB},
         {HiveFile(U32(0) + U32(0x7FFFFFFF) + U32(0)), ERROR_BADDB},  // value count
         {HiveFile(root + U32(0xFFFFFFFF) + U32(1) + "k" + U32(0) + U32(0)),
          ERROR_BADDB},  // subkey count
         {HiveFile(root + U32(1) + U32(0xFFFFFFF0) + U32(0) + U32(0)), ERROR_BADDB},  // name size
         {HiveFile(U32(0) + U32(1) + U32(1) + "v" + U32(REG_SZ) + U32(100) + U32(0)),
          ERROR_BADDB}});  // value data
    for (std::size_t i = 0; i < cases.size(); ++i) {
        WriteUserHive(cases[i].first);
        HKEY opened = nullptr;
        ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"k", 0, KEY_READ, &opened), cases[i].second)
            << "case " << i;
        UniqueRegistryKey owned(opened);
    }
}
}  // namespace
