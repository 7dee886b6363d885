// MediaParams: every listed slot, the selector rules, a container holding itself, and the saved
// file (round trip; damaged, truncated and oversized content loads as a clean failure).
#include <cmath>

#include "platform/File.h"
#include "tests/mediakit/MediaKitTestSupport.h"
#include "tests/support/TempDir.h"

namespace {

namespace fs = std::filesystem;
using P = IMediaParams;
constexpr LONG kLast = -1;
constexpr LONG kShare = 1;

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

class MediaParamsTest : public ::testing::Test {
  protected:
    MediaParamsTest() { EXPECT_EQ(target->SetLong(B(L"Sentinel").Get(), 0, 77), S_OK); }
    LONG Long(const wchar_t* name, LONG sel = kLast) {
        return ReadValue<LONG>(params.Get(), &P::GetLong, B(name).Get(), sel);
    }
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

// Every listed slot through the raw vtable at its index, checked by its effect (the object
// ones, which share a signature, by the pointer they give back); slots 7 and 8 save and load
// (what survives a round trip is checked with the damaged files).
TEST_F(MediaParamsTest, EverySlot) {
    IMediaParams* p = params.Get();
    auto inner = Create<IMediaParams>(CLSID_MediaParams);
    auto object = Create<IUnknown>(CLSID_VideoFormat);
    auto stream = StreamOf("outer");
    ASSERT_EQ(CallSlot(p, 50, B(L"L").Get(), kLast, LONG{7}), S_OK);               // SetLong
    ASSERT_EQ(CallSlot(p, 62, B(L"D").Get(), kLast, -0.0), S_OK);                  // SetDouble
    ASSERT_EQ(CallSlot(p, 35, B(L"F").Get(), kLast, VARIANT_TRUE), S_OK);          // SetBool
    ASSERT_EQ(CallSlot(p, 74, B(L"P").Get(), kLast, kShare, inner.Get()), S_OK);   // SetParams
    ASSERT_EQ(CallSlot(p, 77, B(L"S").Get(), kLast, kShare, stream.Get()), S_OK);  // SetStream
    ASSERT_EQ(CallSlot(p, 83, B(L"U").Get(), kLast, kShare, object.Get()), S_OK);  // SetUnknown
    ASSERT_EQ(p->SetString(B(L"T").Get(), kLast, B(L"clip.flv").Get()), S_OK);
    EXPECT_EQ(ReadValue<LONG>(p, 49, B(L"L").Get(), kLast), 7);                       // GetLong
    EXPECT_EQ(ReadValue<LONG>(p, 48, B(L"None").Get(), kLast, LONG{-5}), -5);         // GetLongDef
    EXPECT_EQ(ReadValue<ULONGLONG>(p, 58, B(L"L").Get(), kLast), 7u);                 // GetUInt64
    EXPECT_TRUE(std::signbit(ReadValue<double>(p, 61, B(L"D").Get(), kLast)));        // GetDouble
    EXPECT_EQ(ReadValue<VARIANT_BOOL>(p, 34, B(L"F").Get(), kLast), VARIANT_TRUE);    // GetBool
    EXPECT_EQ(ReadValue<VARIANT_BOOL>(p, 33, B(L"None").Get(), kLast, VARIANT_TRUE),  // GetBoolDef
              VARIANT_TRUE);
    EXPECT_EQ(ReadValue<Bstr>(p, 64, B(L"T").Get(), kLast).View(), L"clip.flv");  // GetString
    EXPECT_EQ(ReadValue<ComPtr<IMediaParams>>(p, 73, B(L"P").Get(), kLast, kShare).Get(),
              inner.Get());  // GetParams
    EXPECT_EQ(ReadValue<ComPtr<IStream>>(p, 76, B(L"S").Get(), kLast, kShare).Get(),
              stream.Get());  // GetStream
    EXPECT_EQ(ReadValue<ComPtr<IUnknown>>(p, 81, B(L"U").Get(), kLast, kShare).Get(),
              object.Get());  // GetUnknown
    ASSERT_EQ(p->SetLong(B(L"L").Get(), kLast, 8), S_OK);
    EXPECT_EQ(ReadValue<LONG>(p, 19, B(L"L").Get()), 2);          // GetCount
    auto copy = ReadValue<ComPtr<IMediaParams>>(p, 14, LONG{2});  // Duplicate
    EXPECT_EQ(ReadValue<LONG>(copy.Get(), &P::GetLong, B(L"L").Get(), 1), 8);
    auto other = Create<IMediaParams>(CLSID_MediaParams);
    ASSERT_EQ(other->SetLong(B(L"M").Get(), kLast, 3), S_OK);
    EXPECT_EQ(CallSlot(p, 15, LONG{0x101}, other.Get()), S_OK);  // Merge
    EXPECT_EQ(Long(L"M"), 3);
    const Bstr path(dir.Wide("params.bin"));
    EXPECT_EQ(CallSlot(p, 7, path.Get()), S_OK);  // SaveToFile
    auto loaded = Create<IMediaParams>(CLSID_MediaParams);
    ASSERT_EQ(loaded->SetLong(B(L"Stale").Get(), 0, 1), S_OK);      // replaced by the load
    EXPECT_EQ(CallSlot(loaded.Get(), 8, path.Get()), S_OK);         // LoadFromFile
    EXPECT_EQ(ReadValue<LONG>(loaded.Get(), &P::GetNameCount), 7);  // all but the object "U"
    EXPECT_EQ(CallSlot(p, 20), S_OK);                               // Clear
    EXPECT_EQ(ReadValue<LONG>(p, &P::GetNameCount), 0);
}

TEST_F(MediaParamsTest, SelectorsAndAContainerHoldingItself) {
    const Bstr list = B(L"List");
    // 0 on a missing name creates element 0; -1 appends; n replaces n or appends at n == count.
    EXPECT_EQ(params->SetLong(list.Get(), 0, 10), S_OK);
    EXPECT_EQ(params->SetLong(list.Get(), -1, 11), S_OK);
    EXPECT_EQ(params->SetLong(list.Get(), 2, 12), S_OK);
    EXPECT_EQ(params->SetLong(list.Get(), 1, 21), S_OK);
    EXPECT_EQ(params->SetLong(list.Get(), 0, 20), S_OK);
    EXPECT_EQ(params->SetLong(list.Get(), 4, 99), E_INVALIDARG);  // beyond count
    EXPECT_EQ((std::vector<LONG>{ReadValue<LONG>(params.Get(), &P::GetCount, list.Get()),
                                 Long(L"List", 0), Long(L"List", 1), Long(L"List", 2),
                                 Long(L"List", -1)}),
              (std::vector<LONG>{3, 20, 21, 12, 20}));  // -1 reads element 0 of several

    // Failed reads leave the out value as preset; the *Def getters answer their default.
    ASSERT_EQ(params->SetDouble(B(L"Real").Get(), -1, 1.5), S_OK);
    LONG value = 42;
    EXPECT_EQ(params->GetLong(B(L"Missing").Get(), -1, &value), kParamNotFound);
    EXPECT_EQ(params->GetLong(list.Get(), 3, &value), kParamNotFound);
    EXPECT_EQ(params->GetLong(B(L"Real").Get(), -1, &value), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(value, 42);
    EXPECT_TRUE(params->GetLongDef(B(L"Real").Get(), -1, 3, &value) == S_OK && value == 3);
    // A container holding itself fails copies instead of recursing.
    ASSERT_EQ(params->SetParams(B(L"Self").Get(), 0, kShare, params.Get()), S_OK);
    ComPtr<IMediaParams> copy;
    EXPECT_TRUE(params->Duplicate(2, copy.Put()) == E_FAIL && !copy);
    EXPECT_EQ(params->SaveToStream(StreamOf("").Get()), E_FAIL);
    EXPECT_EQ(params->Merge(0x101, params.Get()), S_OK);  // with itself: no deadlock
    EXPECT_EQ(params->Clear(), S_OK);  // breaks the cycle so that the container is freed
}
// Streams of any size survive a save and a load (checksums are taken 64 bytes at a time from 64
// bytes on). A stream of 64 KiB or more carries its own checksum: a load leaves it in the file
// unread, and it checks its bytes as they are read, so that a byte changed in it fails the read
// that reaches its end (or any read, once a read out of order checked it whole), while the
// load went well; loaded from a stream instead of a file, it is checked at once.
TEST_F(MediaParamsTest, StreamsOfEverySizeAndLargeOnesCheckedAsRead) {
    std::string pattern;
    for (std::uint32_t i = 0; pattern.size() < 600000; ++i)
        pattern += static_cast<char>(i * 7919 >> 3);
    for (const std::size_t size : {0, 47, 63, 64, 65, 127, 128, 129, 65535, 65536, 600000}) {
        SCOPED_TRACE(size);
        const std::string bytes = pattern.substr(0, size);
        auto saved = Create<IMediaParams>(CLSID_MediaParams);
        ASSERT_EQ(saved->SetStream(B(L"S").Get(), 0, kShare, StreamOf(bytes).Get()), S_OK);
        ASSERT_EQ(saved->SaveToFile(Bstr(dir.Wide("sized.bin")).Get()), S_OK);
        const std::string good = FileBytes(dir.Path() / "sized.bin");
        std::string flipped = good;
        if (size > 0) flipped[good.size() - size / 2 - 1] ^= 0x01;
        for (const bool damaged : {false, true}) {
            if (damaged && size == 0) continue;
            dir.Write("sized.bin", damaged ? flipped : good);
            const std::uint64_t before = File::TotalBytesRead();
            auto loaded = Create<IMediaParams>(CLSID_MediaParams);
            const HRESULT load = loaded->LoadFromFile(Bstr(dir.Wide("sized.bin")).Get());
            if (size < 65536) {
                EXPECT_EQ(load, damaged ? HRESULT_FROM_WIN32(ERROR_INVALID_DATA) : S_OK);
                if (damaged) continue;
            }
            ASSERT_EQ(load, S_OK);
            if (size == 600000) {
                EXPECT_LT(File::TotalBytesRead() - before, size);  // the body is not read
            }
            auto stream =
                ReadValue<ComPtr<IStream>>(loaded.Get(), &P::GetStream, B(L"S").Get(), 0, kShare);
            std::string read(size + 1, '\0');
            ULONG got = 0;
            const HRESULT first = stream->Read(read.data(), static_cast<ULONG>(read.size()), &got);
            if (damaged) {
                EXPECT_EQ(first, HRESULT_FROM_WIN32(ERROR_INVALID_DATA));
                ASSERT_EQ(stream->Seek(LARGE_INTEGER{1}, STREAM_SEEK_SET, nullptr), S_OK);
                EXPECT_EQ(stream->Read(read.data(), 1, &got),
                          HRESULT_FROM_WIN32(ERROR_INVALID_DATA));
                continue;
            }
            EXPECT_EQ(first, S_OK);
            EXPECT_TRUE(read.substr(0, got) == bytes);
            if (size < 65536) continue;
            EXPECT_EQ(stream->Write("x", 1, nullptr), STG_E_ACCESSDENIED);
            ComPtr<IStream> clone;
            ASSERT_EQ(stream->Seek(LARGE_INTEGER{-10}, STREAM_SEEK_END, nullptr), S_OK);
            ASSERT_EQ(stream->Clone(clone.Put()), S_OK);
            ASSERT_EQ(clone->Read(read.data(), 100, &got), S_OK);
            EXPECT_TRUE(read.substr(0, got) == bytes.substr(size - 10));
        }
        // Through a stream, the large stream's checksum is checked at the load.
        for (const bool damaged : {false, true}) {
            const auto stream = StreamOf(damaged ? flipped : good);
            ASSERT_EQ(stream->Seek(LARGE_INTEGER{0}, STREAM_SEEK_SET, nullptr), S_OK);
            EXPECT_EQ(Create<IMediaParams>(CLSID_MediaParams)->LoadFromStream(stream.Get()),
                      damaged && size > 0 ? HRESULT_FROM_WIN32(ERROR_INVALID_DATA) : S_OK);
        }
    }
}

// A saved file makes a round trip; truncated at every length, a byte flipped anywhere, or with
// sizes and nesting that do not hold behind a valid checksum, it loads as a clean failure.
TEST_F(MediaParamsTest, SavedFileRoundTripAndDamagedFilesFailCleanly) {
    auto inner = Create<IMediaParams>(CLSID_MediaParams);
    ASSERT_EQ(inner->SetString(B(L"Hash").Get(), 0, B(L"Über-clip ✓").Get()), S_OK);
    ASSERT_EQ(params->SetParams(B(L"P").Get(), 0, 1, inner.Get()), S_OK);
    ASSERT_EQ(params->SetStream(B(L"S").Get(), 0, 1, StreamOf(std::string("x\0z", 3)).Get()), S_OK);
    ASSERT_EQ(params->SetBool(B(L"B").Get(), 0, VARIANT_TRUE), S_OK);
    ASSERT_EQ(params->SaveToFile(Bstr(dir.Wide("params.bin")).Get()), S_OK);
    const std::string good = FileBytes(dir.Path() / "params.bin");
    ASSERT_GT(good.size(), 24u);
    // Everything survives the round trip (nested container, text, stream bytes): saved again
    // after a load, the file is the same.
    auto again = Create<IMediaParams>(CLSID_MediaParams);
    ASSERT_EQ(again->LoadFromFile(Bstr(dir.Wide("params.bin")).Get()), S_OK);
    ASSERT_EQ(again->SaveToFile(Bstr(dir.Wide("again.bin")).Get()), S_OK);
    EXPECT_TRUE(FileBytes(dir.Path() / "again.bin") == good);
    for (std::size_t at = 0; at < good.size(); ++at) {
        std::string flipped = good;
        flipped[at] = static_cast<char>(flipped[at] ^ 0xFF);
        ExpectCleanFailure(good.substr(0, at), "truncated to " + std::to_string(at));
        ExpectCleanFailure(flipped, "byte flipped at " + std::to_string(at));
    }
    // Sizes and nesting behind a valid checksum: no allocation or recursion follows them blindly.
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
