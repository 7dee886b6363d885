#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <string>
#include <thread>

#include "platform/File.h"
#include "platform/TextConvert.h"
#include "tests/support/TempDir.h"

namespace {
std::wstring Wide(const std::filesystem::path& path) {
    return Utf8ToWide(path.string());
}

// Runs `open` on a worker; if it has not returned after two seconds, `unblock` is called so that
// the test can fail instead of hanging. Returns whether the open came back in time.
bool ReturnsPromptly(const std::function<void()>& open, const std::function<void()>& unblock) {
    auto done = std::async(std::launch::async, open);
    if (done.wait_for(std::chrono::seconds(2)) == std::future_status::ready) return true;
    unblock();
    done.wait();
    return false;
}
}  // namespace

TEST(File, OnlyRegularFilesOpenAndFailuresSayWhy) {
    TempDir dir;
    std::filesystem::create_directory(dir.Path() / "folder");
    struct Case {
        std::wstring path;
        File::Mode mode;
        DWORD error;
    };
    const Case cases[] = {
        {dir.Wide("missing"), File::Mode::ReadShared, ERROR_FILE_NOT_FOUND},
        {dir.Wide("no-folder/missing"), File::Mode::ReadShared, ERROR_PATH_NOT_FOUND},
        {dir.Wide("no-folder/missing"), File::Mode::CreateForWrite, ERROR_PATH_NOT_FOUND},
        {dir.Wide("folder"), File::Mode::ReadShared, ERROR_ACCESS_DENIED},
        {dir.Wide("folder"), File::Mode::CreateForWrite, ERROR_ACCESS_DENIED},
        {L"", File::Mode::ReadShared, ERROR_PATH_NOT_FOUND},
        {std::wstring(L"a\0b", 3), File::Mode::ReadShared, ERROR_INVALID_NAME},
    };
    for (const Case& c : cases) {
        File file;
        EXPECT_FALSE(file.Open(c.path, c.mode)) << WideToUtf8(c.path);
        EXPECT_EQ(file.LastError(), c.error) << WideToUtf8(c.path);
        EXPECT_FALSE(file.IsOpen());
    }
    EXPECT_TRUE(std::filesystem::is_directory(dir.Path() / "folder"));
}

TEST(File, AFifoIsRefusedWithoutWaitingForAPeer) {
    TempDir dir;
    const auto fifo = dir.Path() / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (File::Mode mode : {File::Mode::ReadShared, File::Mode::CreateForWrite}) {
        File file;
        bool opened = true;
        const bool prompt = ReturnsPromptly([&] { opened = file.Open(Wide(fifo), mode); },
                                            [&] {
                                                // Become the missing peer so that the open returns.
                                                int peer =
                                                    ::open(fifo.c_str(), O_RDWR | O_NONBLOCK);
                                                if (peer >= 0) ::close(peer);
                                            });
        EXPECT_TRUE(prompt) << "the open waited for a peer";
        EXPECT_FALSE(opened);
        EXPECT_EQ(file.LastError(), ERROR_ACCESS_DENIED);
    }
}

TEST(File, PositionedReadsStopAtTheEndAndCountBytes) {
    TempDir dir;
    const auto path = dir.Write("ten", "0123456789");
    File file;
    ASSERT_TRUE(file.Open(Wide(path), File::Mode::ReadShared));
    std::uint64_t size = 0;
    ASSERT_TRUE(file.Size(size));
    EXPECT_EQ(size, 10u);
    struct Case {
        std::uint64_t offset;
        std::size_t count;
        std::size_t got;
    };
    const Case cases[] = {{0, 4, 4}, {8, 4, 2}, {10, 4, 0}, {100, 4, 0}, {3, 0, 0}};
    for (const Case& c : cases) {
        char buffer[8] = {};
        std::size_t got = 99;
        const std::uint64_t before = File::TotalBytesRead();
        ASSERT_TRUE(file.ReadAt(c.offset, buffer, c.count, got)) << c.offset;
        EXPECT_EQ(got, c.got) << c.offset;
        EXPECT_EQ(std::string(buffer, got),
                  std::string("0123456789").substr(std::min<std::size_t>(c.offset, 10), got));
        EXPECT_EQ(File::TotalBytesRead() - before, got);
    }
    std::size_t got = 99;
    char byte;
    EXPECT_FALSE(file.ReadAt(std::uint64_t{1} << 63, &byte, 1, got));
    EXPECT_EQ(file.LastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(got, 0u);
    // The handle is read-only.
    EXPECT_FALSE(file.WriteAt(0, "x", 1));
    EXPECT_EQ(file.LastError(), ERROR_ACCESS_DENIED);
}

TEST(File, ReadersSeeAFileGrowAndHandlesMove) {
    TempDir dir;
    File writer;
    ASSERT_TRUE(writer.Open(dir.Wide("growing"), File::Mode::CreateForWrite));
    File reader;
    ASSERT_TRUE(reader.Open(dir.Wide("growing"), File::Mode::ReadShared));
    std::uint64_t size = 99;
    ASSERT_TRUE(reader.Size(size));
    EXPECT_EQ(size, 0u);
    ASSERT_TRUE(writer.WriteAt(5, "abc", 3));
    ASSERT_TRUE(reader.Size(size));
    EXPECT_EQ(size, 8u);
    char buffer[8];
    std::size_t got = 0;
    EXPECT_FALSE(writer.ReadAt(0, buffer, 8, got));  // the writing handle is write-only
    EXPECT_EQ(writer.LastError(), ERROR_ACCESS_DENIED);
    File moved(std::move(reader));
    EXPECT_FALSE(reader.IsOpen());
    ASSERT_TRUE(moved.ReadAt(0, buffer, 8, got));
    EXPECT_EQ(std::string(buffer, got), std::string("\0\0\0\0\0abc", 8));
    EXPECT_FALSE(reader.Size(size));
    EXPECT_EQ(reader.LastError(), ERROR_INVALID_HANDLE);
    std::uint64_t pathSize = 0;
    EXPECT_TRUE(File::SizeOfPath(dir.Wide("growing"), pathSize));
    EXPECT_EQ(pathSize, 8u);
    EXPECT_FALSE(File::SizeOfPath(dir.Wide("missing"), pathSize));
    EXPECT_FALSE(File::SizeOfPath(Wide(dir.Path()), pathSize));  // a folder has no file size
}

TEST(File, ReplaceFileAtomicallyShowsReadersTheOldOrTheNewFileWhole) {
    TempDir dir;
    const std::wstring path = dir.Wide("target");
    const std::string small(1000, 'a');
    const std::string large(200000, 'b');
    ASSERT_TRUE(ReplaceFileAtomically(path, small.data(), small.size()));
    std::atomic<bool> stop{false};
    std::atomic<int> torn{0};
    std::thread reader([&] {
        while (!stop) {
            std::string content;
            if (!ReadWholeFile(path, content, 1 << 20)) continue;
            if (content != small && content != large) ++torn;
        }
    });
    for (int i = 0; i < 50; ++i) {
        const std::string& next = i % 2 ? small : large;
        ASSERT_TRUE(ReplaceFileAtomically(path, next.data(), next.size()));
    }
    stop = true;
    reader.join();
    EXPECT_EQ(torn, 0);
    // Nothing but the target is left in the folder.
    int entries = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
        EXPECT_EQ(entry.path().filename(), "target");
        ++entries;
    }
    EXPECT_EQ(entries, 1);
}

TEST(File, FailedReplaceLeavesNoTraceAndKeepsTheOldContent) {
    TempDir dir;
    std::filesystem::create_directory(dir.Path() / "folder");
    EXPECT_FALSE(ReplaceFileAtomically(dir.Wide("folder"), "x", 1));  // a folder is not replaced
    EXPECT_TRUE(std::filesystem::is_directory(dir.Path() / "folder"));
    EXPECT_FALSE(ReplaceFileAtomically(dir.Wide("missing/file"), "x", 1));
    int entries = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.Path()))
        ++entries;
    EXPECT_EQ(entries, 1);
    std::string content;
    const auto path = dir.Write("limit", "12345");
    EXPECT_FALSE(ReadWholeFile(Wide(path), content, 4));
    EXPECT_TRUE(ReadWholeFile(Wide(path), content, 5));
    EXPECT_EQ(content, "12345");
}
