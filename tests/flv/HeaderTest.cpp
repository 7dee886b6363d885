#include <gtest/gtest.h>

#include <string>

#include "flv/Header.h"
#include "tests/support/TempDir.h"

namespace {
std::string Written(const COutputStream& stream) {
    return std::string(reinterpret_cast<const char*>(stream.Data()), stream.Position());
}

class HeaderTest : public ::testing::Test {
  protected:
    // Opens a stream on a file holding `bytes`.
    CInputStream& Input(const std::string& bytes) {
        temp.Write("header.flv", bytes);
        stream.Open(temp.Wide("header.flv"));
        EXPECT_TRUE(stream.IsOpen());
        return stream;
    }

    TempDir temp;
    CInputStream stream;
};

TEST_F(HeaderTest, NewHeaderWritesTheNineStandardBytes) {
    CFLV_Header header;
    COutputStream out;
    header.Write(out);
    EXPECT_EQ(Written(out), std::string("FLV"                // signature
                                        "\x01"               // version
                                        "\x00"               // type flags
                                        "\x00\x00\x00\x09",  // data offset
                                        9));
    EXPECT_EQ(header.GetDataSize(), 0u);
    EXPECT_STREQ(header.GetName(), L"FLV Header");
}

TEST_F(HeaderTest, TypeFlagsSplitIntoPresenceBitsAndAreRebuiltFromThem) {
    CFLV_Header header;
    ASSERT_TRUE(
        header.Read(Input(std::string("FLV"
                                      "\x01"               // version
                                      "\x05"               // audio | video
                                      "\x00\x00\x00\x09"   // data offset
                                      "\x00\x00\x00\x00",  // PreviousTagSize0
                                      13))));
    EXPECT_EQ(header.VideoPresent(), 1u);
    EXPECT_EQ(header.AudioPresent(), 4u);
    EXPECT_EQ(stream.Tell(), 9u);
    COutputStream out;
    header.Write(out);
    EXPECT_EQ(Written(out)[4], '\x05');
}

TEST_F(HeaderTest, UnknownTypeFlagBitsAreDroppedOnWrite) {
    CFLV_Header header;
    ASSERT_TRUE(header.Read(Input(std::string("FLV\x01\xFF\x00\x00\x00\x09", 9))));
    EXPECT_EQ(header.TypeFlags(), 0xFF);
    COutputStream out;
    header.Write(out);
    EXPECT_EQ(Written(out), std::string("FLV\x01\x05\x00\x00\x00\x09", 9));
    EXPECT_EQ(header.TypeFlags(), 0x05);
}

TEST_F(HeaderTest, VersionAndDataOffsetAreStoredNotChecked) {
    CFLV_Header header;
    ASSERT_TRUE(
        header.Scan(Input(std::string("FLV"
                                      "\x09"               // version 9
                                      "\x04"               // audio only
                                      "\x00\x00\x00\xC8",  // data offset 200
                                      9))));
    EXPECT_TRUE(header.HasFlvSignature());
    EXPECT_EQ(header.Version(), 9);
    EXPECT_EQ(header.DataOffset(), 200u);
    EXPECT_EQ(header.VideoPresent(), 0u);
    EXPECT_EQ(header.AudioPresent(), 4u);
}

TEST_F(HeaderTest, ShortFilesKeepTheFreshValuesOfFieldsNotRead) {
    struct Case {
        std::string bytes;
        bool flv;
    };
    const Case cases[] = {
        {"", true},     {"F", true},       {"FL", true},    // match the signature's start
        {"X", false},   {"FX", false},     {"flv", false},  // anything else does not
        {"FLX", false}, {"FLV\x02", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bytes);
        CInputStream input;
        temp.Write("short.flv", c.bytes);
        input.Open(temp.Wide("short.flv"));
        CFLV_Header header;
        EXPECT_FALSE(header.Read(input));
        EXPECT_EQ(header.HasFlvSignature(), c.flv);
        EXPECT_EQ(header.DataOffset(), 9u);
    }
}

TEST_F(HeaderTest, TruncatedDataOffsetKeepsTheFieldsReadBeforeIt) {
    CFLV_Header header;
    EXPECT_FALSE(header.Read(Input(std::string("FLV\x01\x01\x00\x00", 7))));
    EXPECT_EQ(header.VideoPresent(), 1u);
    EXPECT_EQ(header.DataOffset(), 9u);
}

TEST_F(HeaderTest, CloneIsIndependentAndWritesTheSameBytes) {
    CFLV_Header header;
    header.SetVideoPresent(true);
    header.SetAudioPresent(true);
    std::unique_ptr<CFlashObject> copy = header.Clone();
    header.SetAudioPresent(false);
    COutputStream out;
    copy->Write(out);
    EXPECT_EQ(Written(out), std::string("FLV\x01\x05\x00\x00\x00\x09", 9));
    EXPECT_STREQ(copy->GetName(), L"FLV Header");
}
}  // namespace
