#include <gtest/gtest.h>

#include <string>

#include "flv/Header.h"
#include "tests/support/TempDir.h"

using namespace std::string_literals;

namespace {
// Each row: the file, then what Read says, whether the signature passes, and the 9 bytes that
// Write gives afterwards (fields not read keep the values of a fresh header; the type flags
// are rebuilt from the two presence bits).
TEST(HeaderTest, ReadThenWrite) {
    const std::string fresh = "FLV\x01\x00\x00\x00\x00\x09"s;
    const struct {
        std::string file;
        bool read;
        bool flv;
        std::string written;
    } cases[] = {
        // audio | video, data offset 9, then PreviousTagSize0
        {"FLV\x01\x05\x00\x00\x00\x09\x00\x00\x00\x00"s, true, true,
         "FLV\x01\x05\x00\x00\x00\x09"s},
        // unknown flag bits are dropped on write
        {"FLV\x01\xFF\x00\x00\x00\x09"s, true, true, "FLV\x01\x05\x00\x00\x00\x09"s},
        // version 9, audio only, data offset 200: stored, not checked
        {"FLV\x09\x04\x00\x00\x00\xC8"s, true, true, "FLV\x09\x04\x00\x00\x00\xC8"s},
        // short files: a start of the signature passes, anything else does not
        {""s, false, true, fresh},
        {"FL"s, false, true, fresh},
        {"X"s, false, false, "XLV\x01\x00\x00\x00\x00\x09"s},
        {"flv"s, false, false, "flv\x01\x00\x00\x00\x00\x09"s},
        {"FLV\x02"s, false, true, "FLV\x02\x00\x00\x00\x00\x09"s},
        // data offset cut short: the flags read before it stay
        {"FLV\x01\x01\x00\x00"s, false, true, "FLV\x01\x01\x00\x00\x00\x09"s},
    };
    TempDir temp;
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.file));
        temp.Write("header.flv", c.file);
        CInputStream input;
        input.Open(temp.Wide("header.flv"));
        CFLV_Header header;
        EXPECT_EQ(header.Read(input), c.read);
        EXPECT_EQ(header.HasFlvSignature(), c.flv);
        EXPECT_EQ(input.Tell(), std::min<std::uint64_t>(c.file.size(), 9));
        COutputStream out;
        header.Write(out);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(out.Data()), out.Position()),
                  c.written);
    }
}
}  // namespace
