// flvhost's own reader of the stored index stream that the component hands to hosts: complete
// records are read, and damaged streams end the read without reading past the bytes.
#include <gtest/gtest.h>

#include <string>

#include "tools/flvhost/StreamFacts.h"

namespace {
using flvhost::IndexRecord;
using flvhost::ParseStoredIndex;

std::string Bytes(std::initializer_list<int> values) {
    std::string bytes;
    for (int value : values) bytes += static_cast<char>(value);
    return bytes;
}

// One 36-byte record: position, time, 8 reserved, frame type, 4 reserved, kind.
std::string Record(int position, int time, int frameType, int kind) {
    return Bytes({position,  0, 0, 0, 0, 0, 0, 0,  // position
                  time,      0, 0, 0, 0, 0, 0, 0,  // time
                  0,         0, 0, 0, 0, 0, 0, 0,  // reserved
                  frameType, 0, 0, 0,              // frame type
                  0,         0, 0, 0,              // reserved
                  kind,      0, 0, 0});            // kind
}

TEST(StoredIndexParse, ReadsExtraDataSizesThenTheRecords) {
    const std::string stream = Bytes({2, 0, 0, 0,     // V = 2
                                      0, 0, 0, 0,     // A = 0
                                      0x01, 0x64,     // the video extra data
                                      2, 0, 0, 0}) +  // N = 2
                               Record(13, 0, 1, 1) +
                               Record(90, 40, 2, 1);
    std::vector<IndexRecord> records;
    ASSERT_TRUE(ParseStoredIndex(stream, records));
    ASSERT_EQ(records.size(), 2u);
    EXPECT_TRUE(records[0].video);
    EXPECT_EQ(records[0].position, 13u);
    EXPECT_EQ(records[0].frameType, 1u);
    EXPECT_EQ(records[1].position, 90u);
    EXPECT_EQ(records[1].timeMs, 40u);
    EXPECT_EQ(records[1].frameType, 2u);
}

TEST(StoredIndexParse, AnyKindButOneIsAudio) {
    const std::string stream =
        Bytes({0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0}) + Record(13, 0, 2, 2) + Record(50, 23, 2, 7);
    std::vector<IndexRecord> records;
    ASSERT_TRUE(ParseStoredIndex(stream, records));
    ASSERT_EQ(records.size(), 2u);
    EXPECT_FALSE(records[0].video);
    EXPECT_FALSE(records[1].video);
}

TEST(StoredIndexParse, ACountBeyondTheBytesKeepsTheCompleteRecords) {
    // N = 0x7FFFFFFF, one whole record and half of another.
    const std::string stream = Bytes({0, 0, 0, 0, 0, 0, 0, 0, -1, -1, -1, 0x7F}) +
                               Record(13, 0, 1, 1) + Record(90, 40, 2, 1).substr(0, 18);
    std::vector<IndexRecord> records;
    EXPECT_FALSE(ParseStoredIndex(stream, records));
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].position, 13u);
}

TEST(StoredIndexParse, DamagedHeadsReadNothing) {
    for (const std::string& stream : {
             Bytes({0, 0, 0}),                                   // V cut short
             Bytes({0x10, 0, 0, 0, 0, 0, 0, 0, 1, 2}),           // V = 16, 2 bytes follow
             Bytes({0, 0, 0, 0, -1, -1, -1, 0x7F, 1, 0, 0, 0}),  // A = 2^31 - 1
             Bytes({0, 0, 0, 0, 0, 0, 0, 0, 1, 0}),              // N cut short
         }) {
        std::vector<IndexRecord> records;
        EXPECT_FALSE(ParseStoredIndex(stream, records));
        EXPECT_TRUE(records.empty());
    }
    // Negative sizes of extra data count as none, and a negative count as no record.
    std::vector<IndexRecord> records;
    EXPECT_TRUE(ParseStoredIndex(Bytes({-1, -1, -1, -1, -2, -1, -1, -1, -1, -1, -1, -1}), records));
    EXPECT_TRUE(records.empty());
}
}  // namespace
