// Every file under tests/data/invalid/ (inputs that once broke the component, kept when the
// fault was mended) goes through every fuzz target's entry point: the FLV walk and its growth,
// tag reads, the script body reader, the container file loader, the stored index load, and
// FlashFile5 opening and reading the file. Each entry point checks what must hold for any input
// and aborts otherwise; here each must also finish in bounded time.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "fuzz/FuzzTargets.h"
#include "tests/reliability/ReliabilityHarness.h"

namespace {
// Far above what any of these inputs needs, far below a hang (the inputs that hung took hours).
constexpr auto kBound = std::chrono::seconds(60);

struct EntryPoint {
    const char* name;
    int (*run)(const std::uint8_t*, std::size_t);
};
constexpr EntryPoint kEntryPoints[] = {
    {"walk", FuzzWalk},
    {"tag", FuzzTag},
    {"script", FuzzScript},
    {"params", FuzzParams},
    {"stored_index", FuzzStoredIndex},
    {"file", FuzzFile},
};

std::vector<std::filesystem::path> InvalidFiles() {
    std::vector<std::filesystem::path> files;
    const std::filesystem::path folder = FLV_SOURCE_DIR "/tests/data/invalid";
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (entry.is_regular_file()) files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}
}  // namespace

TEST(InvalidInputTest, EveryFileThroughEveryEntryPointEndsCleanlyInBoundedTime) {
    const std::vector<std::filesystem::path> files = InvalidFiles();
    ASSERT_FALSE(files.empty());
    for (const std::filesystem::path& file : files) {
        const std::string bytes = ReadWhole(file);
        for (const EntryPoint& entry : kEntryPoints) {
            const auto start = std::chrono::steady_clock::now();
            EXPECT_EQ(entry.run(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()),
                      0);
            EXPECT_LT(std::chrono::steady_clock::now() - start, kBound)
                << file.filename() << " through " << entry.name;
        }
    }
}
