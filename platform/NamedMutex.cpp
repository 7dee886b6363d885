#include "platform/NamedMutex.h"

#include <fcntl.h>
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
#include <string>
#include <thread>

#include "platform/TextConvert.h"

namespace {
// The state of one name inside this process. Every handle of the name shares it, so that
// threads of this process exclude each other here and only the owning thread holds the flock
// that excludes other processes.
struct MutexState {
    std::string lockPath;
    std::mutex lock;
    std::condition_variable released;
    std::thread::id owner;
    unsigned recursion = 0;
    int descriptor = -1;

    ~MutexState() {
        if (descriptor >= 0) ::close(descriptor);
    }
};

struct MutexHandle {
    std::shared_ptr<MutexState> state;
};

std::mutex g_registryLock;
std::map<std::string, std::weak_ptr<MutexState>>& Registry() {
    static auto* registry = new std::map<std::string, std::weak_ptr<MutexState>>;
    return *registry;
}

std::string LockFolder() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    std::string base = (runtime != nullptr && runtime[0] == '/') ? runtime : "/tmp";
    return base + "/zev-locks-" + std::to_string(::getuid());
}

bool ValidName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.size() < 240;
}

// Takes the cross-process lock; with a time limit it polls.
bool LockFile(MutexState& state, DWORD milliseconds) {
    if (state.descriptor < 0) {
        state.descriptor = ::open(state.lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (state.descriptor < 0) return false;
    }
    if (milliseconds == INFINITE) {
        while (::flock(state.descriptor, LOCK_EX) != 0) {
            if (errno != EINTR) return false;
        }
        return true;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    for (;;) {
        if (::flock(state.descriptor, LOCK_EX | LOCK_NB) == 0) return true;
        if (errno != EWOULDBLOCK && errno != EINTR) return false;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}
}  // namespace

HANDLE CreateMutexW(void* /*securityAttributes*/, BOOL initialOwner, const wchar_t* name) {
    if (name == nullptr) return nullptr;
    const std::string utf8Name = WideToUtf8(name);
    if (!ValidName(utf8Name)) return nullptr;
    const std::string folder = LockFolder();
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return nullptr;
    std::shared_ptr<MutexState> state;
    {
        std::lock_guard guard(g_registryLock);
        std::weak_ptr<MutexState>& slot = Registry()[utf8Name];
        state = slot.lock();
        if (!state) {
            state = std::make_shared<MutexState>();
            state->lockPath = folder + "/" + utf8Name;
            slot = state;
        }
    }
    auto* handle = new MutexHandle{std::move(state)};
    if (initialOwner && WaitForSingleObjectEx(handle, INFINITE, FALSE) != WAIT_OBJECT_0) {
        delete handle;
        return nullptr;
    }
    return handle;
}

DWORD WaitForSingleObjectEx(HANDLE handle, DWORD milliseconds, BOOL /*alertable*/) {
    if (handle == nullptr) return WAIT_FAILED;
    MutexState& state = *static_cast<MutexHandle*>(handle)->state;
    const auto self = std::this_thread::get_id();
    std::unique_lock guard(state.lock);
    if (state.recursion > 0 && state.owner == self) {
        ++state.recursion;
        return WAIT_OBJECT_0;
    }
    const auto isFree = [&] { return state.recursion == 0; };
    if (milliseconds == INFINITE) {
        state.released.wait(guard, isFree);
    } else if (!state.released.wait_for(guard, std::chrono::milliseconds(milliseconds), isFree)) {
        return WAIT_TIMEOUT;
    }
    // This thread now holds the name within the process; take the file lock for the rest.
    state.owner = self;
    state.recursion = 1;
    guard.unlock();
    if (!LockFile(state, milliseconds)) {
        guard.lock();
        state.recursion = 0;
        state.owner = {};
        state.released.notify_one();
        return milliseconds == INFINITE ? WAIT_FAILED : WAIT_TIMEOUT;
    }
    return WAIT_OBJECT_0;
}

BOOL ReleaseMutex(HANDLE handle) {
    if (handle == nullptr) return FALSE;
    MutexState& state = *static_cast<MutexHandle*>(handle)->state;
    std::lock_guard guard(state.lock);
    if (state.recursion == 0 || state.owner != std::this_thread::get_id()) return FALSE;
    if (--state.recursion == 0) {
        ::flock(state.descriptor, LOCK_UN);
        state.owner = {};
        state.released.notify_one();
    }
    return TRUE;
}

BOOL CloseHandle(HANDLE handle) {
    if (handle == nullptr) return FALSE;
    auto* mutexHandle = static_cast<MutexHandle*>(handle);
    {
        std::lock_guard guard(g_registryLock);
        const std::string path = mutexHandle->state->lockPath;
        const std::string name = path.substr(path.rfind('/') + 1);
        mutexHandle->state.reset();
        auto it = Registry().find(name);
        if (it != Registry().end() && it->second.expired()) Registry().erase(it);
    }
    delete mutexHandle;
    return TRUE;
}
