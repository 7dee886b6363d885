#include "platform/NamedMutex.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <utility>

#include "platform/TextConvert.h"

namespace {
using Clock = std::chrono::steady_clock;

// Longest name accepted, so that the lock file name stays within the system's 255 bytes.
constexpr std::size_t kMaxNameBytes = 240;

// The state of one name inside one process. Every handle of the name in the process shares it:
// threads of the process exclude each other here, and the owning thread alone holds the lock
// file that excludes other processes. A state made before a fork belongs to the parent; the
// child makes its own (see Resolve).
struct MutexState {
    std::string name;
    std::string lockPath;
    pid_t process = ::getpid();
    std::mutex lock;
    std::condition_variable released;
    std::thread::id owner;
    unsigned recursion = 0;
    int descriptor = -1;  // the flocked lock file, open only while owned

    // The last handle closed while a thread still owned the name: the lock goes with it.
    ~MutexState();
};

struct MutexHandle {
    std::shared_ptr<MutexState> state;  // guarded by g_registryLock
};

// The names open in this process. Lock order: g_registryLock before g_descriptorLock.
std::mutex g_registryLock;
std::map<std::string, std::weak_ptr<MutexState>>& Registry() {
    static auto* registry = new std::map<std::string, std::weak_ptr<MutexState>>;
    return *registry;
}

// Every lock file descriptor this process has open. A forked child closes its copies at once, so
// that no child keeps its parent's lock alive after the parent has died or released it (a flock
// belongs to the open file, which the copies share).
std::mutex g_descriptorLock;
std::set<int>& Descriptors() {
    static auto* descriptors = new std::set<int>;
    return *descriptors;
}

void BeforeFork() {
    g_registryLock.lock();
    g_descriptorLock.lock();
}
void AfterForkInParent() {
    g_descriptorLock.unlock();
    g_registryLock.unlock();
}
void AfterForkInChild() {
    for (int descriptor : Descriptors()) ::close(descriptor);
    Descriptors().clear();
    g_descriptorLock.unlock();
    g_registryLock.unlock();
}

void InstallForkHandlers() {
    static const bool installed =
        ::pthread_atfork(BeforeFork, AfterForkInParent, AfterForkInChild) == 0;
    (void)installed;
}

int OpenLockFile(const std::string& path) {
    std::lock_guard guard(g_descriptorLock);
    const int descriptor = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (descriptor >= 0) Descriptors().insert(descriptor);
    return descriptor;
}

void CloseLockFile(int descriptor) {
    std::lock_guard guard(g_descriptorLock);
    Descriptors().erase(descriptor);
    ::close(descriptor);
}

// A state left over from the parent has no descriptor of this process to close.
MutexState::~MutexState() {
    if (descriptor >= 0 && process == ::getpid()) CloseLockFile(descriptor);
}

// The per-user lock folder, made private; empty when it is not safe to use (not a folder of its
// own, or owned by someone else).
std::string LockFolder() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    const std::string base = (runtime != nullptr && runtime[0] == '/') ? runtime : "/tmp";
    const std::string folder = base + "/zev-locks-" + std::to_string(::getuid());
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return {};
    struct stat info {};
    if (::lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::getuid())
        return {};
    if ((info.st_mode & 077) != 0 && ::chmod(folder.c_str(), 0700) != 0) return {};
    return folder;
}

bool ValidName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.size() <= kMaxNameBytes;
}

// This process's state for `name`, made when there is none (or only the parent's, after a
// fork). The caller holds g_registryLock.
std::shared_ptr<MutexState> StateFor(const std::string& name, const std::string& folder) {
    std::weak_ptr<MutexState>& slot = Registry()[name];
    std::shared_ptr<MutexState> state = slot.lock();
    if (!state || state->process != ::getpid()) {
        state = std::make_shared<MutexState>();
        state->name = name;
        state->lockPath = folder + "/" + name;
        slot = state;
    }
    return state;
}

// The state a handle stands for in this process: a handle inherited through fork refers to the
// name afresh in the child, which owns nothing of its parent's.
std::shared_ptr<MutexState> Resolve(MutexHandle& handle) {
    std::lock_guard guard(g_registryLock);
    if (handle.state->process != ::getpid()) {
        const std::string& path = handle.state->lockPath;
        handle.state = StateFor(handle.state->name, path.substr(0, path.rfind('/')));
    }
    return handle.state;
}

enum class LockResult { Locked, TimedOut, Failed };

// Takes the cross-process lock by the deadline (none: no limit); with a limit it polls.
LockResult LockFile(MutexState& state, std::optional<Clock::time_point> deadline) {
    const int descriptor = OpenLockFile(state.lockPath);
    if (descriptor < 0) return LockResult::Failed;
    for (;;) {
        if (::flock(descriptor, deadline ? LOCK_EX | LOCK_NB : LOCK_EX) == 0) {
            state.descriptor = descriptor;
            return LockResult::Locked;
        }
        if (errno != EINTR && errno != EWOULDBLOCK) break;
        if (deadline && Clock::now() >= *deadline) {
            CloseLockFile(descriptor);
            return LockResult::TimedOut;
        }
        if (deadline) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    CloseLockFile(descriptor);
    return LockResult::Failed;
}
}  // namespace

HANDLE CreateMutexW(void* /*securityAttributes*/, BOOL initialOwner, const wchar_t* name) {
    if (name == nullptr) return nullptr;
    const std::string utf8Name = WideToUtf8(name);
    if (!ValidName(utf8Name)) return nullptr;
    InstallForkHandlers();
    const std::string folder = LockFolder();
    if (folder.empty()) return nullptr;
    auto* handle = new MutexHandle;
    {
        std::lock_guard guard(g_registryLock);
        handle->state = StateFor(utf8Name, folder);
    }
    // Ownership only when it can be had at once: Windows gives it to the creator of a new mutex.
    if (initialOwner) (void)WaitForSingleObjectEx(handle, 0, FALSE);
    return handle;
}

DWORD WaitForSingleObjectEx(HANDLE handle, DWORD milliseconds, BOOL /*alertable*/) {
    if (handle == nullptr) return WAIT_FAILED;
    const std::shared_ptr<MutexState> state = Resolve(*static_cast<MutexHandle*>(handle));
    std::optional<Clock::time_point> deadline;
    if (milliseconds != INFINITE) deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    const auto self = std::this_thread::get_id();
    std::unique_lock guard(state->lock);
    if (state->recursion > 0 && state->owner == self) {
        ++state->recursion;
        return WAIT_OBJECT_0;
    }
    const auto isFree = [&] { return state->recursion == 0; };
    if (!deadline) {
        state->released.wait(guard, isFree);
    } else if (!state->released.wait_until(guard, *deadline, isFree)) {
        return WAIT_TIMEOUT;
    }
    // This thread now holds the name within the process; take the file lock for the rest of the
    // same time.
    state->owner = self;
    state->recursion = 1;
    guard.unlock();
    const LockResult result = LockFile(*state, deadline);
    if (result == LockResult::Locked) return WAIT_OBJECT_0;
    guard.lock();
    state->recursion = 0;
    state->owner = {};
    state->released.notify_one();
    return result == LockResult::TimedOut ? WAIT_TIMEOUT : WAIT_FAILED;
}

BOOL ReleaseMutex(HANDLE handle) {
    if (handle == nullptr) return FALSE;
    const std::shared_ptr<MutexState> state = Resolve(*static_cast<MutexHandle*>(handle));
    std::lock_guard guard(state->lock);
    if (state->recursion == 0 || state->owner != std::this_thread::get_id()) return FALSE;
    if (--state->recursion == 0) {
        CloseLockFile(std::exchange(state->descriptor, -1));  // closing releases the flock
        state->owner = {};
        state->released.notify_one();
    }
    return TRUE;
}

BOOL CloseHandle(HANDLE handle) {
    if (handle == nullptr) return FALSE;
    auto* mutexHandle = static_cast<MutexHandle*>(handle);
    {
        std::lock_guard guard(g_registryLock);
        const std::string name = mutexHandle->state->name;
        mutexHandle->state.reset();
        auto it = Registry().find(name);
        if (it != Registry().end() && it->second.expired()) Registry().erase(it);
    }
    delete mutexHandle;
    return TRUE;
}
