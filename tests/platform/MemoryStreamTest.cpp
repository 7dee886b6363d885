#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/ComPtr.h"
#include "platform/MemoryStream.h"

namespace {
ComPtr<IStream> NewStream() {
    ComPtr<IStream> stream;
    EXPECT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, stream.Put()), S_OK);
    return stream;
}

ULONGLONG Position(IStream* stream) {
    ULARGE_INTEGER position{0xCAFE};
    EXPECT_EQ(stream->Seek(LARGE_INTEGER{0}, STREAM_SEEK_CUR, &position), S_OK);
    return position.QuadPart;
}

ULONGLONG Size(IStream* stream) {
    STATSTG stat;
    std::memset(&stat, 0x55, sizeof stat);
    EXPECT_EQ(stream->Stat(&stat, STATFLAG_DEFAULT), S_OK);
    EXPECT_EQ(stat.type, STGTY_STREAM);
    EXPECT_EQ(stat.pwcsName, nullptr);
    EXPECT_EQ(stat.clsid, GUID_NULL);
    return stat.cbSize.QuadPart;
}

std::string ReadAll(IStream* stream) {
    EXPECT_EQ(stream->Seek(LARGE_INTEGER{0}, STREAM_SEEK_SET, nullptr), S_OK);
    std::string bytes(64, '\0');
    ULONG read = 0;
    EXPECT_EQ(stream->Read(bytes.data(), static_cast<ULONG>(bytes.size()), &read), S_OK);
    bytes.resize(read);
    return bytes;
}

void Write(IStream* stream, std::string_view bytes) {
    ULONG written = 0;
    ASSERT_EQ(stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written), S_OK);
    ASSERT_EQ(written, bytes.size());
}

// A target stream that accepts at most `limit` bytes per write; its other methods are unused.
struct ShortWriter final : IStream {
    std::string received;
    ULONG limit = 3;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppv) override {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE Read(void*, ULONG, ULONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Write(const void* buffer, ULONG count, ULONG* written) override {
        const ULONG n = count < limit ? count : limit;
        received.append(static_cast<const char*>(buffer), n);
        *written = n;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER, DWORD, ULARGE_INTEGER*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*,
                                     ULARGE_INTEGER*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Commit(DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Revert() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Stat(STATSTG*, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Clone(IStream**) override { return E_NOTIMPL; }
};
}  // namespace

TEST(MemoryStream, ReadPastTheEndReadsWhatThereIs) {
    ComPtr<IStream> stream = NewStream();
    Write(stream.Get(), "Hello");
    ASSERT_EQ(stream->Seek(LARGE_INTEGER{3}, STREAM_SEEK_SET, nullptr), S_OK);
    char buffer[16] = {};
    ULONG read = 99;
    EXPECT_EQ(stream->Read(buffer, sizeof buffer, &read), S_OK);
    EXPECT_EQ(read, 2u);
    EXPECT_EQ(std::string(buffer, read), "lo");
    EXPECT_EQ(stream->Read(buffer, sizeof buffer, &read), S_OK);
    EXPECT_EQ(read, 0u);
    // Far past the end: nothing, no failure, position kept.
    ASSERT_EQ(stream->Seek(LARGE_INTEGER{1000}, STREAM_SEEK_SET, nullptr), S_OK);
    EXPECT_EQ(stream->Read(buffer, sizeof buffer, &read), S_OK);
    EXPECT_EQ(read, 0u);
    EXPECT_EQ(Position(stream.Get()), 1000u);
    EXPECT_EQ(stream->Read(nullptr, 1, &read), STG_E_INVALIDPOINTER);
    EXPECT_EQ(stream->Read(buffer, 0, nullptr), S_OK);
}

TEST(MemoryStream, FailedSeeksReportTheUnchangedPosition) {
    ComPtr<IStream> stream = NewStream();
    Write(stream.Get(), "Test String");
    struct Case {
        LONGLONG move;
        DWORD origin;
        HRESULT expected;
        ULONGLONG position;
    };
    const Case cases[] = {
        {0, STREAM_SEEK_CUR, S_OK, 11},
        {-11, STREAM_SEEK_CUR, S_OK, 0},
        {-1, STREAM_SEEK_CUR, STG_E_SEEKERROR, 0},  // before the start
        {-12, STREAM_SEEK_END, STG_E_SEEKERROR, 0},
        {-11, STREAM_SEEK_END, S_OK, 0},
        {5, STREAM_SEEK_SET, S_OK, 5},
        {123, STREAM_SEEK_END + 1, STG_E_SEEKERROR, 5},  // unknown origin
        {-1, STREAM_SEEK_SET, STG_E_SEEKERROR, 5},
        {0x7FFFFFFFFFFFFFFF, STREAM_SEEK_SET, S_OK, 0x7FFFFFFFFFFFFFFF},
        {1, STREAM_SEEK_CUR, STG_E_SEEKERROR, 0x7FFFFFFFFFFFFFFF},  // overflow
        {4, STREAM_SEEK_END, S_OK, 15},                             // past the end is allowed
    };
    for (const Case& c : cases) {
        ULARGE_INTEGER reported{0xCAFECAFE};
        EXPECT_EQ(stream->Seek(LARGE_INTEGER{c.move}, c.origin, &reported), c.expected) << c.move;
        EXPECT_EQ(reported.QuadPart, c.position) << c.move;
    }
}

TEST(MemoryStream, WritesGrowTheStreamAndFillGapsWithZeros) {
    ComPtr<IStream> stream = NewStream();
    std::string expected;
    for (int i = 0; i < 1000; ++i) {
        const std::string chunk = std::to_string(i) + ",";
        Write(stream.Get(), chunk);
        expected += chunk;
    }
    EXPECT_EQ(Size(stream.Get()), expected.size());
    ASSERT_EQ(stream->Seek(LARGE_INTEGER{3}, STREAM_SEEK_END, nullptr), S_OK);
    Write(stream.Get(), "X");
    EXPECT_EQ(Size(stream.Get()), expected.size() + 4);
    char tail[4];
    ULONG read = 0;
    ASSERT_EQ(stream->Seek(LARGE_INTEGER{-4}, STREAM_SEEK_END, nullptr), S_OK);
    ASSERT_EQ(stream->Read(tail, 4, &read), S_OK);
    EXPECT_EQ(std::string(tail, 4), std::string("\0\0\0X", 4));
    // SetSize cuts or extends without moving the position.
    ASSERT_EQ(stream->Seek(LARGE_INTEGER{2}, STREAM_SEEK_SET, nullptr), S_OK);
    ASSERT_EQ(stream->SetSize(ULARGE_INTEGER{1}), S_OK);
    EXPECT_EQ(Size(stream.Get()), 1u);
    EXPECT_EQ(Position(stream.Get()), 2u);
    EXPECT_EQ(stream->SetSize(ULARGE_INTEGER{~0ull}), E_OUTOFMEMORY);
    EXPECT_EQ(Size(stream.Get()), 1u);
    ULONG written = 99;
    EXPECT_EQ(stream->Write(nullptr, 1, &written), STG_E_INVALIDPOINTER);
    EXPECT_EQ(written, 0u);
}

TEST(MemoryStream, CloneSharesTheBytesButKeepsItsOwnPosition) {
    ComPtr<IStream> stream = NewStream();
    ComPtr<IStream> early;
    ASSERT_EQ(stream->Clone(early.Put()), S_OK);
    Write(stream.Get(), "Hello World!");
    EXPECT_EQ(Position(early.Get()), 0u);
    EXPECT_EQ(Size(early.Get()), 12u);
    ComPtr<IStream> late;
    ASSERT_EQ(stream->Clone(late.Put()), S_OK);
    EXPECT_EQ(Position(late.Get()), 12u);  // starts where the original stood
    Write(late.Get(), "+");
    EXPECT_EQ(Position(stream.Get()), 12u);
    EXPECT_EQ(ReadAll(stream.Get()), "Hello World!+");
    // The bytes outlive the stream they were written through.
    stream.Reset();
    EXPECT_EQ(ReadAll(early.Get()), "Hello World!+");
    EXPECT_EQ(early->Clone(nullptr), STG_E_INVALIDPOINTER);
}

TEST(MemoryStream, CopyToCopiesFromThePositionAndCountsBothSides) {
    ComPtr<IStream> source = NewStream();
    Write(source.Get(), "0123456789");
    ASSERT_EQ(source->Seek(LARGE_INTEGER{4}, STREAM_SEEK_SET, nullptr), S_OK);
    ComPtr<IStream> target = NewStream();
    ULARGE_INTEGER read{}, written{};
    ASSERT_EQ(source->CopyTo(target.Get(), ULARGE_INTEGER{100}, &read, &written), S_OK);
    EXPECT_EQ(read.QuadPart, 6u);
    EXPECT_EQ(written.QuadPart, 6u);
    EXPECT_EQ(Position(source.Get()), 10u);
    EXPECT_EQ(ReadAll(target.Get()), "456789");
    // A count smaller than what is there.
    ASSERT_EQ(source->Seek(LARGE_INTEGER{0}, STREAM_SEEK_SET, nullptr), S_OK);
    ASSERT_EQ(source->CopyTo(target.Get(), ULARGE_INTEGER{2}, &read, &written), S_OK);
    EXPECT_EQ(read.QuadPart, 2u);
    EXPECT_EQ(Position(source.Get()), 2u);
    // A target that takes fewer bytes than offered: read and written differ.
    ShortWriter shortWriter;
    ASSERT_EQ(source->CopyTo(&shortWriter, ULARGE_INTEGER{5}, &read, &written), S_OK);
    EXPECT_EQ(read.QuadPart, 5u);
    EXPECT_EQ(written.QuadPart, 3u);
    EXPECT_EQ(shortWriter.received, "234");
    EXPECT_EQ(source->CopyTo(nullptr, ULARGE_INTEGER{1}, &read, &written), STG_E_INVALIDPOINTER);
}

TEST(MemoryStream, CreationAndUnsupportedCalls) {
    EXPECT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, nullptr), E_INVALIDARG);
    IStream* stream = reinterpret_cast<IStream*>(1);
    int block = 0;
    EXPECT_EQ(CreateStreamOnHGlobal(&block, FALSE, &stream), E_INVALIDARG);  // only fresh blocks
    EXPECT_EQ(stream, nullptr);
    ComPtr<IStream> fresh = NewStream();
    EXPECT_TRUE(fresh.As<ISequentialStream>());
    EXPECT_EQ(fresh->LockRegion(ULARGE_INTEGER{0}, ULARGE_INTEGER{1}, 0), STG_E_INVALIDFUNCTION);
    EXPECT_EQ(fresh->Commit(0), S_OK);
    EXPECT_EQ(fresh->Stat(nullptr, STATFLAG_DEFAULT), STG_E_INVALIDPOINTER);
}
