// The registry API against Windows semantics (exact results), the merged HKEY_CLASSES_ROOT
// view, concurrent writers, and damaged hive files.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

#include "platform/MemoryStream.h"
#include "platform/Registry.h"
#include "tests/support/TempRegistry.h"

namespace {
// Registry results are LONG; the error constants are DWORD.
constexpr LONG Result(DWORD error) {
    return static_cast<LONG>(error);
}

UniqueRegistryKey Create(HKEY parent, const wchar_t* path, REGSAM access = KEY_ALL_ACCESS) {
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExW(parent, path, 0, nullptr, 0, access, nullptr, &key, nullptr),
              Result(ERROR_SUCCESS))
        << "creating " << testing::PrintToString(std::wstring(path));
    return UniqueRegistryKey(key);
}

UniqueRegistryKey Open(HKEY parent, const wchar_t* path, REGSAM access = KEY_ALL_ACCESS) {
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExW(parent, path, 0, access, &key), Result(ERROR_SUCCESS));
    return UniqueRegistryKey(key);
}

LONG SetString(HKEY key, const wchar_t* name, const std::wstring& value) {
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

std::vector<std::wstring> SubkeyNames(HKEY key) {
    std::vector<std::wstring> names;
    for (DWORD index = 0;; ++index) {
        wchar_t name[256];
        DWORD length = 256;
        const LONG status =
            RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (status != ERROR_SUCCESS) {
            EXPECT_EQ(status, Result(ERROR_NO_MORE_ITEMS));
            return names;
        }
        names.emplace_back(name, length);
    }
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

TEST_F(RegistryTest, MissingKeysAndValuesAreFileNotFound) {
    HKEY key = reinterpret_cast<HKEY>(0x1234);
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Missing", 0, KEY_READ, &key),
              Result(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(key, nullptr);
    EXPECT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\Missing"), Result(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"Missing"), Result(ERROR_FILE_NOT_FOUND));
    UniqueRegistryKey created = Create(HKEY_CURRENT_USER, L"Software\\Present");
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(created.get(), L"absent", nullptr, nullptr, nullptr, &size),
              Result(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(RegQueryValueExW(created.get(), nullptr, nullptr, nullptr, nullptr, &size),
              Result(ERROR_FILE_NOT_FOUND));  // a new key has no default value
    EXPECT_EQ(RegDeleteValueW(created.get(), L"absent"), Result(ERROR_FILE_NOT_FOUND));
    // Looking did not create anything, and the machine hive was never written.
    EXPECT_FALSE(RegistryKeyExists(HKEY_CURRENT_USER, L"Software\\Missing"));
    EXPECT_FALSE(std::filesystem::exists(registry_.MachineHive()));
}

TEST_F(RegistryTest, CreateOpensExistingKeysAndNamesIgnoreCase) {
    HKEY raw = nullptr;
    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Vendor\\Product", 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &raw, &disposition),
              Result(ERROR_SUCCESS));
    UniqueRegistryKey first(raw);
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"SOFTWARE\\vendor\\PRODUCT\\", 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &raw, &disposition),
              Result(ERROR_SUCCESS));
    UniqueRegistryKey second(raw);
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
    EXPECT_NE(first.get(), second.get());  // every open is a handle of its own
    // The name keeps the case it was created with.
    EXPECT_EQ(SubkeyNames(Open(HKEY_CURRENT_USER, L"software").get()),
              std::vector<std::wstring>{L"Vendor"});
    // Latin-1 letters fold too.
    Create(HKEY_CURRENT_USER, L"Software\\Clé");
    EXPECT_TRUE(RegistryKeyExists(HKEY_CURRENT_USER, L"SOFTWARE\\CLÉ"));
}

TEST_F(RegistryTest, PathsAndArgumentsAreChecked) {
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"\\Lead", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &key, nullptr),
              Result(ERROR_BAD_PATHNAME));
    EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"A\\\\B", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &key, nullptr),
              Result(ERROR_BAD_PATHNAME));
    const std::wstring tooLong(256, L'k');
    EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, tooLong.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              Result(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Fine", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              nullptr, nullptr),
              Result(ERROR_BADKEY));
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Fine", 0, KEY_READ, nullptr),
              Result(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(RegOpenKeyExW(nullptr, L"", 0, KEY_READ, &key), Result(ERROR_INVALID_HANDLE));
    EXPECT_EQ(key, nullptr);
    EXPECT_FALSE(std::filesystem::exists(registry_.UserHive()));  // nothing was written
}

TEST_F(RegistryTest, HandlesCloseOnceAndPredefinedKeysOpenAsThemselves) {
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, nullptr, 0, KEY_READ, &key), Result(ERROR_SUCCESS));
    EXPECT_EQ(key, HKEY_CLASSES_ROOT);
    EXPECT_EQ(RegCloseKey(HKEY_CLASSES_ROOT), Result(ERROR_SUCCESS));
    UniqueRegistryKey created = Create(HKEY_CURRENT_USER, L"Software");
    ASSERT_EQ(RegOpenKeyExW(created.get(), L"", 0, KEY_READ, &key), Result(ERROR_SUCCESS));
    EXPECT_NE(key, created.get());
    EXPECT_EQ(RegCloseKey(key), Result(ERROR_SUCCESS));
    EXPECT_EQ(RegCloseKey(key), Result(ERROR_INVALID_HANDLE));
    EXPECT_EQ(RegCloseKey(nullptr), Result(ERROR_INVALID_HANDLE));
    EXPECT_EQ(SetString(reinterpret_cast<HKEY>(0xDEAD0), L"x", L"y"), Result(ERROR_INVALID_HANDLE));
}

TEST_F(RegistryTest, ValuesKeepTheirBytesAndReportSizes) {
    UniqueRegistryKey key = Create(HKEY_LOCAL_MACHINE, L"Software\\Values");
    ASSERT_EQ(SetString(key.get(), nullptr, L"default"), Result(ERROR_SUCCESS));
    ASSERT_EQ(SetString(key.get(), L"Name", L"first"), Result(ERROR_SUCCESS));
    ASSERT_EQ(SetString(key.get(), L"NAME", L"second"), Result(ERROR_SUCCESS));  // same value
    const DWORD number = 0x12345678;
    ASSERT_EQ(RegSetValueExW(key.get(), L"Number", 0, REG_DWORD,
                             reinterpret_cast<const BYTE*>(&number), sizeof(number)),
              Result(ERROR_SUCCESS));
    ASSERT_EQ(RegSetValueExW(key.get(), L"Empty", 0, REG_BINARY, nullptr, 0),
              Result(ERROR_SUCCESS));
    EXPECT_EQ(RegSetValueExW(key.get(), L"Bad", 0, REG_BINARY, nullptr, 4), Result(ERROR_NOACCESS));

    EXPECT_EQ(RegistryString(HKEY_LOCAL_MACHINE, L"Software\\Values", L""), L"default");
    EXPECT_EQ(RegistryString(HKEY_LOCAL_MACHINE, L"Software\\Values", L"name"), L"second");
    DWORD type = 0;
    DWORD size = 0;
    ASSERT_EQ(RegQueryValueExW(key.get(), L"Name", nullptr, &type, nullptr, &size),
              Result(ERROR_SUCCESS));
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(size, 7 * sizeof(wchar_t));  // "second" and its terminator
    wchar_t small[3] = {L'a', L'b', L'c'};
    DWORD capacity = sizeof(small);
    EXPECT_EQ(RegQueryValueExW(key.get(), L"Name", nullptr, &type, reinterpret_cast<BYTE*>(small),
                               &capacity),
              Result(ERROR_MORE_DATA));
    EXPECT_EQ(capacity, 7 * sizeof(wchar_t));
    EXPECT_EQ(small[0], L'a');  // nothing written into a buffer that is too small
    EXPECT_EQ(RegQueryValueExW(key.get(), L"Name", nullptr, &type, reinterpret_cast<BYTE*>(small),
                               nullptr),
              Result(ERROR_INVALID_PARAMETER));
    DWORD read = 0;
    size = sizeof(read);
    ASSERT_EQ(RegQueryValueExW(key.get(), L"Number", nullptr, &type, reinterpret_cast<BYTE*>(&read),
                               &size),
              Result(ERROR_SUCCESS));
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(read, number);
    ASSERT_EQ(RegQueryValueExW(key.get(), L"Empty", nullptr, &type, nullptr, &size),
              Result(ERROR_SUCCESS));
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(RegDeleteValueW(key.get(), L"EMPTY"), Result(ERROR_SUCCESS));
    EXPECT_EQ(RegDeleteValueW(key.get(), L"Empty"), Result(ERROR_FILE_NOT_FOUND));
}

TEST_F(RegistryTest, AccessRightsOfTheHandleAreChecked) {
    Create(HKEY_CURRENT_USER, L"Software\\Rights");
    UniqueRegistryKey reader = Open(HKEY_CURRENT_USER, L"Software\\Rights", KEY_READ);
    EXPECT_EQ(SetString(reader.get(), L"x", L"y"), Result(ERROR_ACCESS_DENIED));
    EXPECT_EQ(RegDeleteValueW(reader.get(), L"x"), Result(ERROR_ACCESS_DENIED));
    UniqueRegistryKey writer = Open(HKEY_CURRENT_USER, L"Software\\Rights", KEY_SET_VALUE);
    EXPECT_EQ(SetString(writer.get(), L"x", L"y"), Result(ERROR_SUCCESS));
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(writer.get(), L"x", nullptr, nullptr, nullptr, &size),
              Result(ERROR_ACCESS_DENIED));
    wchar_t name[8];
    DWORD length = 8;
    EXPECT_EQ(RegEnumKeyExW(writer.get(), 0, name, &length, nullptr, nullptr, nullptr, nullptr),
              Result(ERROR_ACCESS_DENIED));
    // Creating below a handle does not depend on its rights, as on Windows.
    EXPECT_TRUE(Create(reader.get(), L"Child"));
}

TEST_F(RegistryTest, DeleteKeyRefusesKeysWithSubkeysAndDeleteTreeDoesNot) {
    UniqueRegistryKey parent = Create(HKEY_CURRENT_USER, L"Software\\Tree");
    Create(parent.get(), L"Child\\Grandchild");
    ASSERT_EQ(SetString(parent.get(), L"kept", L"value"), Result(ERROR_SUCCESS));
    EXPECT_EQ(RegDeleteKeyW(parent.get(), L"Child"), Result(ERROR_ACCESS_DENIED));
    EXPECT_EQ(RegDeleteKeyW(parent.get(), nullptr), Result(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, L""), Result(ERROR_ACCESS_DENIED));  // a root
    EXPECT_EQ(RegDeleteKeyW(parent.get(), L"Child\\Grandchild"), Result(ERROR_SUCCESS));
    EXPECT_EQ(RegDeleteKeyW(parent.get(), L"Child"), Result(ERROR_SUCCESS));

    Create(parent.get(), L"A\\B\\C");
    EXPECT_EQ(RegDeleteTreeW(parent.get(), L"A"), Result(ERROR_SUCCESS));
    EXPECT_FALSE(RegistryKeyExists(parent.get(), L"A"));
    // Without a subkey, DeleteTree empties the key and keeps it.
    Create(parent.get(), L"D\\E");
    EXPECT_EQ(RegDeleteTreeW(parent.get(), nullptr), Result(ERROR_SUCCESS));
    EXPECT_TRUE(RegistryKeyExists(HKEY_CURRENT_USER, L"Software\\Tree"));
    EXPECT_EQ(SubkeyNames(parent.get()), std::vector<std::wstring>{});
    EXPECT_EQ(RegistryString(parent.get(), nullptr, L"kept"), std::nullopt);

    // A key deleted through its own handle: the handle stays valid but reaches nothing.
    EXPECT_EQ(RegDeleteKeyW(parent.get(), L""), Result(ERROR_SUCCESS));
    EXPECT_EQ(SetString(parent.get(), L"x", L"y"), Result(ERROR_KEY_DELETED));
    HKEY child = nullptr;
    EXPECT_EQ(RegCreateKeyExW(parent.get(), L"New", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &child,
                              nullptr),
              Result(ERROR_KEY_DELETED));
    EXPECT_TRUE(RegistryKeyExists(HKEY_CURRENT_USER, L"Software"));
}

TEST_F(RegistryTest, EnumerationAndInfoReportNamesInOrder) {
    UniqueRegistryKey key = Create(HKEY_CURRENT_USER, L"Software\\Enum");
    for (const wchar_t* name : {L"beta", L"Alpha", L"gamma"}) Create(key.get(), name);
    ASSERT_EQ(SetString(key.get(), L"Longest", L"0123456789"), Result(ERROR_SUCCESS));
    ASSERT_EQ(SetString(key.get(), L"a", L""), Result(ERROR_SUCCESS));
    EXPECT_EQ(SubkeyNames(key.get()), (std::vector<std::wstring>{L"Alpha", L"beta", L"gamma"}));

    wchar_t name[8];
    DWORD length = 8;
    FILETIME written{1, 1};
    ASSERT_EQ(RegEnumKeyExW(key.get(), 0, name, &length, nullptr, nullptr, nullptr, &written),
              Result(ERROR_SUCCESS));
    EXPECT_EQ(written.dwLowDateTime | written.dwHighDateTime, 0u);  // not kept: reported as zero
    length = 5;  // "Alpha" needs 6 with its terminator
    EXPECT_EQ(RegEnumKeyExW(key.get(), 0, name, &length, nullptr, nullptr, nullptr, nullptr),
              Result(ERROR_MORE_DATA));
    length = 5;
    DWORD type = 0;
    DWORD size = 0;
    ASSERT_EQ(RegEnumValueW(key.get(), 1, name, &length, nullptr, &type, nullptr, &size),
              Result(ERROR_MORE_DATA));  // "Longest"
    wchar_t valueName[16];
    length = 16;
    ASSERT_EQ(RegEnumValueW(key.get(), 0, valueName, &length, nullptr, &type, nullptr, &size),
              Result(ERROR_SUCCESS));
    EXPECT_EQ(std::wstring(valueName, length), L"a");
    EXPECT_EQ(size, sizeof(wchar_t));
    length = 16;
    EXPECT_EQ(RegEnumValueW(key.get(), 2, valueName, &length, nullptr, &type, nullptr, &size),
              Result(ERROR_NO_MORE_ITEMS));

    DWORD subkeys = 0, longestSubkey = 0, values = 0, longestValueName = 0, largestValue = 0;
    ASSERT_EQ(
        RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subkeys, &longestSubkey, nullptr,
                         &values, &longestValueName, &largestValue, nullptr, nullptr),
        Result(ERROR_SUCCESS));
    EXPECT_EQ(subkeys, 3u);
    EXPECT_EQ(longestSubkey, 5u);
    EXPECT_EQ(values, 2u);
    EXPECT_EQ(longestValueName, 7u);
    EXPECT_EQ(largestValue, 11 * sizeof(wchar_t));
}

TEST_F(RegistryTest, MachineAndUserHivesAreSeparateFiles) {
    Create(HKEY_LOCAL_MACHINE, L"Software\\OnlyMachine");
    Create(HKEY_CURRENT_USER, L"Software\\OnlyUser");
    EXPECT_FALSE(RegistryKeyExists(HKEY_CURRENT_USER, L"Software\\OnlyMachine"));
    EXPECT_FALSE(RegistryKeyExists(HKEY_LOCAL_MACHINE, L"Software\\OnlyUser"));
    EXPECT_EQ(RegistryHiveFile(HKEY_LOCAL_MACHINE), registry_.MachineHive().wstring());
    EXPECT_EQ(RegistryHiveFile(HKEY_CURRENT_USER), registry_.UserHive().wstring());
    EXPECT_EQ(RegistryHiveFile(HKEY_CLASSES_ROOT), L"");
}

TEST_F(RegistryTest, ClassesRootMergesUserClassesOverMachineClasses) {
    UniqueRegistryKey machine = Create(HKEY_LOCAL_MACHINE, L"Software\\Classes\\Shared");
    ASSERT_EQ(SetString(machine.get(), nullptr, L"machine"), Result(ERROR_SUCCESS));
    Create(machine.get(), L"X");
    Create(machine.get(), L"Y");
    UniqueRegistryKey user = Create(HKEY_CURRENT_USER, L"Software\\Classes\\Shared");
    ASSERT_EQ(SetString(user.get(), nullptr, L"user"), Result(ERROR_SUCCESS));
    Create(user.get(), L"y");
    Create(user.get(), L"Z");
    Create(HKEY_LOCAL_MACHINE, L"Software\\Classes\\MachineOnly");

    EXPECT_EQ(RegistryString(HKEY_CLASSES_ROOT, L"Shared"), L"user");
    EXPECT_EQ(RegistryString(HKEY_CLASSES_ROOT, L"MachineOnly"), std::nullopt);
    EXPECT_TRUE(RegistryKeyExists(HKEY_CLASSES_ROOT, L"MachineOnly"));
    UniqueRegistryKey merged = Open(HKEY_CLASSES_ROOT, L"Shared");
    EXPECT_EQ(SubkeyNames(merged.get()), (std::vector<std::wstring>{L"X", L"y", L"Z"}));
    EXPECT_EQ(SubkeyNames(HKEY_CLASSES_ROOT),
              (std::vector<std::wstring>{L"MachineOnly", L"Shared"}));

    // Values go where the merged key reads them from: the user's key when there is one.
    ASSERT_EQ(SetString(merged.get(), L"Written", L"1"), Result(ERROR_SUCCESS));
    EXPECT_EQ(RegistryString(HKEY_CURRENT_USER, L"Software\\Classes\\Shared", L"Written"), L"1");
    EXPECT_EQ(RegistryString(HKEY_LOCAL_MACHINE, L"Software\\Classes\\Shared", L"Written"),
              std::nullopt);
    // New keys go to the machine.
    Create(HKEY_CLASSES_ROOT, L"Shared\\Fresh");
    EXPECT_TRUE(RegistryKeyExists(HKEY_LOCAL_MACHINE, L"Software\\Classes\\Shared\\Fresh"));
    EXPECT_FALSE(RegistryKeyExists(HKEY_CURRENT_USER, L"Software\\Classes\\Shared\\Fresh"));
    // Deleting through the merged view removes the user's key and uncovers the machine's.
    EXPECT_EQ(RegDeleteTreeW(HKEY_CLASSES_ROOT, L"Shared"), Result(ERROR_SUCCESS));
    EXPECT_EQ(RegistryString(HKEY_CLASSES_ROOT, L"Shared"), L"machine");
    EXPECT_EQ(RegDeleteTreeW(HKEY_CLASSES_ROOT, L"Shared"), Result(ERROR_SUCCESS));
    EXPECT_FALSE(RegistryKeyExists(HKEY_CLASSES_ROOT, L"Shared"));
}

TEST_F(RegistryTest, ConcurrentThreadsLoseNoWrite) {
    Create(HKEY_CURRENT_USER, L"Software\\Threads");
    constexpr int kThreads = 4;
    constexpr int kWrites = 20;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            UniqueRegistryKey key = Open(HKEY_CURRENT_USER, L"Software\\Threads");
            for (int i = 0; i < kWrites; ++i) {
                const std::wstring name = L"T" + std::to_wstring(t) + L"_" + std::to_wstring(i);
                EXPECT_EQ(SetString(key.get(), name.c_str(), name), Result(ERROR_SUCCESS));
            }
        });
    }
    for (auto& thread : threads) thread.join();
    DWORD values = 0;
    ASSERT_EQ(RegQueryInfoKeyW(Open(HKEY_CURRENT_USER, L"Software\\Threads").get(), nullptr,
                               nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr,
                               nullptr, nullptr, nullptr),
              Result(ERROR_SUCCESS));
    EXPECT_EQ(values, static_cast<DWORD>(kThreads * kWrites));
}

// Runs `work` in `count` child processes and expects each to exit with 0.
template <class Work>
void InChildProcesses(int count, Work work) {
    std::vector<pid_t> children;
    for (int index = 0; index < count; ++index) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) ::_exit(work(index) ? 0 : 1);
        children.push_back(child);
    }
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
}

TEST_F(RegistryTest, ConcurrentProcessesLoseNoWrite) {
    constexpr int kProcesses = 4;
    constexpr int kWrites = 20;
    InChildProcesses(kProcesses, [](int process) {
        for (int i = 0; i < kWrites; ++i) {
            // Each write creates the key (if another process has not yet) and sets one value.
            HKEY key = nullptr;
            if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Race", 0, nullptr, 0,
                                KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS) {
                return false;
            }
            UniqueRegistryKey owned(key);
            const std::wstring name = L"P" + std::to_wstring(process) + L"_" + std::to_wstring(i);
            if (SetString(key, name.c_str(), name) != ERROR_SUCCESS) return false;
        }
        return true;
    });
    for (int process = 0; process < kProcesses; ++process) {
        for (int i = 0; i < kWrites; ++i) {
            const std::wstring name = L"P" + std::to_wstring(process) + L"_" + std::to_wstring(i);
            EXPECT_EQ(RegistryString(HKEY_LOCAL_MACHINE, L"Software\\Race", name.c_str()), name);
        }
    }
}

TEST_F(RegistryTest, ReadersNeverSeeAHalfWrittenHive) {
    Create(HKEY_CURRENT_USER, L"Software\\Atomic");
    const pid_t writer = ::fork();
    ASSERT_GE(writer, 0);
    if (writer == 0) {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Atomic", 0, KEY_ALL_ACCESS, &key) !=
            ERROR_SUCCESS) {
            ::_exit(1);
        }
        // Values of growing size make every version of the file different in length.
        for (int i = 0; i < 60; ++i) {
            const std::wstring value(static_cast<std::size_t>(i) * 50, L'v');
            if (SetString(key, std::to_wstring(i).c_str(), value) != ERROR_SUCCESS) ::_exit(1);
        }
        ::_exit(0);
    }
    int status = 0;
    int reads = 0;
    while (::waitpid(writer, &status, WNOHANG) == 0) {
        DWORD values = 0;
        UniqueRegistryKey key = Open(HKEY_CURRENT_USER, L"Software\\Atomic", KEY_READ);
        ASSERT_EQ(RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                   &values, nullptr, nullptr, nullptr, nullptr),
                  Result(ERROR_SUCCESS));
        ++reads;
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_GT(reads, 0);
    // Only the hive and its lock file are left: no temporary file stays behind.
    std::vector<std::string> files;
    for (const auto& entry :
         std::filesystem::directory_iterator(registry_.UserHive().parent_path())) {
        files.push_back(entry.path().filename().string());
    }
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, (std::vector<std::string>{"user.reg", "user.reg.lock"}));
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
std::string HiveFile(const std::string& payload, std::uint32_t version = 1) {
    std::uint32_t hash = 2166136261u;
    for (unsigned char byte : payload) hash = (hash ^ byte) * 16777619u;
    return std::string("ZEVHIVE\0", 8) + U32(version) +
           U32(static_cast<std::uint32_t>(payload.size())) + payload + U32(hash);
}

// Root with one subkey "Software" that has no values and no subkeys.
const std::string kSoftwareOnly = U32(0)              // root name: empty
                                  + U32(0)            // root value count
                                  + U32(1)            // root subkey count
                                  + Name("Software")  // subkey name
                                  + U32(0)            //   its value count
                                  + U32(0);           //   its subkey count

TEST_F(RegistryTest, AHandMadeHiveIsRead) {
    WriteBytes(registry_.UserHive(), HiveFile(kSoftwareOnly));
    EXPECT_TRUE(RegistryKeyExists(HKEY_CURRENT_USER, L"Software"));
    EXPECT_EQ(SubkeyNames(HKEY_CURRENT_USER), std::vector<std::wstring>{L"Software"});
}

TEST_F(RegistryTest, DamagedHiveFailsCleanlyAndIsNeverOverwritten) {
    const std::string damaged = "this is not a hive";
    WriteBytes(registry_.UserHive(), damaged);
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software", 0, KEY_READ, &key),
              Result(ERROR_BADDB));
    EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\New", 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              Result(ERROR_BADDB));
    EXPECT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, L"CLSID", 0, KEY_READ, &key), Result(ERROR_BADDB));
    EXPECT_EQ(ReadBytes(registry_.UserHive()), damaged);
    // The machine hive is not affected.
    EXPECT_TRUE(Create(HKEY_LOCAL_MACHINE, L"Software\\Fine"));
}

TEST_F(RegistryTest, EveryTruncationAndEveryChangedByteIsDetected) {
    {
        UniqueRegistryKey key = Create(HKEY_CURRENT_USER, L"Software\\Sample\\Deeper");
        ASSERT_EQ(SetString(key.get(), L"Name", L"value"), Result(ERROR_SUCCESS));
    }
    const std::string good = ReadBytes(registry_.UserHive());
    ASSERT_GT(good.size(), 40u);
    HKEY key = nullptr;
    for (std::size_t length = 0; length < good.size(); ++length) {
        WriteBytes(registry_.UserHive(), good.substr(0, length));
        ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software", 0, KEY_READ, &key),
                  Result(ERROR_BADDB))
            << "truncated to " << length;
    }
    for (std::size_t position = 0; position < good.size(); ++position) {
        std::string changed = good;
        changed[position] = static_cast<char>(changed[position] ^ 0x5A);
        WriteBytes(registry_.UserHive(), changed);
        ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software", 0, KEY_READ, &key),
                  Result(ERROR_BADDB))
            << "byte " << position << " changed";
    }
}

TEST_F(RegistryTest, HivesWithAValidChecksumButBadContentAreRefused) {
    const std::vector<std::pair<const char*, std::string>> cases = {
        {"version 2", HiveFile(kSoftwareOnly, 2)},
        {"value count beyond the bytes left", HiveFile(U32(0) + U32(0x7FFFFFFF) + U32(0))},
        {"subkey count beyond the bytes left",
         HiveFile(U32(0) + U32(0) + U32(0xFFFFFFFF) + Name("A") + U32(0) + U32(0))},
        {"name size beyond the bytes left",
         HiveFile(U32(0) + U32(0) + U32(1) + U32(0xFFFFFFF0) + U32(0) + U32(0))},
        {"root with a name", HiveFile(Name("Root") + U32(0) + U32(0))},
        {"empty key name", HiveFile(U32(0) + U32(0) + U32(1) + Name("") + U32(0) + U32(0))},
        {"key name with a backslash",
         HiveFile(U32(0) + U32(0) + U32(1) + Name("A\\B") + U32(0) + U32(0))},
        {"key names equal but for case", HiveFile(U32(0) + U32(0) + U32(2) + Name("Key") + U32(0) +
                                                  U32(0) + Name("KEY") + U32(0) + U32(0))},
        {"value data beyond the bytes left",
         HiveFile(U32(0) + U32(1) + Name("v") + U32(REG_SZ) + U32(100) + U32(0))},
        {"name that is not UTF-8",
         HiveFile(U32(0) + U32(0) + U32(1) + Name("\xff\xfe") + U32(0) + U32(0))},
        {"bytes after the root", HiveFile(kSoftwareOnly + "x")},
    };
    for (const auto& [what, bytes] : cases) {
        WriteBytes(registry_.UserHive(), bytes);
        HKEY key = nullptr;
        EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, nullptr, 0, KEY_READ, &key),
                  Result(ERROR_SUCCESS));
        wchar_t name[8];
        DWORD length = 8;
        EXPECT_EQ(
            RegEnumKeyExW(HKEY_CURRENT_USER, 0, name, &length, nullptr, nullptr, nullptr, nullptr),
            Result(ERROR_BADDB))
            << what;
    }
}

TEST_F(RegistryTest, NestingIsLimitedWithoutExhaustingTheStack) {
    // Keys nested `levels` deep, each named "k".
    const auto nested = [](std::uint32_t levels) {
        std::string payload = U32(0) + U32(0);  // root: no name, no values
        for (std::uint32_t i = 0; i < levels; ++i) payload += U32(1) + Name("k") + U32(0);
        payload += U32(0);  // the deepest key has no subkeys
        return HiveFile(payload);
    };
    WriteBytes(registry_.UserHive(), nested(kRegistryMaxDepth));
    EXPECT_TRUE(RegistryKeyExists(HKEY_CURRENT_USER, L"k"));
    WriteBytes(registry_.UserHive(), nested(kRegistryMaxDepth + 1));
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"k", 0, KEY_READ, &key), Result(ERROR_BADDB));
    WriteBytes(registry_.UserHive(), nested(100000));
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"k", 0, KEY_READ, &key), Result(ERROR_BADDB));

    std::wstring tooDeep;
    for (DWORD i = 0; i <= kRegistryMaxDepth; ++i) tooDeep += L"d\\";
    EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, tooDeep.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              Result(ERROR_INVALID_PARAMETER));
}
}  // namespace
