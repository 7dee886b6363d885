#include <gtest/gtest.h>

#include <string>

#include "io/FieldWriters.h"
#include "io/OutputStream.h"
#include "platform/File.h"
#include "tests/support/TempDir.h"

namespace {
std::string FileContent(const TempDir& temp, const char* name) {
    std::string content;
    EXPECT_TRUE(ReadWholeFile(temp.Wide(name), content, 1 << 20));
    return content;
}

TEST(OutputStream, BufferGrowsSoThatNoWriterRunsPastIt) {
    COutputStream out(3);
    std::string expected;
    for (std::uint32_t i = 0; i < 1000; ++i) {
        WriteValue(out, i, FieldType::UI24);
        expected += static_cast<char>((i >> 16) & 0xFF);
        expected += static_cast<char>((i >> 8) & 0xFF);
        expected += static_cast<char>(i & 0xFF);
    }
    EXPECT_FALSE(out.Failed());
    ASSERT_GE(out.Length(), out.Position());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(out.Data()), out.Position()), expected);
}

TEST(OutputStream, FlushWithoutAFileWritesNothing) {
    COutputStream out;
    WriteU32(out, 9u);
    out.SeekOutput(0);
    EXPECT_EQ(out.Flush(), 0u);
    EXPECT_EQ(out.Position(), 4u);
}

TEST(OutputStream, FlushWritesTheContentAtTheFilePointer) {
    TempDir temp;
    COutputStream out;
    ASSERT_TRUE(out.OpenOutput(temp.Wide("out.flv")));
    WriteText(out, L"FLV");
    EXPECT_EQ(out.Flush(), 3u);
    // The content stays: a second flush writes it again after the first.
    EXPECT_EQ(out.Flush(), 3u);
    EXPECT_EQ(FileContent(temp, "out.flv"), "FLVFLV");
    // Back at 0, the longer content overwrites from the start.
    WriteText(out, L"-x-y");
    out.SeekOutput(0);
    EXPECT_EQ(out.Flush(), 7u);
    EXPECT_EQ(FileContent(temp, "out.flv"), "FLV-x-y");
    out.CloseOutput();
    EXPECT_FALSE(out.HasFile());
    EXPECT_EQ(out.Flush(), 0u);
    EXPECT_EQ(out.Position(), 7u);
}

TEST(OutputStream, OutputIntoAFolderThatDoesNotExistFails) {
    TempDir temp;
    COutputStream out;
    EXPECT_FALSE(out.OpenOutput(temp.Wide("missing/out.flv")));
    EXPECT_FALSE(out.HasFile());
}
}  // namespace
