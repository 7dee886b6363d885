#include "tests/reliability/ReliabilityHarness.h"

#ifdef _WIN32
#include <map>
#include <mutex>
#else
#include <spawn.h>
#include <sys/wait.h>
#endif

#include "flv/StoredIndex.h"
#include "platform/TextConvert.h"
#include "tests/support/TempDir.h"

ScannedFile ScanFile(const std::filesystem::path& file) {
    CFLV_Manager manager;
    WalkFile(file, manager);
    return {manager.videoIndex.ToVector(), manager.audioIndex.ToVector(), manager.facts};
}

void StoredIndexIn(IMediaParams* cache, std::vector<IndexEntry>& video,
                   std::vector<IndexEntry>& audio) {
    IndexArray videoIndex;
    IndexArray audioIndex;
    for (const wchar_t* name : {L"FileVideoIndexes", L"FileAudioIndexes"}) {
        ComPtr<IStream> stream;
        if (FAILED(cache->GetStream(Bstr(name).Get(), 0, 1, stream.Put())) || !stream) continue;
        StoredIndexExtras extras;
        (void)ReadStoredIndex(stream.Get(), extras, videoIndex, audioIndex);
    }
    video = videoIndex.ToVector();
    audio = audioIndex.ToVector();
}

bool StoredIndexOf(const std::filesystem::path& cacheFile, std::vector<IndexEntry>& video,
                   std::vector<IndexEntry>& audio) {
    ComPtr<IMediaParams> cache = NewContainer();
    StoredIndexIn(cache.Get(), video, audio);  // empty
    if (cache->LoadFromFile(Bstr(WidePath(cacheFile)).Get()) != S_OK) return false;
    StoredIndexIn(cache.Get(), video, audio);
    return true;
}

bool HoldsIndex(const std::filesystem::path& cacheFile, const ScannedFile& scanned, bool video) {
    std::vector<IndexEntry> index[2];
    return StoredIndexOf(cacheFile, index[0], index[1]) &&
           index[video ? 0 : 1] == (video ? scanned.video : scanned.audio);
}

#ifdef _WIN32
namespace {
// The handles of the workers started and not yet waited for, by process id.
std::mutex g_workersLock;
std::map<int, HANDLE> g_workers;
}  // namespace

int StartWorker(const std::vector<std::string>& arguments) {
    std::wstring commandLine =
        L"\"" + Utf8ToWide(FLV_BINARY_DIR "/bin/reliability_worker.exe") + L"\"";
    for (const std::string& argument : arguments)
        commandLine += L" \"" + Utf8ToWide(argument) + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &startup, &process)) {
        return -1;
    }
    CloseHandle(process.hThread);
    const std::lock_guard lock(g_workersLock);
    g_workers[static_cast<int>(process.dwProcessId)] = process.hProcess;
    return static_cast<int>(process.dwProcessId);
}

bool WorkerEnded(int pid, int& status, bool poll) {
    HANDLE process = nullptr;
    {
        const std::lock_guard lock(g_workersLock);
        const auto found = g_workers.find(pid);
        if (found == g_workers.end()) {
            status = -1;
            return true;
        }
        process = found->second;
    }
    if (WaitForSingleObject(process, poll ? 0 : INFINITE) != WAIT_OBJECT_0) return false;
    DWORD code = 0;
    status = GetExitCodeProcess(process, &code) ? static_cast<int>(code) : -1;
    CloseHandle(process);
    const std::lock_guard lock(g_workersLock);
    g_workers.erase(pid);
    return true;
}
#else
int StartWorker(const std::vector<std::string>& arguments) {
    std::vector<std::string> words = {FLV_BINARY_DIR "/bin/reliability_worker"};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    return ::posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) == 0 ? pid : -1;
}

bool WorkerEnded(int pid, int& status, bool poll) {
    int raw = 0;
    const pid_t ended = ::waitpid(pid, &raw, poll ? WNOHANG : 0);
    if (ended == 0) return false;
    status = ended == pid && WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return true;
}
#endif
