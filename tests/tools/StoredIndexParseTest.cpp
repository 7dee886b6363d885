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

// One 36-byte record, little-endian: position (8 bytes), time (8), reserved (8), frame type (4),
// reserved (4), kind (4).
std::string Record(char position, char time, char frameType, char kind) {
    std::string record(36, '\0');
    record[0] = position, record[8] = time, record[24] = frameType, record[32] = kind;
    return record;
}

TEST(StoredIndexParse, DamagedStreamsKeepOnlyTheCompleteRecords) {
    const std::string head = Bytes({0, 0, 0, 0, 0, 0, 0, 0});  // V = 0, A = 0
    const struct {
        std::string stream;
        bool complete;
        std::size_t records;
    } cases[] = {
        {Bytes({0x10, 0, 0, 0, 0, 0, 0, 0, 1, 2}), false, 0},           // V = 16, 2 bytes follow
        {Bytes({0, 0, 0, 0, -1, -1, -1, 0x7F, 1, 0, 0, 0}), false, 0},  // A = 2^31 - 1
        {head + Bytes({1, 0}), false, 0},                               // N cut short
        // N = 2^31 - 1, one whole record and half of another.
        {head + Bytes({-1, -1, -1, 0x7F}) + Record(13, 0, 1, 1) +
             Record(90, 40, 2, 1).substr(0, 18),
         false, 1},
        // Negative sizes of extra data count as none, and a negative count as no record.
        {Bytes({-1, -1, -1, -1, -2, -1, -1, -1, -1, -1, -1, -1}), true, 0},
        // Extra data is passed over by its size (the records' fields are checked against
        // ffprobe's packets through flvhost index).
        {Bytes({2, 0, 0, 0, 0, 0, 0, 0, 1, 0x64, 1, 0, 0, 0}) + Record(90, 40, 2, 7), true, 1},
    };
    for (const auto& entry : cases) {
        std::vector<IndexRecord> records;
        EXPECT_EQ(ParseStoredIndex(entry.stream, records), entry.complete);
        EXPECT_EQ(records.size(), entry.records);
    }
}
}  // namespace
