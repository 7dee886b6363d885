#include <gtest/gtest.h>

#include "flv/ExtraData.h"
#include "io/InputStream.h"
#include "tests/support/TempDir.h"

namespace {
TEST(ExtraData, CopiesOwnTheirBlocks) {
    const BYTE config[] = {0x12, 0x10};  // an AAC AudioSpecificConfig
    auto original = std::make_unique<CExtraData>();
    original->Assign(config, sizeof config);
    CExtraData copy = *original;
    original.reset();
    ASSERT_EQ(copy.Length(), 2u);
    EXPECT_EQ(copy.Data()[0], 0x12);
    EXPECT_EQ(copy.Data()[1], 0x10);
    copy.Clear();
    EXPECT_TRUE(copy.Empty());
    EXPECT_EQ(copy.Data(), nullptr);
}

TEST(ExtraData, LoadTakesTheBytesOnlyWhenAllAreThere) {
    TempDir temp;
    temp.Write("extra.bin", std::string("\x01\x64\x00\x1F", 4));  // start of an AVC record
    CInputStream input;
    input.Open(temp.Wide("extra.bin"));
    CExtraData extra;
    const BYTE old[] = {0xEE};
    extra.Assign(old, 1);
    EXPECT_FALSE(extra.Load(input, 5));
    ASSERT_EQ(extra.Length(), 1u);
    EXPECT_EQ(extra.Data()[0], 0xEE);
    ASSERT_TRUE(extra.Load(input, 4));
    ASSERT_EQ(extra.Length(), 4u);
    EXPECT_EQ(extra.Data()[1], 0x64);
    EXPECT_EQ(input.Tell(), 4u);
}
}  // namespace
