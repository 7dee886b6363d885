// The in-memory IStream: reads at and past the end, seeks that fail without moving and growth with
// zero-filled gaps.
#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "platform/ComPtr.h"
#include "platform/MemoryStream.h"

namespace {
ComPtr<IStream> NewStream(std::string_view bytes) {
    ComPtr<IStream> stream;
    EXPECT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, stream.Put()), S_OK);
    EXPECT_EQ(stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), nullptr), S_OK);
    return stream;
}

// 64-bit stream offsets and sizes (Windows declares them as unions of two halves and the whole).
LARGE_INTEGER Offset(LONGLONG value) {
    LARGE_INTEGER offset{};
    offset.QuadPart = value;
    return offset;
}
ULARGE_INTEGER Size(ULONGLONG value) {
    ULARGE_INTEGER size{};
    size.QuadPart = value;
    return size;
}

ULONGLONG Position(IStream* stream) {
    ULARGE_INTEGER position = Size(0xCAFE);
    EXPECT_EQ(stream->Seek(LARGE_INTEGER{}, STREAM_SEEK_CUR, &position), S_OK);
    return position.QuadPart;
}

// Up to 64 bytes from `offset` on.
std::string ReadAt(IStream* stream, LONGLONG offset) {
    EXPECT_EQ(stream->Seek(Offset(offset), STREAM_SEEK_SET, nullptr), S_OK);
    std::string bytes(64, '\0');
    ULONG read = 99;
    EXPECT_EQ(stream->Read(bytes.data(), static_cast<ULONG>(bytes.size()), &read), S_OK);
    bytes.resize(read);
    return bytes;
}
}  // namespace

TEST(MemoryStream, ReadsWritesSizesAndFailedSeeks) {
    ComPtr<IStream> stream = NewStream("Hello");
    EXPECT_EQ(ReadAt(stream.Get(), 1000), "");  // far past the end: no failure, position kept
    EXPECT_EQ(Position(stream.Get()), 1000u);
    EXPECT_EQ(stream->Write("X", 1, nullptr), S_OK);
    EXPECT_EQ(ReadAt(stream.Get(), 998), std::string("\0\0X", 3));
    // SetSize cuts without moving the position; an impossible size changes nothing.
    ASSERT_EQ(stream->SetSize(Size(1)), S_OK);
    EXPECT_EQ(Position(stream.Get()), 1001u);
    EXPECT_EQ(stream->SetSize(Size(~0ull)), E_OUTOFMEMORY);
    EXPECT_EQ(ReadAt(stream.Get(), 0), "H");

    // Failed seeks report the unchanged position: move, origin, result, position.
    stream = NewStream("Test String");
    const std::tuple<LONGLONG, DWORD, HRESULT, ULONGLONG> cases[] = {
        {-1, STREAM_SEEK_SET, STG_E_SEEKERROR, 11},  // before the start
        {0x7FFFFFFFFFFFFFFF, STREAM_SEEK_SET, S_OK, 0x7FFFFFFFFFFFFFFF},
        {1, STREAM_SEEK_CUR, STG_E_SEEKERROR, 0x7FFFFFFFFFFFFFFF},  // overflow
    };
    for (const auto& [move, origin, expected, position] : cases) {
        ULARGE_INTEGER reported = Size(0xCAFECAFE);
        EXPECT_EQ(stream->Seek(Offset(move), origin, &reported), expected) << move;
        EXPECT_EQ(reported.QuadPart, position) << move;
    }
}
