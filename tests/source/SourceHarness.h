// Driving a FlashFile5 object through its interfaces as a host does: the classes registered in
// the test process, the host's open container, and per-test folders for the index cache and the
// named mutexes.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

#include "frame/Interfaces.h"
#include "mediakit/MediaInterfaces.h"
#include "platform/ComPtr.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempDir.h"

// Registers mediakit, FlashFile5 and the two real stream classes once. Classes registered
// later in the process (the fake stream objects of a test) take precedence over these.
void RegisterSourceClasses();

ComPtr<IMediaSource> NewSource();
ComPtr<IMediaParams> NewParams();
// A host's open container: "OperationMode" 1, "FileName", and "FileHash" when given.
ComPtr<IMediaParams> OpenParams(const std::filesystem::path& file, const wchar_t* hash = nullptr);
// Command 1 with `params`.
HRESULT Open(IMediaSource* source, IMediaParams* params);
LONG VideoCount(IMediaSource* source);
LONG AudioCount(IMediaSource* source);
LONG Status(IMediaSource* source);

// Values of a container (0, false or empty when missing).
LONG LongOf(IMediaParams* params, const wchar_t* name);
bool Has(IMediaParams* params, const wchar_t* name);
ComPtr<IMediaParams> ParamsOf(IMediaParams* params, const wchar_t* name);

// The number of index records of one kind in a cache file (0 when it cannot be read).
std::size_t StoredEntries(const std::filesystem::path& cacheFile, bool video);

// The error record the calling thread holds: its GUID and description.
struct ErrorRecord {
    GUID guid{};
    std::wstring description;
};
std::optional<ErrorRecord> TakeErrorRecord();
// `hr` is `expected` and the thread holds a FlashFile5 record with `message`.
void ExpectSourceError(HRESULT hr, HRESULT expected, const wchar_t* message);

// The application-data folder (XDG_DATA_HOME) and the lock folder (XDG_RUNTIME_DIR) point into
// a temporary folder for each test.
class SourceTest : public ::testing::Test {
  protected:
    SourceTest();
    void SetUp() override { RegisterSourceClasses(); }

    std::filesystem::path CacheFile(const char* kind, const std::string& hash) const;
    // Writes `bytes` as a file of the temporary folder.
    std::filesystem::path WriteFile(const std::string& name, const std::string& bytes) const {
        return temp.Write(name, bytes);
    }

    TempDir temp;

  private:
    ScopedEnv data_;
    ScopedEnv run_;
};
