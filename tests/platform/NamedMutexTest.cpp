// Named mutexes across threads and processes: names, recursion and ownership,
// exclusion between processes (a forked child inheriting no ownership), locks that die with
// their process, and the lock folder.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

#include "platform/NamedMutex.h"
#include "platform/TextConvert.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempDir.h"

namespace {
// Owns one handle, closed at the end of the scope.
struct Handle {
    HANDLE value;
    explicit Handle(const std::wstring& name) : value(CreateMutexW(nullptr, FALSE, name.c_str())) {}
    ~Handle() { CloseHandle(value); }  // null is refused harmlessly
    DWORD Wait(DWORD milliseconds) const { return WaitForSingleObjectEx(value, milliseconds, 0); }
};

// A pipe for one-byte signals between a parent and a forked child.
struct Pipe {
    int ends[2] = {-1, -1};
    Pipe() { EXPECT_EQ(::pipe(ends), 0); }
    ~Pipe() { ::close(ends[0]), ::close(ends[1]); }
    void Send() { ASSERT_EQ(::write(ends[1], "x", 1), 1); }
    bool Receive() { return ::read(ends[0], buffer, 1) == 1; }
    char buffer[1];
};

// Runs `body` in a forked child, which exits with body's result (0 is success) without running
// any of the parent's exit handlers.
template <class Body>
pid_t Fork(const Body& body) {
    const pid_t pid = ::fork();
    if (pid == 0) ::_exit(body());
    return pid;
}

// Every test gets its own lock folder, which no other process uses.
class NamedMutexTest : public ::testing::Test {
  protected:
    TempDir runtime;
    ScopedEnv runtimeDir{"XDG_RUNTIME_DIR", runtime.Path().string()};
    const std::wstring name = L"zev-test";
};
}  // namespace

TEST_F(NamedMutexTest, NamesAndRecursionWithinAThread) {
    const std::wstring tooLong(300, L'n');
    for (const wchar_t* invalid : {L"", L"a/b", L".", L"..", tooLong.c_str()})
        EXPECT_EQ(Handle(invalid).value, nullptr) << WideToUtf8(invalid);
    Handle mutex(name);
    ASSERT_NE(mutex.value, nullptr);
    EXPECT_FALSE(ReleaseMutex(mutex.value));  // not owned yet
    EXPECT_EQ(mutex.Wait(INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(mutex.Wait(0), WAIT_OBJECT_0);  // the owner may wait again
    bool otherReleased = true;
    std::thread([&] { otherReleased = ReleaseMutex(mutex.value); }).join();
    EXPECT_FALSE(otherReleased);  // only the owner releases
    EXPECT_TRUE(ReleaseMutex(mutex.value));
    EXPECT_TRUE(ReleaseMutex(mutex.value));
    EXPECT_FALSE(ReleaseMutex(mutex.value));  // every level given up
}

TEST_F(NamedMutexTest, ProcessesExcludeEachOtherAndALockDiesWithItsProcess) {
    Handle mutex(name);
    ASSERT_EQ(mutex.Wait(INFINITE), WAIT_OBJECT_0);
    Pipe waiting, orphanStarted, finish;
    const pid_t child = Fork([&] {
        // The inherited handle and a new one both see a mutex owned by another process.
        if (ReleaseMutex(mutex.value)) return 1;
        if (mutex.Wait(50) != WAIT_TIMEOUT || Handle(name).Wait(50) != WAIT_TIMEOUT) return 2;
        waiting.Send();
        if (mutex.Wait(5000) != WAIT_OBJECT_0) return 3;
        // A grandchild that outlives this owner keeps no copy of its lock.
        Fork([&] {
            orphanStarted.Send();
            finish.Receive();
            return 0;
        });
        return 0;  // exits while owning, without closing its handle
    });
    ASSERT_TRUE(waiting.Receive());
    EXPECT_TRUE(ReleaseMutex(mutex.value));
    ASSERT_TRUE(orphanStarted.Receive());
    int status = -1;
    EXPECT_TRUE(::waitpid(child, &status, 0) == child && WIFEXITED(status) &&
                WEXITSTATUS(status) == 0);
    EXPECT_EQ(mutex.Wait(2000), WAIT_OBJECT_0);
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
    EXPECT_NE(Handle(name).value, nullptr);
    struct stat info {};
    ASSERT_EQ(::stat(folder.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
}
