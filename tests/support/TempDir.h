// A temporary folder for one test, removed with everything in it when the test ends; a path as
// the platform calls take it; and a file's bytes.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <string>
#include <string_view>

#include "platform/TextConvert.h"

// `path` as a wide string for the platform calls (the stand-in takes UTF-8 paths as UTF-32).
inline std::wstring WidePath(const std::filesystem::path& path) {
#ifdef _WIN32
    return path.wstring();
#else
    return Utf8ToWide(path.string());
#endif
}

class TempDir {
  public:
    TempDir() {
        const std::filesystem::path base = std::filesystem::temp_directory_path();
#ifdef _WIN32
        // A fresh name under the user's temporary folder (no mkdtemp): create_directory fails
        // for a name that exists, so the folder is ours alone.
        std::random_device random;
        for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
            const std::filesystem::path candidate = base / ("flvtest-" + std::to_string(random()));
            std::error_code error;
            if (std::filesystem::create_directory(candidate, error)) path_ = candidate;
        }
        if (path_.empty()) throw std::runtime_error("no temporary folder");
#else
        std::string pattern = (base / "flvtest-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("no temporary folder");
        path_ = pattern;
#endif
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& Path() const {
        return path_;
    }
    // Path of `name` inside the folder, as a wide string for the platform calls.
    std::wstring Wide(std::string_view name) const {
        return WidePath(path_ / name);
    }
    // Writes `bytes` to `name` inside the folder and returns its path.
    std::filesystem::path Write(std::string_view name, std::string_view bytes) const {
        std::ofstream(path_ / name, std::ios::binary)
            .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return path_ / name;
    }

  private:
    std::filesystem::path path_;
};

// A file's bytes (empty when it cannot be read).
inline std::string FileBytes(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
