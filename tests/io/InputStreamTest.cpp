#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "io/InputStream.h"
#include "tests/support/TempDir.h"

namespace {
constexpr std::uint64_t kWindow = CInputStream::kDefaultWindowCapacity;  // 262,144

// Bytes whose value depends on the offset in a way that reveals a read at the wrong place.
std::string Pattern(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>((i * 31 + (i >> 8) * 7 + (i >> 16) * 13) & 0xFF);
    }
    return bytes;
}

std::uint8_t At(const std::string& bytes, std::size_t offset) {
    return static_cast<std::uint8_t>(bytes[offset]);
}

std::uint32_t BigEndian32(const std::string& bytes, std::size_t offset) {
    return (std::uint32_t{At(bytes, offset)} << 24) | (std::uint32_t{At(bytes, offset + 1)} << 16) |
           (std::uint32_t{At(bytes, offset + 2)} << 8) | At(bytes, offset + 3);
}

class InputStreamTest : public ::testing::Test {
  protected:
    // Writes `bytes` to a file of the test folder and opens a stream on it.
    void OpenBytes(const std::string& bytes) {
        content = bytes;
        temp.Write("input.bin", bytes);
        stream.Open(Path());
        ASSERT_TRUE(stream.IsOpen());
    }
    std::wstring Path() const { return temp.Wide("input.bin"); }
    std::filesystem::path FilePath() const { return temp.Path() / "input.bin"; }

    TempDir temp;
    std::string content;
    CInputStream stream;
};

// --- The window -------------------------------------------------------------------------

TEST_F(InputStreamTest, EmptyFileHasAnEmptyWindowAndEveryReadFails) {
    OpenBytes("");
    EXPECT_EQ(stream.Length(), 0u);
    EXPECT_EQ(stream.FileSize(), 0u);
    std::uint8_t byte = 0xAA;
    EXPECT_FALSE(stream.ReadValue(byte, FieldType::UI8));
    EXPECT_EQ(byte, 0u);
    EXPECT_FALSE(stream.SeekTo(0));
    EXPECT_EQ(stream.Tell(), 0u);
}

TEST_F(InputStreamTest, SmallFileIsLoadedWholeAndEndsCleanly) {
    OpenBytes(Pattern(100));
    EXPECT_EQ(stream.Length(), 100u);
    const std::uint64_t readBefore = File::TotalBytesRead();
    ASSERT_TRUE(stream.SeekTo(96));
    std::uint32_t value = 0;
    ASSERT_TRUE(stream.ReadValue(value, FieldType::UI32));
    EXPECT_EQ(value, BigEndian32(content, 96));
    std::uint8_t byte = 0xAA;
    EXPECT_FALSE(stream.ReadValue(byte, FieldType::UI8));
    EXPECT_EQ(byte, 0u);
    EXPECT_EQ(stream.Tell(), 100u);
    // Served from the window alone.
    EXPECT_EQ(File::TotalBytesRead(), readBefore);
}

TEST_F(InputStreamTest, RefillStartsTheWindowAtTheCursor) {
    OpenBytes(Pattern(300000));
    EXPECT_EQ(stream.Length(), kWindow);
    // One byte left in the window: the first 2-byte piece reloads at the cursor.
    ASSERT_TRUE(stream.SeekTo(kWindow - 1));
    const std::uint64_t readBefore = File::TotalBytesRead();
    std::uint32_t value = 0;
    ASSERT_TRUE(stream.ReadValue(value, FieldType::UI32));
    EXPECT_EQ(value, BigEndian32(content, kWindow - 1));
    EXPECT_EQ(stream.WindowStart(), kWindow - 1);
    EXPECT_EQ(stream.Length(), 300000 - (kWindow - 1));
    EXPECT_EQ(File::TotalBytesRead() - readBefore, stream.Length());
    EXPECT_EQ(stream.Tell(), kWindow + 3);

    // The last field of the file, inside the new window: no further I/O.
    const std::uint64_t readAfterRefill = File::TotalBytesRead();
    ASSERT_TRUE(stream.SeekTo(299996));
    ASSERT_TRUE(stream.ReadValue(value, FieldType::UI32));
    EXPECT_EQ(value, BigEndian32(content, 299996));
    EXPECT_EQ(File::TotalBytesRead(), readAfterRefill);
    std::uint8_t byte = 0;
    EXPECT_FALSE(stream.ReadValue(byte, FieldType::UI8));
}

TEST_F(InputStreamTest, SeekToTheEndFailsAndTheLastByteIsReachable) {
    OpenBytes(Pattern(300000));
    ASSERT_TRUE(stream.SeekTo(1000));
    EXPECT_FALSE(stream.SeekTo(300000));
    EXPECT_FALSE(stream.SeekTo(UINT64_MAX));
    EXPECT_EQ(stream.Tell(), 1000u);
    ASSERT_TRUE(stream.SeekTo(299999));
    EXPECT_EQ(stream.WindowStart(), 299999u);
    EXPECT_EQ(stream.Length(), 1u);
    std::uint8_t byte = 0;
    ASSERT_TRUE(stream.ReadValue(byte, FieldType::UI8));
    EXPECT_EQ(byte, At(content, 299999));
    // Back into the first window: a reload of the full capacity.
    ASSERT_TRUE(stream.SeekTo(0));
    EXPECT_EQ(stream.Length(), kWindow);
}

TEST_F(InputStreamTest, LargeRequestRaisesTheCapacityForLaterReloads) {
    OpenBytes(Pattern(2000000));
    ASSERT_TRUE(stream.EnsureAvailable(1000000));
    EXPECT_EQ(stream.WindowCapacity(), 1000000u);
    EXPECT_EQ(stream.Length(), 1000000u);
    EXPECT_EQ(stream.Tell(), 0u);
    ASSERT_TRUE(stream.SeekTo(1500000));
    EXPECT_EQ(stream.Length(), 500000u);
    ASSERT_TRUE(stream.SeekTo(10));
    EXPECT_EQ(stream.Length(), 1000000u);
    std::uint32_t value = 0;
    ASSERT_TRUE(stream.ReadValue(value, FieldType::UI32));
    EXPECT_EQ(value, BigEndian32(content, 10));

    // Requests above 2^31 - 1, or beyond the file, fail with nothing changed.
    EXPECT_FALSE(stream.EnsureAvailable(0x80000000u));
    EXPECT_FALSE(stream.EnsureAvailable(0x7FFFFFFFu));
    EXPECT_EQ(stream.WindowCapacity(), 1000000u);
    EXPECT_EQ(stream.Tell(), 14u);
    EXPECT_EQ(stream.WindowStart(), 10u);
}

TEST_F(InputStreamTest, RequestCrossingTheWindowEndIsServedWhole) {
    OpenBytes(Pattern(300000));
    ASSERT_TRUE(stream.SeekTo(262000));
    std::unique_ptr<BYTE[]> block;
    std::uint64_t got = 0;
    ASSERT_TRUE(stream.ReadBytes(block, 500, &got));
    EXPECT_EQ(got, 500u);
    EXPECT_EQ(stream.WindowStart(), 262000u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(block.get()), 500),
              content.substr(262000, 500));
    EXPECT_EQ(stream.Tell(), 262500u);
    // The bytes right up to the end of the file are one valid request; one more is not.
    EXPECT_TRUE(stream.EnsureAvailable(300000 - 262500));
    EXPECT_FALSE(stream.EnsureAvailable(300000 - 262500 + 1));
}

// --- Typed reads ------------------------------------------------------------------------

TEST_F(InputStreamTest, BigEndianFieldsOfEveryWidth) {
    OpenBytes(
        std::string("\x12"                              // UI8
                    "\x12\x34"                          // UI16
                    "\x12\x34\x56"                      // UI24
                    "\xF2\x34\x56\x78"                  // UI32 (high bit set: no sign)
                    "\x40\x59\x00\x00\x00\x00\x00\x00"  // DOUBLE 100.0
                    "\x34\x12"                          // UI16, little-endian
                    "\x78\x56\x34\x12"                  // UI32, little-endian
                    "\x00\x02",                         // UI16 read into bool and double
                    26));
    std::uint8_t byte = 0;
    std::uint64_t wide = 0;
    std::uint32_t value = 0;
    double number = 0;
    bool flag = false;
    ASSERT_TRUE(stream.ReadValue(byte, FieldType::UI8));
    EXPECT_EQ(byte, 0x12);
    ASSERT_TRUE(stream.ReadValue(wide, FieldType::UI16));
    EXPECT_EQ(wide, 0x1234u);
    ASSERT_TRUE(stream.ReadValue(value, FieldType::SI24));
    EXPECT_EQ(value, 0x123456u);
    ASSERT_TRUE(stream.ReadValue(wide, FieldType::SI32));
    EXPECT_EQ(wide, 0xF2345678u);
    ASSERT_TRUE(stream.ReadValue(number, FieldType::DOUBLE));
    EXPECT_EQ(number, 100.0);
    ASSERT_TRUE(stream.ReadValue(value, FieldType::UI16, true));
    EXPECT_EQ(value, 0x1234u);
    ASSERT_TRUE(stream.ReadValue(value, FieldType::UI32, true));
    EXPECT_EQ(value, 0x12345678u);
    ASSERT_TRUE(stream.PeekValue(value, FieldType::UI16));
    ASSERT_TRUE(stream.ReadValue(flag, FieldType::UI16));
    EXPECT_TRUE(flag);
    ASSERT_TRUE(stream.SeekTo(24));
    ASSERT_TRUE(stream.ReadValue(number, FieldType::UI16));
    EXPECT_EQ(number, 2.0);
}

TEST_F(InputStreamTest, ThirtyTwoBitReadWithTwoOrThreeBytesLeftTakesTheHighHalfAndFails) {
    OpenBytes(std::string("\xAA\xBB\xCC", 3));
    for (std::uint64_t start : {0u, 1u}) {
        ASSERT_TRUE(stream.SeekTo(start));
        std::uint32_t value = 0;
        EXPECT_FALSE(stream.ReadValue(value, FieldType::UI32));
        const std::uint32_t high = start == 0 ? 0xAABBu : 0xBBCCu;
        EXPECT_EQ(value, high << 16);
        EXPECT_EQ(stream.Tell(), start + 2);
    }
    // One byte left: nothing is taken.
    ASSERT_TRUE(stream.SeekTo(2));
    std::uint32_t value = 7;
    EXPECT_FALSE(stream.ReadValue(value, FieldType::UI32));
    EXPECT_EQ(value, 0u);
    EXPECT_EQ(stream.Tell(), 2u);
    // 24-bit reads fail whole.
    ASSERT_TRUE(stream.SeekTo(1));
    EXPECT_FALSE(stream.ReadValue(value, FieldType::UI24));
    EXPECT_EQ(value, 0u);
    EXPECT_EQ(stream.Tell(), 1u);
}

TEST_F(InputStreamTest, DoubleAtTheEndTakesWholePiecesOnly) {
    // 5 bytes: two 2-byte pieces are there, the third is not.
    OpenBytes(std::string("\x40\x59\x12\x34\x56", 5));
    double number = 1.0;
    EXPECT_FALSE(stream.ReadValue(number, FieldType::DOUBLE));
    EXPECT_EQ(std::bit_cast<std::uint64_t>(number), 0x4059123400000000u);
    EXPECT_EQ(stream.Tell(), 4u);
}

TEST_F(InputStreamTest, PeekLeavesTheCursorAndReadAdvances) {
    OpenBytes(std::string("\x00\x00\x09", 3));  // the AMF0 object end marker
    std::uint32_t value = 0;
    ASSERT_TRUE(stream.PeekValue(value, FieldType::UI24));
    EXPECT_EQ(value, 9u);
    EXPECT_EQ(stream.Tell(), 0u);
    ASSERT_TRUE(stream.ReadValue(value, FieldType::UI24));
    EXPECT_EQ(value, 9u);
    EXPECT_EQ(stream.Tell(), 3u);
    // A failed peek leaves the cursor too.
    ASSERT_TRUE(stream.SeekTo(1));
    EXPECT_FALSE(stream.PeekValue(value, FieldType::UI32));
    EXPECT_EQ(stream.Tell(), 1u);
}

TEST_F(InputStreamTest, PeekAcrossTheWindowEndRestoresTheCursor) {
    OpenBytes(Pattern(300000));
    // The first piece is in the window, the second reloads it two bytes further on.
    ASSERT_TRUE(stream.SeekTo(kWindow - 2));
    std::uint32_t value = 0;
    ASSERT_TRUE(stream.PeekValue(value, FieldType::UI32));
    EXPECT_EQ(value, BigEndian32(content, kWindow - 2));
    EXPECT_EQ(stream.Tell(), kWindow - 2);
    ASSERT_TRUE(stream.ReadValue(value, FieldType::UI32));
    EXPECT_EQ(value, BigEndian32(content, kWindow - 2));
    EXPECT_EQ(stream.Tell(), kWindow + 2);
}

TEST_F(InputStreamTest, UnknownFieldCodeIsRejectedWithoutEffect) {
    OpenBytes(Pattern(16));
    const auto code9 = static_cast<FieldType>(9);
    std::uint32_t value = 77;
    std::uint8_t byte = 77;
    double number = 77;
    EXPECT_FALSE(stream.ReadValue(value, code9));
    EXPECT_FALSE(stream.ReadValue(byte, code9));
    EXPECT_FALSE(stream.ReadValue(number, code9));
    EXPECT_FALSE(stream.PeekValue(value, code9));
    EXPECT_FALSE(stream.SkipValue(code9));
    EXPECT_EQ(value, 77u);
    EXPECT_EQ(byte, 77u);
    EXPECT_EQ(number, 77.0);
    // DOUBLE has no integer reading.
    EXPECT_FALSE(stream.ReadValue(value, FieldType::DOUBLE));
    EXPECT_EQ(stream.Tell(), 0u);
}

TEST_F(InputStreamTest, FailedSkipStillAdvancesUntilTheNextSeek) {
    OpenBytes(std::string("\x01\x02", 2));
    EXPECT_FALSE(stream.SkipValue(FieldType::UI32));
    EXPECT_EQ(stream.Tell(), 4u);
    std::uint8_t byte = 0;
    EXPECT_FALSE(stream.ReadValue(byte, FieldType::UI8));
    EXPECT_FALSE(stream.SkipBytes(0));
    ASSERT_TRUE(stream.SeekTo(1));
    ASSERT_TRUE(stream.ReadValue(byte, FieldType::UI8));
    EXPECT_EQ(byte, 2u);
    // SkipBytes does not move when the bytes are missing.
    ASSERT_TRUE(stream.SeekTo(0));
    EXPECT_FALSE(stream.SkipBytes(3));
    EXPECT_EQ(stream.Tell(), 0u);
    EXPECT_TRUE(stream.SkipBytes(2));
    EXPECT_EQ(stream.Tell(), 2u);
}

// --- Growing and shrinking files ----------------------------------------------------------

TEST_F(InputStreamTest, RefreshSizeLetsReadsPassTheOldEnd) {
    OpenBytes(Pattern(100));
    ASSERT_TRUE(stream.SeekTo(99));
    std::uint32_t value = 0;
    EXPECT_FALSE(stream.ReadValue(value, FieldType::UI24));
    const std::string grown = Pattern(1100);
    {
        std::ofstream out(FilePath(), std::ios::binary | std::ios::app);
        out.write(grown.data() + 100, 1000);
    }
    ASSERT_TRUE(stream.RefreshSize());
    EXPECT_EQ(stream.FileSize(), 1100u);
    EXPECT_EQ(stream.Length(), 100u);  // the window is left alone
    ASSERT_TRUE(stream.ReadValue(value, FieldType::UI24));
    EXPECT_EQ(value, BigEndian32(grown, 98) & 0xFFFFFFu);
    ASSERT_TRUE(stream.SeekTo(1099));

    stream.Close();
    EXPECT_FALSE(stream.RefreshSize());
}

TEST_F(InputStreamTest, ShrunkFileNeverExposesBytesThatWereNotRead) {
    OpenBytes(Pattern(300000));
    std::filesystem::resize_file(FilePath(), 270000);
    ASSERT_TRUE(stream.SeekTo(262100));
    // The reload at the cursor gets 7,900 of the 37,900 bytes it asked for.
    std::unique_ptr<BYTE[]> block;
    EXPECT_FALSE(stream.ReadBytes(block, 10000));
    EXPECT_EQ(block, nullptr);
    EXPECT_EQ(stream.WindowStart(), 262100u);
    EXPECT_EQ(stream.Length(), 7900u);
    ASSERT_TRUE(stream.ReadBytes(block, 7900));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(block.get()), 7900),
              content.substr(262100, 7900));
    std::uint8_t byte = 0;
    EXPECT_FALSE(stream.ReadValue(byte, FieldType::UI8));
    // A seek into the lost part finds nothing there.
    EXPECT_FALSE(stream.SeekTo(280000));
    EXPECT_EQ(stream.Length(), 0u);
    EXPECT_FALSE(stream.ReadValue(byte, FieldType::UI8));
    ASSERT_TRUE(stream.RefreshSize());
    EXPECT_EQ(stream.FileSize(), 270000u);
    ASSERT_TRUE(stream.SeekTo(269999));
    ASSERT_TRUE(stream.ReadValue(byte, FieldType::UI8));
    EXPECT_EQ(byte, At(content, 269999));
}

// --- Files that cannot be opened -----------------------------------------------------------

void ExpectUnusable(CInputStream& stream) {
    EXPECT_FALSE(stream.IsOpen());
    EXPECT_EQ(stream.FileSize(), 0u);
    EXPECT_EQ(stream.Length(), 0u);
    std::uint8_t byte = 0;
    EXPECT_FALSE(stream.ReadValue(byte, FieldType::UI8));
    EXPECT_FALSE(stream.SeekTo(0));
    EXPECT_FALSE(stream.RefreshSize());
    std::vector<BYTE> block;
    EXPECT_FALSE(stream.ReadBytes(block, 1));
}

TEST_F(InputStreamTest, MissingFileOrFolderLeavesAStreamOnWhichEveryReadFails) {
    CInputStream missing;
    missing.Open(temp.Wide("missing.flv"));
    ExpectUnusable(missing);
    EXPECT_EQ(missing.FileName(), temp.Wide("missing.flv"));

    CInputStream folder;
    folder.Open(temp.Wide(""));
    ExpectUnusable(folder);
}

TEST_F(InputStreamTest, FileWithoutPermissionLeavesAStreamOnWhichEveryReadFails) {
    if (::geteuid() == 0) GTEST_SKIP() << "permissions do not bind the superuser";
    temp.Write("locked.flv", "FLV\x01");
    std::filesystem::permissions(temp.Path() / "locked.flv", std::filesystem::perms::none);
    CInputStream locked;
    locked.Open(temp.Wide("locked.flv"));
    ExpectUnusable(locked);
}

TEST_F(InputStreamTest, CloseKeepsTheCursorAndEndsEveryRead) {
    OpenBytes(Pattern(100));
    ASSERT_TRUE(stream.SeekTo(40));
    stream.Close();
    EXPECT_EQ(stream.Tell(), 40u);
    EXPECT_TRUE(stream.FileName().empty());
    std::uint8_t byte = 0;
    EXPECT_FALSE(stream.ReadValue(byte, FieldType::UI8));
    stream.Close();
    EXPECT_FALSE(stream.IsOpen());
}

// --- Blocks and text -------------------------------------------------------------------

TEST_F(InputStreamTest, ReadBytesAllocatesOnlyWhatTheFileHolds) {
    OpenBytes(Pattern(64));
    std::unique_ptr<BYTE[]> block;
    EXPECT_FALSE(stream.ReadBytes(block, 65));
    EXPECT_FALSE(stream.ReadBytes(block, 0xFFFFFFFFu));
    EXPECT_FALSE(stream.ReadBytes(block, UINT64_MAX));
    EXPECT_EQ(block, nullptr);
    EXPECT_EQ(stream.WindowCapacity(), kWindow);
    std::uint64_t got = 99;
    ASSERT_TRUE(stream.ReadBytes(block, 0, &got));
    EXPECT_EQ(got, 0u);
    std::vector<BYTE> bytes = {1, 2, 3};
    EXPECT_FALSE(stream.ReadBytes(bytes, 65));
    EXPECT_EQ(bytes.size(), 3u);
    ASSERT_TRUE(stream.ReadBytes(bytes, 64));
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), content);
}

TEST_F(InputStreamTest, ReadTextOfAsciiFillsExactlyTheCharactersAndATerminator) {
    OpenBytes("onMetaData");
    wchar_t buffer[12];
    std::fill(std::begin(buffer), std::end(buffer), L'#');
    std::uint64_t characters = 0;
    ASSERT_TRUE(stream.ReadText(buffer, 10, &characters));
    EXPECT_EQ(characters, 10u);
    EXPECT_EQ(std::wstring(buffer), L"onMetaData");
    EXPECT_EQ(buffer[11], L'#');
    EXPECT_EQ(stream.Tell(), 10u);
}

TEST_F(InputStreamTest, ReadTextOfMultiByteTextEndsAfterTheDecodedCharacters) {
    // "Grüße" in UTF-8: 7 bytes, 5 characters.
    OpenBytes(
        "Gr\xC3\xBC\xC3\x9F"
        "e");
    wchar_t buffer[9];
    std::fill(std::begin(buffer), std::end(buffer), L'#');
    std::uint64_t characters = 0;
    ASSERT_TRUE(stream.ReadText(buffer, 7, &characters));
    EXPECT_EQ(characters, 5u);
    EXPECT_EQ(std::wstring(buffer), L"Gr\u00FC\u00DFe");
    EXPECT_EQ(buffer[8], L'#');  // nothing past count + 1 characters
    EXPECT_EQ(stream.Tell(), 7u);

    std::wstring text = L"old";
    ASSERT_TRUE(stream.SeekTo(0));
    ASSERT_TRUE(stream.ReadText(text, 7));
    EXPECT_EQ(text, L"Gr\u00FC\u00DFe");
    ASSERT_TRUE(stream.SeekTo(0));
    EXPECT_FALSE(stream.ReadText(text, 8));
    EXPECT_EQ(text, L"Gr\u00FC\u00DFe");
    EXPECT_EQ(stream.Tell(), 0u);
}
}  // namespace

// --- Real files ----------------------------------------------------------------------------

// Hops from tag to tag through every sample file (most are larger than one window), as the
// scan does: only the presence of each back-pointer matters (one sample has a damaged one).
TEST(InputStreamSamples, TagHopReachesTheEndOfEveryFile) {
    const std::filesystem::path folder = FLV_SOURCE_DIR "/../shared/testdata/flv/";
    if (!std::filesystem::is_directory(folder)) GTEST_SKIP() << "no sample files at " << folder;
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (entry.path().extension() != ".flv") continue;
        SCOPED_TRACE(entry.path().string());
        ++files;
        CInputStream input;
        input.Open(entry.path().wstring());
        ASSERT_TRUE(input.IsOpen());
        ASSERT_TRUE(input.SeekTo(13));  // header and PreviousTagSize0
        int tags = 0;
        std::uint8_t type = 0;
        while (input.ReadValue(type, FieldType::UI8)) {
            std::uint32_t size = 0, time = 0, previous = 0;
            std::uint8_t extended = 0;
            ASSERT_TRUE(input.ReadValue(size, FieldType::UI24));
            ASSERT_TRUE(input.ReadValue(time, FieldType::UI24));
            ASSERT_TRUE(input.ReadValue(extended, FieldType::UI8));
            ASSERT_TRUE(input.SkipValue(FieldType::UI24));
            ASSERT_TRUE(input.SkipBytes(size));
            ASSERT_TRUE(input.ReadValue(previous, FieldType::UI32));
            ++tags;
        }
        EXPECT_GT(tags, 0);
        EXPECT_EQ(input.Tell(), input.FileSize());
    }
    EXPECT_GT(files, 0);
}
