#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <string>
#include <thread>

#include "platform/NamedMutex.h"
#include "platform/TextConvert.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempDir.h"

namespace {
using Clock = std::chrono::steady_clock;

// Every test gets its own lock folder and a name no other process uses.
class NamedMutexTest : public ::testing::Test {
  protected:
    TempDir runtime;
    ScopedEnv runtimeDir{"XDG_RUNTIME_DIR", runtime.Path().string()};
    const std::wstring name =
        L"zev-test-" + std::to_wstring(::getpid()) + L"-" +
        Utf8ToWide(::testing::UnitTest::GetInstance()->current_test_info()->name());
};

// Owns one handle, closed at the end of the scope.
struct Handle {
    HANDLE value;
    explicit Handle(const std::wstring& name, BOOL initialOwner = FALSE)
        : value(CreateMutexW(nullptr, initialOwner, name.c_str())) {}
    ~Handle() {
        if (value) CloseHandle(value);
    }
};

// A pipe for one-byte signals between a parent and a forked child.
struct Pipe {
    int ends[2] = {-1, -1};
    Pipe() { EXPECT_EQ(::pipe(ends), 0); }
    ~Pipe() {
        ::close(ends[0]);
        ::close(ends[1]);
    }
    void Send() { ASSERT_EQ(::write(ends[1], "x", 1), 1); }
    bool Receive() {
        char byte;
        return ::read(ends[0], &byte, 1) == 1;
    }
};

// Runs `body` in a forked child, which exits with body's result (0 is success) without running
// any of the parent's exit handlers.
pid_t Fork(const std::function<int()>& body) {
    const pid_t pid = ::fork();
    if (pid == 0) ::_exit(body());
    return pid;
}

int ExitCode(pid_t pid) {
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

long long MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}
}  // namespace

TEST_F(NamedMutexTest, InvalidNamesGiveNull) {
    const std::wstring tooLong(300, L'n');
    for (const wchar_t* invalid :
         {static_cast<const wchar_t*>(nullptr), L"", L"a/b", L"/", L".", L"..", tooLong.c_str()}) {
        HANDLE handle = CreateMutexW(nullptr, FALSE, invalid);
        EXPECT_EQ(handle, nullptr) << (invalid ? WideToUtf8(invalid) : "(null)");
        if (handle) CloseHandle(handle);
    }
    Handle valid(name + L" with spaces, commas and \u00E4");
    EXPECT_NE(valid.value, nullptr);
    EXPECT_EQ(WaitForSingleObjectEx(nullptr, 0, FALSE), WAIT_FAILED);
    EXPECT_FALSE(ReleaseMutex(nullptr));
    EXPECT_FALSE(CloseHandle(nullptr));
}

TEST_F(NamedMutexTest, TheOwningThreadMayWaitAgainAndReleasesEveryLevel) {
    Handle mutex(name);
    ASSERT_NE(mutex.value, nullptr);
    EXPECT_FALSE(ReleaseMutex(mutex.value));  // not owned yet
    EXPECT_EQ(WaitForSingleObjectEx(mutex.value, INFINITE, FALSE), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObjectEx(mutex.value, 0, FALSE), WAIT_OBJECT_0);
    bool otherReleased = true;
    std::thread([&] { otherReleased = ReleaseMutex(mutex.value); }).join();
    EXPECT_FALSE(otherReleased);  // only the owner releases
    EXPECT_TRUE(ReleaseMutex(mutex.value));
    EXPECT_TRUE(ReleaseMutex(mutex.value));
    EXPECT_FALSE(ReleaseMutex(mutex.value));
}

TEST_F(NamedMutexTest, ASecondThreadBlocksUntilTheOwnerReleases) {
    Handle mutex(name);
    ASSERT_EQ(WaitForSingleObjectEx(mutex.value, INFINITE, FALSE), WAIT_OBJECT_0);
    std::atomic<bool> acquired{false};
    std::thread waiter([&] {
        Handle own(name);  // a second handle of the same name
        if (WaitForSingleObjectEx(own.value, INFINITE, FALSE) == WAIT_OBJECT_0) {
            acquired = true;
            ReleaseMutex(own.value);
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(acquired);
    EXPECT_TRUE(ReleaseMutex(mutex.value));
    waiter.join();
    EXPECT_TRUE(acquired);
}

TEST_F(NamedMutexTest, TimedWaitsGiveUpAfterTheirTime) {
    Handle mutex(name);
    std::promise<void> held, done;
    std::thread owner([&] {
        Handle own(name);
        WaitForSingleObjectEx(own.value, INFINITE, FALSE);
        held.set_value();
        done.get_future().wait();
        ReleaseMutex(own.value);
    });
    held.get_future().wait();
    auto start = Clock::now();
    EXPECT_EQ(WaitForSingleObjectEx(mutex.value, 0, FALSE), WAIT_TIMEOUT);
    EXPECT_LT(MillisecondsSince(start), 50);
    start = Clock::now();
    EXPECT_EQ(WaitForSingleObjectEx(mutex.value, 100, FALSE), WAIT_TIMEOUT);
    EXPECT_GE(MillisecondsSince(start), 100);
    EXPECT_FALSE(ReleaseMutex(mutex.value));
    done.set_value();
    owner.join();
    EXPECT_EQ(WaitForSingleObjectEx(mutex.value, 1000, FALSE), WAIT_OBJECT_0);
    EXPECT_TRUE(ReleaseMutex(mutex.value));
}

TEST_F(NamedMutexTest, InitialOwnershipIsTakenOnlyWhenFree) {
    Handle first(name, TRUE);
    ASSERT_NE(first.value, nullptr);
    // Another thread asking for initial ownership gets a handle at once, without ownership.
    auto second = std::async(std::launch::async, [&] {
        Handle other(name, TRUE);
        return other.value != nullptr && !ReleaseMutex(other.value);
    });
    const bool prompt = second.wait_for(std::chrono::seconds(2)) == std::future_status::ready;
    EXPECT_TRUE(prompt) << "CreateMutexW waited for the owner";
    EXPECT_TRUE(ReleaseMutex(first.value));
    EXPECT_TRUE(second.get());
}

TEST_F(NamedMutexTest, TwoProcessesExcludeEachOther) {
    Pipe held, go;
    const pid_t child = Fork([&] {
        Handle mutex(name);
        if (WaitForSingleObjectEx(mutex.value, INFINITE, FALSE) != WAIT_OBJECT_0) return 1;
        held.Send();
        go.Receive();
        return ReleaseMutex(mutex.value) ? 0 : 2;
    });
    ASSERT_TRUE(held.Receive());
    Handle mutex(name);
    EXPECT_EQ(WaitForSingleObjectEx(mutex.value, 100, FALSE), WAIT_TIMEOUT);
    go.Send();
    EXPECT_EQ(WaitForSingleObjectEx(mutex.value, 5000, FALSE), WAIT_OBJECT_0);
    EXPECT_TRUE(ReleaseMutex(mutex.value));
    EXPECT_EQ(ExitCode(child), 0);
}

TEST_F(NamedMutexTest, AProcessThatDiesReleasesTheLock) {
    Pipe held;
    const pid_t child = Fork([&] {
        Handle mutex(name);
        WaitForSingleObjectEx(mutex.value, INFINITE, FALSE);
        held.Send();
        for (;;) ::pause();  // killed while owning
        return 0;
    });
    ASSERT_TRUE(held.Receive());
    Handle mutex(name);
    EXPECT_EQ(WaitForSingleObjectEx(mutex.value, 50, FALSE), WAIT_TIMEOUT);
    ::kill(child, SIGKILL);
    EXPECT_EQ(ExitCode(child), 128 + SIGKILL);
    EXPECT_EQ(WaitForSingleObjectEx(mutex.value, 5000, FALSE), WAIT_OBJECT_0);
    EXPECT_TRUE(ReleaseMutex(mutex.value));
}

TEST_F(NamedMutexTest, AForkedChildInheritsNoOwnership) {
    Handle mutex(name);
    ASSERT_EQ(WaitForSingleObjectEx(mutex.value, INFINITE, FALSE), WAIT_OBJECT_0);
    Pipe waiting;
    const pid_t child = Fork([&] {
        // The inherited handle and a new one both see a mutex owned by another process.
        if (ReleaseMutex(mutex.value)) return 1;
        if (WaitForSingleObjectEx(mutex.value, 50, FALSE) != WAIT_TIMEOUT) return 2;
        Handle fresh(name);
        if (WaitForSingleObjectEx(fresh.value, 50, FALSE) != WAIT_TIMEOUT) return 3;
        waiting.Send();
        if (WaitForSingleObjectEx(mutex.value, 5000, FALSE) != WAIT_OBJECT_0) return 4;
        return ReleaseMutex(mutex.value) ? 0 : 5;
    });
    ASSERT_TRUE(waiting.Receive());
    EXPECT_TRUE(ReleaseMutex(mutex.value));
    EXPECT_EQ(ExitCode(child), 0);
}

TEST_F(NamedMutexTest, AChildKeepsNoLockOfAParentThatDied) {
    Pipe orphanStarted, finish;
    const pid_t child = Fork([&] {
        Handle mutex(name);
        WaitForSingleObjectEx(mutex.value, INFINITE, FALSE);
        Fork([&] {
            orphanStarted.Send();
            finish.Receive();  // lives on after its parent, holding no handle of its own
            return 0;
        });
        return 0;  // exits while owning
    });
    ASSERT_TRUE(orphanStarted.Receive());
    EXPECT_EQ(ExitCode(child), 0);
    Handle mutex(name);
    EXPECT_EQ(WaitForSingleObjectEx(mutex.value, 2000, FALSE), WAIT_OBJECT_0);
    EXPECT_TRUE(ReleaseMutex(mutex.value));
    finish.Send();
}

TEST_F(NamedMutexTest, AnUnsafeLockFolderIsNotUsed) {
    const std::string folder = runtime.Path().string() + "/zev-locks-" + std::to_string(::getuid());
    // A symbolic link in place of the folder could send lock files anywhere.
    TempDir elsewhere;
    ASSERT_EQ(::symlink(elsewhere.Path().c_str(), folder.c_str()), 0);
    EXPECT_EQ(Handle(name).value, nullptr);
    ASSERT_EQ(::unlink(folder.c_str()), 0);
    // A folder that others may write is made private before use.
    ASSERT_EQ(::mkdir(folder.c_str(), 0777), 0);
    ASSERT_EQ(::chmod(folder.c_str(), 0777), 0);
    Handle mutex(name);
    EXPECT_NE(mutex.value, nullptr);
    struct stat info {};
    ASSERT_EQ(::stat(folder.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
}
