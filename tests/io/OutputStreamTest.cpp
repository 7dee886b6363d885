#include <gtest/gtest.h>

#include <string>

#include "io/FieldWriters.h"
#include "io/OutputStream.h"
#include "platform/File.h"
#include "tests/support/TempDir.h"

// A buffer of 3 bytes takes 3,000: it grows, so that no writer runs past it.
TEST(OutputStream, BufferGrowsSoThatNoWriterRunsPastIt) {
    COutputStream out(3);
    std::string expected;
    for (std::uint32_t i = 0; i < 1000; ++i) {
        WriteValue(out, i, FieldType::UI24);
        expected += {static_cast<char>(i >> 16), static_cast<char>(i >> 8), static_cast<char>(i)};
    }
    ASSERT_GE(out.Length(), out.Position());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(out.Data()), out.Position()), expected);
}

// The close sequence: SeekOutput(0), then Flush writes the whole content from the file's start.
TEST(OutputStream, FlushWritesTheContentAtTheFilePointerAndNothingWithoutAFile) {
    COutputStream none;
    WriteU32(none, 9u);
    EXPECT_EQ(none.Flush(), 0u);
    TempDir temp;
    COutputStream out;
    ASSERT_TRUE(out.OpenOutput(temp.Wide("out.flv")));
    WriteText(out, L"FLV");
    EXPECT_EQ(out.Flush(), 3u);
    WriteText(out, L"-x");
    out.SeekOutput(0);
    EXPECT_EQ(out.Flush(), 5u);  // the longer content overwrites from the start
    std::string content;
    EXPECT_TRUE(ReadWholeFile(temp.Wide("out.flv"), content, 1 << 20));
    EXPECT_EQ(content, "FLV-x");
}
