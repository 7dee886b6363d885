// The in-memory IStream: reads at and past the end, seeks that fail without moving and growth with
// zero-filled gaps.
#include <gtest/gtest.h>

#include <string>

#include "platform/ComPtr.h"
#include "platform/MemoryStream.h"

namespace {
ComPtr<IStream> NewStream(std::string_view bytes) {
    ComPtr<IStream> stream;
    EXPECT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, stream.Put()), S_OK);
    EXPECT_EQ(stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), nullptr), S_OK);
    return stream;
}

ULONGLONG Position(IStream* stream) {
    ULARGE_INTEGER position{0xCAFE};
    EXPECT_EQ(stream->Seek(LARGE_INTEGER{0}, STREAM_SEEK_CUR, &position), S_OK);
    return position.QuadPart;
}

ULONGLONG Size(IStream* stream) {
    STATSTG stat{};
    EXPECT_EQ(stream->Stat(&stat, STATFLAG_DEFAULT), S_OK);
    return stat.cbSize.QuadPart;
}

// Up to 64 bytes from `offset` on.
std::string ReadAt(IStream* stream, LONGLONG offset) {
    EXPECT_EQ(stream->Seek(LARGE_INTEGER{offset}, STREAM_SEEK_SET, nullptr), S_OK);
    std::string bytes(64, '\0');
    ULONG read = 99;
    EXPECT_EQ(stream->Read(bytes.data(), static_cast<ULONG>(bytes.size()), &read), S_OK);
    bytes.resize(read);
    return bytes;
}
}  // namespace

TEST(MemoryStream, ReadsWritesAndSizes) {
    ComPtr<IStream> stream = NewStream("Hello");
    EXPECT_EQ(ReadAt(stream.Get(), 1000), "");  // far past the end: no failure, position kept
    EXPECT_EQ(Position(stream.Get()), 1000u);
    EXPECT_EQ(stream->Write("X", 1, nullptr), S_OK);
    EXPECT_EQ(ReadAt(stream.Get(), 998), std::string("\0\0X", 3));
    // SetSize cuts or extends without moving the position; an impossible size changes nothing.
    ASSERT_EQ(stream->SetSize(ULARGE_INTEGER{1}), S_OK);
    EXPECT_EQ(Size(stream.Get()), 1u);
    EXPECT_EQ(Position(stream.Get()), 1001u);
    EXPECT_EQ(stream->SetSize(ULARGE_INTEGER{~0ull}), E_OUTOFMEMORY);
    EXPECT_EQ(Size(stream.Get()), 1u);
}

TEST(MemoryStream, FailedSeeksReportTheUnchangedPosition) {
    ComPtr<IStream> stream = NewStream("Test String");
    const struct {
        LONGLONG move;
        DWORD origin;
        HRESULT expected;
        ULONGLONG position;
    } cases[] = {
        {-1, STREAM_SEEK_SET, STG_E_SEEKERROR, 11},  // before the start
        {5, STREAM_SEEK_SET, S_OK, 5},
        {123, STREAM_SEEK_END + 1, STG_E_SEEKERROR, 5},  // unknown origin
        {0x7FFFFFFFFFFFFFFF, STREAM_SEEK_SET, S_OK, 0x7FFFFFFFFFFFFFFF},
        {1, STREAM_SEEK_CUR, STG_E_SEEKERROR, 0x7FFFFFFFFFFFFFFF},  // overflow
    };
    for (const auto& c : cases) {
        ULARGE_INTEGER reported{0xCAFECAFE};
        EXPECT_EQ(stream->Seek(LARGE_INTEGER{c.move}, c.origin, &reported), c.expected) << c.move;
        EXPECT_EQ(reported.QuadPart, c.position) << c.move;
    }
}
