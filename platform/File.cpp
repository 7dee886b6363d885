#include "platform/File.h"

#include "platform/LargePages.h"

bool ReadWholeFile(std::wstring_view path, std::string& content, std::uint64_t limit) {
    File file;
    std::uint64_t size = 0;
    if (!file.Open(path, File::Mode::ReadShared) || !file.Size(size) || size > limit) return false;
    content.reserve(static_cast<std::size_t>(size));
    AdviseLargePages(content.data(), content.capacity());
    content.resize(static_cast<std::size_t>(size));
    std::size_t got = 0;
    if (!file.ReadAt(0, content.data(), content.size(), got)) return false;
    content.resize(got);  // the file may have shrunk meanwhile
    return true;
}
