// Every file under tests/data/invalid/ (inputs that once broke the component, kept when the
// fault was mended) goes through every fuzz target's entry point: the FLV walk and its growth,
// tag reads, the script body reader, the container file loader, the stored index load, and
// FlashFile5 opening and reading the file. Each entry point checks what must hold for any input
// and aborts otherwise; here each must also finish in bounded time.
#include <gtest/gtest.h>

#include <chrono>

#include "tests/reliability/ReliabilityHarness.h"
#include "tests/support/ComponentTestSupport.h"

TEST(InvalidInputTest, EveryFileThroughEveryEntryPointEndsCleanlyInBoundedTime) {
    // Far above what any of these inputs needs, far below a hang (the inputs that hung took
    // hours).
    constexpr auto kBound = std::chrono::seconds(60);
    // Walk, tag, script, params, stored index, file.
    constexpr int (*kEntryPoints[])(const std::uint8_t*, std::size_t) = {
        FuzzWalk, FuzzTag, FuzzScript, FuzzParams, FuzzStoredIndex, FuzzFile};
    int files = 0;
    for (const auto& file :
         std::filesystem::directory_iterator(FLV_SOURCE_DIR "/tests/data/invalid")) {
        ++files;
        const std::string bytes = FileBytes(file.path());
        const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
        for (std::size_t i = 0; i < std::size(kEntryPoints); ++i) {
            const auto start = std::chrono::steady_clock::now();
            EXPECT_EQ(kEntryPoints[i](data, bytes.size()), 0);
            EXPECT_LT(std::chrono::steady_clock::now() - start, kBound)
                << file.path().filename() << " through entry point " << i;
        }
    }
    EXPECT_GT(files, 0);
}
