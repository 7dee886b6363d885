#include <string>

#include "platform/File.h"
#include "tests/mediakit/MediaKitTestSupport.h"
#include "tests/support/TempDir.h"

namespace {

using P = IMediaParams;

std::uint32_t Crc32(const std::string& bytes) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (const unsigned char byte : bytes) {
        crc ^= byte;
        for (int k = 0; k < 8; ++k) crc = (crc & 1) ? 0xEDB88320u ^ (crc >> 1) : crc >> 1;
    }
    return ~crc;
}

std::string Le(std::uint64_t value, int size) {
    std::string bytes;
    for (int i = 0; i < size; ++i) bytes += static_cast<char>(value >> (8 * i));
    return bytes;
}

// A whole file around `content`: magic, version 1, CRC-32 and size of the content, so that the
// loader's checks past the checksum are reached.
std::string FileAround(const std::string& content) {
    return std::string("MKPARAMS") + Le(1, 4) + Le(Crc32(content), 4) + Le(content.size(), 8) +
           content;
}

class ParamsFileTest : public ::testing::Test {
  protected:
    ParamsFileTest() { EXPECT_EQ(target->SetLong(B(L"Sentinel").Get(), 0, 77), S_OK); }

    // Loads `bytes` from a file into `target`; the load must fail and leave it as it was.
    void ExpectCleanFailure(const std::string& bytes, const std::string& what) {
        dir.Write("damaged.bin", bytes);
        EXPECT_EQ(target->LoadFromFile(Bstr(dir.Wide("damaged.bin")).Get()),
                  HRESULT_FROM_WIN32(ERROR_INVALID_DATA))
            << what;
        EXPECT_EQ(ReadValue<LONG>(target.Get(), &P::GetNameCount), 1) << what;
        EXPECT_EQ(ReadValue<LONG>(target.Get(), &P::GetLong, B(L"Sentinel").Get(), 0), 77) << what;
    }

    TempDir dir;
    ComPtr<IMediaParams> params = Create<IMediaParams>(CLSID_MediaParams);
    ComPtr<IMediaParams> target = Create<IMediaParams>(CLSID_MediaParams);
};

}  // namespace

TEST_F(ParamsFileTest, EveryTruncationAndEveryFlippedByteFailsCleanly) {
    auto inner = Create<IMediaParams>(CLSID_MediaParams);
    ASSERT_EQ(inner->SetDouble(B(L"R").Get(), 0, 1.5), S_OK);
    ASSERT_EQ(params->SetParams(B(L"P").Get(), 0, 1, inner.Get()), S_OK);
    ASSERT_EQ(params->SetStream(B(L"S").Get(), 0, 1, StreamOf("xyz").Get()), S_OK);
    ASSERT_EQ(params->SetBool(B(L"B").Get(), 0, VARIANT_TRUE), S_OK);
    ASSERT_EQ(params->SaveToFile(Bstr(dir.Wide("params.bin")).Get()), S_OK);
    std::string good;
    ASSERT_TRUE(ReadWholeFile(dir.Wide("params.bin"), good, 1 << 20));
    ASSERT_GT(good.size(), 24u);
    for (std::size_t length = 0; length < good.size(); ++length) {
        ExpectCleanFailure(good.substr(0, length), "truncated to " + std::to_string(length));
    }
    for (std::size_t at = 0; at < good.size(); ++at) {
        std::string flipped = good;
        flipped[at] = static_cast<char>(flipped[at] ^ 0xFF);
        ExpectCleanFailure(flipped, "byte flipped at " + std::to_string(at));
    }
}

// Sizes and nesting behind a valid checksum: no allocation or recursion follows them blindly.
TEST_F(ParamsFileTest, CountsAndNestingAreCheckedBehindAValidChecksum) {
    const std::string nameN = Le(1, 4) + Le(1, 4) + "n";  // one name, of 1 byte: "n"
    ExpectCleanFailure(FileAround(Le(0x7FFFFFFF, 4)), "huge name count");
    ExpectCleanFailure(FileAround(Le(1, 4) + Le(0xFFFFFFFF, 4) + "n"), "huge name size");
    // 0x7FFFFFFF elements, then one bool (type 1, true).
    ExpectCleanFailure(FileAround(nameN + Le(0x7FFFFFFF, 4) + Le(1, 1) + Le(1, 1)),
                       "huge element count");
    // One stream element (type 7) claiming 2^40 bytes.
    ExpectCleanFailure(FileAround(nameN + Le(1, 4) + Le(7, 1) + Le(1ull << 40, 8)),
                       "huge stream size");
    // Containers (type 6) nested `levels` deep below the top; the innermost has no names.
    const auto nested = [&](int levels) {
        std::string content;
        for (int i = 0; i < levels; ++i) content += nameN + Le(1, 4) + Le(6, 1);
        return FileAround(content + Le(0, 4));
    };
    ExpectCleanFailure(nested(65), "nesting 65");
    dir.Write("deep.bin", nested(64));
    EXPECT_EQ(params->LoadFromFile(Bstr(dir.Wide("deep.bin")).Get()), S_OK);
}
