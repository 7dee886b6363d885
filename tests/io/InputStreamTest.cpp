#include <gtest/gtest.h>
#ifndef _WIN32
#include <unistd.h>
#endif

#include <array>
#include <filesystem>
#include <optional>
#include <string>

#include "io/InputStream.h"
#include "tests/support/TempDir.h"

namespace {
constexpr std::uint64_t kWindow = CInputStream::kDefaultWindowCapacity;  // 262,144

// fileSize, windowStart, length, windowCapacity and Tell() of a stream.
using Window = std::array<std::uint64_t, 5>;

class InputStreamTest : public ::testing::Test {
  protected:
    // Writes `bytes` to a new file (by default `size` bytes whose values reveal a read at the
    // wrong place) and opens a new stream on it.
    void OpenBytes(std::size_t size, std::string bytes = {}) {
        for (std::size_t i = bytes.size(); i < size; ++i) {
            bytes += static_cast<char>((i * 31 + (i >> 8) * 7 + (i >> 16) * 13) & 0xFF);
        }
        content = bytes;
        temp.Write("input.bin", bytes);
        stream.emplace();
        stream->Open(temp.Wide("input.bin"));
    }
    Window State() const {
        return {stream->FileSize(), stream->WindowStart(), stream->Length(),
                stream->WindowCapacity(), stream->Tell()};
    }
    // The big-endian 32-bit value of the file at `offset`.
    std::uint32_t Expected32(std::size_t offset) const {
        std::uint32_t value = 0;
        for (int i = 0; i < 4; ++i) value = (value << 8) | std::uint8_t(content[offset + i]);
        return value;
    }
    // The UI32 at the cursor, or ~0 when the read fails.
    std::uint32_t U32() {
        std::uint32_t value = 0;
        return stream->ReadValue(value, FieldType::UI32) ? value : ~0u;
    }
    // The UI8 at the cursor; checks that it fails with 0 when `expectFailure`.
    std::uint8_t U8(bool expectFailure = false) {
        std::uint8_t value = 0xAA;
        EXPECT_EQ(stream->ReadValue(value, FieldType::UI8), !expectFailure);
        EXPECT_TRUE(!expectFailure || value == 0) << int{value};
        return value;
    }

    TempDir temp;
    std::string content;
    std::optional<CInputStream> stream;
};

TEST_F(InputStreamTest, EmptyAndSmallFilesAreLoadedWholeAndEndCleanly) {
    OpenBytes(0);
    U8(true);
    EXPECT_FALSE(stream->SeekTo(0));
    EXPECT_EQ(State(), (Window{0, 0, 0, kWindow, 0}));

    OpenBytes(100);
    EXPECT_EQ(State(), (Window{100, 0, 100, kWindow, 0}));
    const std::uint64_t readBefore = File::TotalBytesRead();
    // Counts beyond the file allocate nothing, however large.
    std::unique_ptr<BYTE[]> block;
    EXPECT_FALSE(stream->ReadBytes(block, 101));
    EXPECT_FALSE(stream->ReadBytes(block, UINT64_MAX));
    EXPECT_EQ(block, nullptr);
    ASSERT_TRUE(stream->SeekTo(96));
    EXPECT_EQ(U32(), Expected32(96));
    U8(true);
    EXPECT_EQ(State(), (Window{100, 0, 100, kWindow, 100}));
    EXPECT_EQ(File::TotalBytesRead(), readBefore);  // served from the window alone
}

TEST_F(InputStreamTest, RefillStartsTheWindowAtTheCursorAndTheEndIsExact) {
    OpenBytes(300000);
    EXPECT_EQ(State(), (Window{300000, 0, kWindow, kWindow, 0}));
    // One byte left in the window: the peek's first 2-byte piece reloads the window at the
    // cursor (one read of the rest of the file), and the peek puts the cursor back.
    ASSERT_TRUE(stream->SeekTo(kWindow - 1));
    const std::uint64_t readBefore = File::TotalBytesRead();
    std::uint32_t value = 0;
    ASSERT_TRUE(stream->PeekValue(value, FieldType::UI32));
    EXPECT_EQ(value, Expected32(kWindow - 1));
    EXPECT_EQ(State(), (Window{300000, kWindow - 1, 300000 - (kWindow - 1), kWindow, kWindow - 1}));
    EXPECT_EQ(U32(), Expected32(kWindow - 1));
    // The last field of the file is inside the new window: no further I/O.
    ASSERT_TRUE(stream->SeekTo(299996));
    EXPECT_EQ(U32(), Expected32(299996));
    EXPECT_EQ(File::TotalBytesRead() - readBefore, 300000 - (kWindow - 1));

    ASSERT_TRUE(stream->SeekTo(1000));
    EXPECT_FALSE(stream->SeekTo(300000));
    EXPECT_EQ(stream->Tell(), 1000u);
    // The bytes right up to the end of the file are one valid request; one more is not.
    EXPECT_TRUE(stream->EnsureAvailable(300000 - 1000));
    EXPECT_FALSE(stream->EnsureAvailable(300000 - 1000 + 1));
    ASSERT_TRUE(stream->SeekTo(299999));
    EXPECT_EQ(U8(), std::uint8_t(content[299999]));
}

TEST_F(InputStreamTest, LargeRequestRaisesTheCapacityForLaterReloads) {
    OpenBytes(2000000);
    ASSERT_TRUE(stream->EnsureAvailable(1000000));
    EXPECT_EQ(State(), (Window{2000000, 0, 1000000, 1000000, 0}));
    ASSERT_TRUE(stream->SeekTo(1500000));
    ASSERT_TRUE(stream->SeekTo(10));  // a reload of the raised capacity
    EXPECT_EQ(U32(), Expected32(10));
    // Requests above 2^31 - 1, or beyond the file, fail with nothing changed.
    EXPECT_FALSE(stream->EnsureAvailable(0x80000000u));
    EXPECT_FALSE(stream->EnsureAvailable(0x7FFFFFFFu));
    EXPECT_EQ(State(), (Window{2000000, 10, 1000000, 1000000, 14}));
}

TEST_F(InputStreamTest, ReadsAtTheEndTakeWholePiecesAndFail) {
    OpenBytes(3, "\xAA\xBB\xCC");
    // Two or three bytes left: a 32-bit read takes the first two, stores the high half, fails.
    std::uint32_t value = 0;
    for (std::uint64_t start : {0u, 1u}) {
        ASSERT_TRUE(stream->SeekTo(start));
        EXPECT_FALSE(stream->ReadValue(value, FieldType::UI32));
        EXPECT_EQ(value, (start == 0 ? 0xAABBu : 0xBBCCu) << 16);
        EXPECT_EQ(stream->Tell(), start + 2);
    }
    // One byte left: nothing is taken. A code above DOUBLE is rejected with nothing stored.
    ASSERT_TRUE(stream->SeekTo(2));
    EXPECT_FALSE(stream->ReadValue(value, FieldType::UI32));
    EXPECT_EQ(value, 0u);
    value = 7;
    EXPECT_FALSE(stream->ReadValue(value, static_cast<FieldType>(9)));
    EXPECT_EQ(value, 7u);
    EXPECT_EQ(stream->Tell(), 2u);
    // A double takes its 2-byte pieces while they are there (big-endian, 40 59: 100.0).
    OpenBytes(5, "\x40\x59\x12\x34\x56");
    double number = 1.0;
    EXPECT_FALSE(stream->ReadValue(number, FieldType::DOUBLE));
    EXPECT_EQ(std::bit_cast<std::uint64_t>(number), 0x4059123400000000u);
    EXPECT_EQ(stream->Tell(), 4u);
}

TEST_F(InputStreamTest, ShrunkFileNeverExposesBytesThatWereNotRead) {
    OpenBytes(300000);
    std::filesystem::resize_file(temp.Path() / "input.bin", 270000);
    ASSERT_TRUE(stream->SeekTo(262100));
    // The reload at the cursor gets 7,900 of the 37,900 bytes it asked for.
    std::vector<BYTE> block;
    EXPECT_FALSE(stream->ReadBytes(block, 10000));
    EXPECT_EQ(State(), (Window{300000, 262100, 7900, kWindow, 262100}));
    ASSERT_TRUE(stream->ReadBytes(block, 7900));
    EXPECT_EQ(std::string(block.begin(), block.end()), content.substr(262100, 7900));
    U8(true);
    // A seek into the lost part finds nothing there.
    EXPECT_FALSE(stream->SeekTo(280000));
    EXPECT_EQ(stream->Length(), 0u);
}

TEST_F(InputStreamTest, UnopenablePathLeavesAStreamOnWhichEveryReadFails) {
    temp.Write("locked.flv", "FLV\x01");
    std::filesystem::permissions(temp.Path() / "locked.flv", std::filesystem::perms::none);
    // A missing file, a folder, and (unless the superuser runs the test, or Windows, where
    // these permissions only make a file read-only) a file without permission.
#ifdef _WIN32
    const bool permissionsBind = false;
#else
    const bool permissionsBind = ::geteuid() != 0;
#endif
    for (const std::string file : {"missing.flv", "", "locked.flv"}) {
        if (!permissionsBind && file == "locked.flv") continue;
        SCOPED_TRACE(file);
        stream.emplace();
        stream->Open(temp.Wide(file));
        EXPECT_EQ(State(), (Window{0, 0, 0, kWindow, 0}));
        U8(true);
        EXPECT_FALSE(stream->SeekTo(0));
    }
}

// ASCII text gives one character per byte; multi-byte text ends right after its characters.
// The text is "onMetaDataGrüße" in the system's ANSI code page (UTF-8 on the stand-in, 17 bytes;
// usually 1252 on Windows, 15 bytes).
TEST_F(InputStreamTest, ReadTextEndsAfterTheDecodedCharacters) {
    const std::wstring text15 = L"onMetaDataGr\u00FC\u00DFe";
    char ansi[32] = {};
    const int bytes =
        WideCharToMultiByte(CP_ACP, 0, text15.c_str(), 15, ansi, 32, nullptr, nullptr);
    ASSERT_TRUE(bytes == 17 || (GetACP() != CP_UTF8 && bytes == 15)) << bytes;
    OpenBytes(static_cast<std::size_t>(bytes), std::string(ansi, static_cast<std::size_t>(bytes)));
    wchar_t buffer[19];
    std::fill(std::begin(buffer), std::end(buffer), L'#');
    std::uint64_t characters = 0;
    ASSERT_TRUE(stream->ReadText(buffer, static_cast<std::uint64_t>(bytes), &characters));
    EXPECT_EQ(characters, 15u);
    EXPECT_EQ(std::wstring(buffer), text15);
    EXPECT_EQ(buffer[18], L'#');  // nothing past count + 1 characters
    std::wstring text = L"old";
    ASSERT_TRUE(stream->SeekTo(10));
    EXPECT_FALSE(stream->ReadText(text, 8));  // one byte more than the file holds
    EXPECT_EQ(text, L"old");
}
}  // namespace
