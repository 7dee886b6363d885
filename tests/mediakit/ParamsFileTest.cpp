#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/ComObject.h"
#include "tests/mediakit/MediaKitTestSupport.h"
#include "tests/support/TempDir.h"

namespace {

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

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

// A whole file around `content`, with a correct header: the reader's checks past the checksum.
std::string FileAround(const std::string& content) {
    return std::string("MKPARAMS") + Le(1, 4) + Le(Crc32(content), 4) + Le(content.size(), 8) +
           content;
}

ComPtr<IStream> StreamOf(const std::string& bytes) {
    ComPtr<IStream> stream;
    EXPECT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, stream.Put()), S_OK);
    EXPECT_EQ(stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), nullptr), S_OK);
    return stream;
}

std::string ContentOf(IStream* stream) {
    LARGE_INTEGER start{};
    EXPECT_EQ(stream->Seek(start, STREAM_SEEK_SET, nullptr), S_OK);
    std::string bytes(256, '\0');
    ULONG got = 0;
    EXPECT_EQ(stream->Read(bytes.data(), 256, &got), S_OK);
    bytes.resize(got);
    return bytes;
}

// A stream whose every read fails (and which cannot clone itself).
class BrokenStream final : public ComObject<BrokenStream>, public IStream {
  public:
    COM_DELEGATING_IUNKNOWN
    explicit BrokenStream(ComObjectArgs args) : ComObject(args) {}
    HRESULT InternalQueryInterface(REFIID riid, void** ppv) {
        return QueryInterfaceTable<IStream, ISequentialStream>(this, riid, ppv);
    }
    HRESULT STDMETHODCALLTYPE Read(void*, ULONG, ULONG*) override { return E_FAIL; }
    HRESULT STDMETHODCALLTYPE Write(const void*, ULONG, ULONG*) override { return E_FAIL; }
    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER, DWORD, ULARGE_INTEGER* to) override {
        if (to) to->QuadPart = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER) override { return E_FAIL; }
    HRESULT STDMETHODCALLTYPE CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*,
                                     ULARGE_INTEGER*) override {
        return E_FAIL;
    }
    HRESULT STDMETHODCALLTYPE Commit(DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Revert() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
        return E_FAIL;
    }
    HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
        return E_FAIL;
    }
    HRESULT STDMETHODCALLTYPE Stat(STATSTG*, DWORD) override { return E_FAIL; }
    HRESULT STDMETHODCALLTYPE Clone(IStream**) override { return E_NOTIMPL; }
};

class ParamsFileTest : public ::testing::Test {
  protected:
    // Loads `bytes` from a file into a container that holds "Sentinel" = 77; the load must fail
    // and leave the container as it was.
    void ExpectCleanFailure(const std::string& bytes, const std::string& what) {
        const Bstr path(dir.Wide("damaged.bin"));
        dir.Write("damaged.bin", bytes);
        auto target = Create<IMediaParams>(CLSID_MediaParams);
        ASSERT_EQ(target->SetLong(B(L"Sentinel").Get(), 0, 77), S_OK);
        EXPECT_EQ(target->LoadFromFile(path.Get()), HRESULT_FROM_WIN32(ERROR_INVALID_DATA)) << what;
        LONG names = 0, value = 0;
        EXPECT_EQ(target->GetNameCount(&names), S_OK);
        EXPECT_EQ(target->GetLong(B(L"Sentinel").Get(), 0, &value), S_OK);
        EXPECT_EQ(names * 1000 + value, 1077) << what;
    }

    TempDir dir;
    const Bstr path{dir.Wide("params.bin")};
};

}  // namespace

TEST_F(ParamsFileTest, RoundTripKeepsEveryTypeAndStreamBytes) {
    auto params = Create<IMediaParams>(CLSID_MediaParams);
    auto inner = Create<IMediaParams>(CLSID_MediaParams);
    ASSERT_EQ(inner->SetString(B(L"Hash").Get(), 0, B(L"Über-clip ✓").Get()), S_OK);
    ASSERT_EQ(inner->SetStream(B(L"FileVideoIndexes").Get(), 0, 1, StreamOf("inner").Get()), S_OK);
    ComPtr<IStream> outerStream = StreamOf(std::string("a\0b", 3));  // position left at 3
    ASSERT_EQ(params->SetBool(B(L"Bool").Get(), -1, VARIANT_TRUE), S_OK);
    ASSERT_EQ(params->SetBool(B(L"Bool").Get(), -1, VARIANT_FALSE), S_OK);
    ASSERT_EQ(params->SetLong(B(L"Long").Get(), 0, -123456), S_OK);
    ASSERT_EQ(params->SetUInt64(B(L"UInt64").Get(), 0, 0xFEDCBA9876543210ull), S_OK);
    ASSERT_EQ(params->SetDouble(B(L"Double").Get(), 0, -0.0), S_OK);
    ASSERT_EQ(params->SetDouble(B(L"Double").Get(), -1, 29.97), S_OK);
    ASSERT_EQ(params->SetString(B(L"Empty").Get(), 0, nullptr), S_OK);
    ASSERT_EQ(params->SetParams(B(L"FLVSettings").Get(), 0, 1, inner.Get()), S_OK);
    ASSERT_EQ(params->SetStream(B(L"Stream").Get(), 0, 1, outerStream.Get()), S_OK);
    ASSERT_EQ(params->SetUnknown(B(L"Object").Get(), 0, 1, inner.Get()), S_OK);  // not saved
    ASSERT_EQ(params->SetUnknown(B(L"Long").Get(), -1, 1, inner.Get()), S_OK);   // not saved

    ASSERT_EQ(params->SaveToFile(path.Get()), S_OK);
    ULARGE_INTEGER position{};
    ASSERT_EQ(outerStream->Seek(LARGE_INTEGER{}, STREAM_SEEK_CUR, &position), S_OK);
    EXPECT_EQ(position.QuadPart, 3u);  // the save did not move the stream

    auto loaded = Create<IMediaParams>(CLSID_MediaParams);
    ASSERT_EQ(loaded->SetLong(B(L"Stale").Get(), 0, 1), S_OK);  // replaced by the load
    ASSERT_EQ(loaded->LoadFromFile(path.Get()), S_OK);
    IMediaParams* l = loaded.Get();
    using P = IMediaParams;
    const wchar_t* names[] = {L"Bool",  L"Long",        L"UInt64", L"Double",
                              L"Empty", L"FLVSettings", L"Stream"};
    ASSERT_EQ(ReadValue<LONG>(l, &P::GetNameCount), 7);
    for (LONG i = 0; i < 7; ++i) EXPECT_EQ(ReadValue<Bstr>(l, &P::GetNameAt, i).View(), names[i]);
    EXPECT_EQ(ReadValue<VARIANT_BOOL>(l, &P::GetBool, B(L"Bool").Get(), 1), VARIANT_FALSE);
    EXPECT_EQ(ReadValue<LONG>(l, &P::GetCount, B(L"Long").Get()), 1);
    EXPECT_EQ(ReadValue<LONG>(l, &P::GetLong, B(L"Long").Get(), 0), -123456);
    EXPECT_EQ(ReadValue<ULONGLONG>(l, &P::GetUInt64, B(L"UInt64").Get(), 0), 0xFEDCBA9876543210ull);
    EXPECT_TRUE(std::signbit(ReadValue<double>(l, &P::GetDouble, B(L"Double").Get(), 0)));
    EXPECT_EQ(ReadValue<double>(l, &P::GetDouble, B(L"Double").Get(), 1), 29.97);
    EXPECT_EQ(ReadValue<Bstr>(l, &P::GetString, B(L"Empty").Get(), 0).View(), L"");
    ComPtr<IStream> stream;
    ASSERT_EQ(l->GetStream(B(L"Stream").Get(), 0, 1, stream.Put()), S_OK);
    EXPECT_EQ(ContentOf(stream.Get()), std::string("a\0b", 3));
    ComPtr<IMediaParams> nested;
    ASSERT_EQ(l->GetParams(B(L"FLVSettings").Get(), 0, 1, nested.Put()), S_OK);
    EXPECT_EQ(ReadValue<Bstr>(nested.Get(), &P::GetString, B(L"Hash").Get(), 0).View(),
              L"Über-clip ✓");
    ASSERT_EQ(nested->GetStream(B(L"FileVideoIndexes").Get(), 0, 1, stream.Put()), S_OK);
    EXPECT_EQ(ContentOf(stream.Get()), "inner");

    // The stream form is the same as the file's.
    ComPtr<IStream> saved;
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, saved.Put()), S_OK);
    ASSERT_EQ(l->SaveToStream(saved.Get()), S_OK);
    auto fromStream = Create<IMediaParams>(CLSID_MediaParams);
    EXPECT_EQ(fromStream->LoadFromStream(saved.Get()),
              HRESULT_FROM_WIN32(ERROR_INVALID_DATA));  // read at its end: nothing there
    ASSERT_EQ(saved->Seek(LARGE_INTEGER{}, STREAM_SEEK_SET, nullptr), S_OK);
    EXPECT_EQ(fromStream->LoadFromStream(saved.Get()), S_OK);
    EXPECT_EQ(ReadValue<LONG>(fromStream.Get(), &P::GetLong, B(L"Long").Get(), 0), -123456);
    ASSERT_EQ(params->Clear(), S_OK);  // drops the inner container held as an object
}

TEST_F(ParamsFileTest, BytesFollowTheDocumentedLayout) {
    auto params = Create<IMediaParams>(CLSID_MediaParams);
    ASSERT_EQ(params->SetLong(B(L"A").Get(), 0, 1), S_OK);
    ASSERT_EQ(params->SaveToFile(path.Get()), S_OK);
    const std::string content = Le(1, 4)     // one name
                                + Le(1, 4)   // name size 1
                                + "A"        // name
                                + Le(1, 4)   // one element
                                + Le(2, 1)   // type long
                                + Le(1, 4);  // value 1
    EXPECT_EQ(ReadFile(dir.Path() / "params.bin"), FileAround(content));
}

TEST_F(ParamsFileTest, EveryTruncationAndEveryFlippedByteFailsCleanly) {
    auto params = Create<IMediaParams>(CLSID_MediaParams);
    auto inner = Create<IMediaParams>(CLSID_MediaParams);
    ASSERT_EQ(inner->SetDouble(B(L"R").Get(), 0, 1.5), S_OK);
    ASSERT_EQ(params->SetParams(B(L"P").Get(), 0, 1, inner.Get()), S_OK);
    ASSERT_EQ(params->SetStream(B(L"S").Get(), 0, 1, StreamOf("xyz").Get()), S_OK);
    ASSERT_EQ(params->SetString(B(L"T").Get(), 0, B(L"t").Get()), S_OK);
    ASSERT_EQ(params->SetBool(B(L"B").Get(), 0, VARIANT_TRUE), S_OK);
    ASSERT_EQ(params->SaveToFile(path.Get()), S_OK);
    const std::string good = ReadFile(dir.Path() / "params.bin");
    ASSERT_GT(good.size(), 24u);
    for (std::size_t length = 0; length < good.size(); ++length) {
        ExpectCleanFailure(good.substr(0, length), "truncated to " + std::to_string(length));
    }
    for (std::size_t at = 0; at < good.size(); ++at) {
        std::string flipped = good;
        flipped[at] = static_cast<char>(flipped[at] ^ 0xFF);
        ExpectCleanFailure(flipped, "byte flipped at " + std::to_string(at));
    }
    ExpectCleanFailure(good + "x", "trailing byte");
}

TEST_F(ParamsFileTest, CountsAndNestingAreCheckedBehindAValidChecksum) {
    // Name count 0x7FFFFFFF with no bytes behind it.
    ExpectCleanFailure(FileAround(Le(0x7FFFFFFF, 4)), "huge name count");
    // One name "n" claiming 0x7FFFFFFF elements, holding one bool.
    ExpectCleanFailure(
        FileAround(Le(1, 4) + Le(1, 4) + "n" + Le(0x7FFFFFFF, 4) + Le(1, 1) + Le(1, 1)),
        "huge element count");
    // One name "n" with a stream element claiming 2^40 bytes.
    ExpectCleanFailure(
        FileAround(Le(1, 4) + Le(1, 4) + "n" + Le(1, 4) + Le(7, 1) + Le(1ull << 40, 8)),
        "huge stream size");
    // A name whose size runs past the end.
    ExpectCleanFailure(FileAround(Le(1, 4) + Le(0xFFFFFFFF, 4) + "n"), "huge name size");
    // The same name twice, and an element count of 0.
    const std::string oneBool = Le(1, 4) + Le(1, 1) + Le(1, 1);  // count 1, type bool, true
    ExpectCleanFailure(FileAround(Le(2, 4) + Le(1, 4) + "n" + oneBool + Le(1, 4) + "n" + oneBool),
                       "duplicate name");
    ExpectCleanFailure(FileAround(Le(1, 4) + Le(1, 4) + "n" + Le(0, 4)), "no elements");
    // A bool of 2, and the object type (8), which is never saved.
    ExpectCleanFailure(FileAround(Le(1, 4) + Le(1, 4) + "n" + Le(1, 4) + Le(1, 1) + Le(2, 1)),
                       "bool 2");
    ExpectCleanFailure(FileAround(Le(1, 4) + Le(1, 4) + "n" + Le(1, 4) + Le(8, 1)), "object");

    // Containers nested `levels` deep below the top: each level is one name "n" holding one
    // container element; the innermost container has no names.
    const auto nested = [](int levels) {
        std::string content;
        for (int i = 0; i < levels; ++i) content += Le(1, 4) + Le(1, 4) + "n" + Le(1, 4) + Le(6, 1);
        return FileAround(content + Le(0, 4));
    };
    ExpectCleanFailure(nested(65), "nesting 65");
    dir.Write("deep.bin", nested(64));
    auto deep = Create<IMediaParams>(CLSID_MediaParams);
    EXPECT_EQ(deep->LoadFromFile(Bstr(dir.Wide("deep.bin")).Get()), S_OK);
}

TEST_F(ParamsFileTest, FailuresToReadOrWriteLeaveFilesAndContainersAlone) {
    auto params = Create<IMediaParams>(CLSID_MediaParams);
    EXPECT_EQ(params->LoadFromFile(Bstr(dir.Wide("missing.bin")).Get()),
              HRESULT_FROM_WIN32(ERROR_CANTREAD));
    EXPECT_EQ(params->SaveToFile(Bstr(dir.Wide("no/such/folder.bin")).Get()),
              HRESULT_FROM_WIN32(ERROR_CANTWRITE));

    // A stream that cannot be read fails the save, and the file saved before stays whole.
    ASSERT_EQ(params->SetLong(B(L"Kept").Get(), 0, 1), S_OK);
    ASSERT_EQ(params->SaveToFile(path.Get()), S_OK);
    const std::string before = ReadFile(dir.Path() / "params.bin");
    ComPtr<IStream> broken;
    ASSERT_EQ(ComObject<BrokenStream>::Create(nullptr, broken), S_OK);
    ASSERT_EQ(params->SetStream(B(L"Broken").Get(), 0, 1, broken.Get()), S_OK);
    EXPECT_EQ(params->SaveToFile(path.Get()), E_FAIL);
    EXPECT_EQ(ReadFile(dir.Path() / "params.bin"), before);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()),
                            std::filesystem::directory_iterator()),
              1);  // no temporary file left behind
}
