// The source object through its interfaces, with fake stream objects registered under the
// stream classes' identifiers: they record every call the source makes and answer as a test
// tells them, so that the commands, selectors, results and cache decisions can be seen.
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <fstream>

#include "flv/StoredIndexStream.h"
#include "platform/Bstr.h"
#include "platform/Com.h"
#include "platform/ComObject.h"
#include "tests/source/SourceHarness.h"
#include "tests/support/ComponentClasses.h"
#include "tests/support/FlvBuilder.h"

namespace {
namespace fs = std::filesystem;
using Names = std::vector<std::string>;

// What the fakes recorded and how they answer; reset for every test. The fakes are called on
// the test's thread only.
struct FakeWorld {
    std::vector<std::pair<std::string, std::string>> calls;  // what, and who: "v1", "a2" ...
    int objects = 0;
    HRESULT openResult[2] = {S_OK, S_OK};  // [video?]

    // The objects that received `what`, in order; then every call is forgotten.
    Names Take(const std::string& what) {
        Names found;
        for (const auto& [name, entry] : calls)
            if (name == what) found.push_back(entry);
        calls.clear();
        return found;
    }
} world;

template <bool Video>
class FakeStream final : public ComObject<FakeStream<Video>>, public IMediaStream {
  public:
    COM_DELEGATING_IUNKNOWN
    explicit FakeStream(ComObjectArgs args)
        : ComObject<FakeStream>(args),
          id_(std::string(Video ? "v" : "a").append(std::to_string(++world.objects))) {}
    HRESULT InternalQueryInterface(REFIID riid, void** ppv) {
        return QueryInterfaceTable<IMediaStream>(this, riid, ppv);
    }

    // Commands are noted by their low 32 bits.
    HRESULT STDMETHODCALLTYPE SendCommandEx(ULONGLONG command, IUnknown*, IUnknown** out) override {
        if (out != nullptr) *out = nullptr;
        const auto code = static_cast<std::uint32_t>(command);
        return Noted(std::to_string(code), code == 1001 ? world.openResult[Video] : S_OK);
    }
    HRESULT STDMETHODCALLTYPE get_Status(LONG*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE get_StreamType(LONG*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE get_Capabilities(LONG, ULONGLONG*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE get_Duration(double*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE get_Time(double*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Seek(LONG, double) override { return Noted("Seek"); }
    HRESULT STDMETHODCALLTYPE Skip(LONG, double) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Read(LONG, double, IUnknown** data) override {
        *data = nullptr;
        return Noted("Read");
    }
    HRESULT STDMETHODCALLTYPE Write(LONG, IUnknown*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Reset(LONG) override { return Noted("Reset"); }
    HRESULT STDMETHODCALLTYPE SetParam(BSTR, VARIANT) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetParam(BSTR, VARIANT*) override { return S_OK; }

  private:
    HRESULT Noted(const std::string& what, HRESULT result = S_OK) {
        world.calls.emplace_back(what, id_);
        return result;
    }

    std::string id_;
};

class FlashFile5Test : public SourceTest {
  protected:
    void SetUp() override {
        world = FakeWorld{};
        fakes_.Add<FakeStream<true>>(CLSID_FlashVideoStream5);
        fakes_.Add<FakeStream<false>>(CLSID_FlashAudioStream5);
    }

    // A small FLV file: Sorenson H.263 video and MP3 audio.
    fs::path FlvFile() {
        FlvBuilder flv;
        for (std::uint32_t time = 0; time < 200; time += 40) {
            flv.Video(time, time == 0 ? 1 : 2, 2, 30);
            flv.Audio(time, 2, 3, 1, 1, 20);
        }
        return temp.Write("both.flv", flv.Bytes());
    }
    HRESULT OpenFile(const fs::path& path, const wchar_t* hash = nullptr) {
        return Open(source.Get(), OpenParams(path, hash).Get());
    }

    WithoutRealStreamClasses real_;
    ComponentClassRegistration fakes_;
    ComPtr<IMediaSource> source = NewSource();
    ComPtr<IMediaFileTemplate> file = source.As<IMediaFileTemplate>();
};

// Commands select by their low 32 bits; code 0 takes its code from "Operation" and does
// nothing without it; an open without a container, or with an object that
// is none, is an invalid argument and nulls the out pointer.
TEST_F(FlashFile5Test, CommandDispatch) {
    auto params = OpenParams(FlvFile());
    IUnknown* out = reinterpret_cast<IUnknown*>(&out);
    EXPECT_EQ(source->SendCommandEx(0, params.Get(), &out), S_OK);
    EXPECT_EQ(Status(source.Get()), 0);
    ASSERT_EQ(params->SetUInt64(Bstr(L"Operation").Get(), 0, 1), S_OK);
    EXPECT_EQ(source->SendCommandEx(0, params.Get(), nullptr), S_OK);
    EXPECT_EQ(Status(source.Get()), 1);
    EXPECT_EQ(source->SendCommandEx(0x100000003ull, nullptr, nullptr), S_OK);
    EXPECT_EQ(Status(source.Get()), 0);
    ExpectSourceError(source->SendCommandEx(1, nullptr, &out), ZEV_E_INVALIDARG);
    EXPECT_EQ(out, nullptr);
    ExpectSourceError(source->SendCommandEx(1, source.Get(), nullptr), ZEV_E_INVALIDARG);
}

// A file that cannot be opened (missing, a folder, no permission) fails with a file access error
// and leaves the state 0 with no tracks (one that opens but is not FLV: tests/reliability).
TEST_F(FlashFile5Test, OpenFailures) {
    std::vector<fs::path> unopenable = {temp.Path() / "missing.flv", temp.Path()};
#ifndef _WIN32
    const fs::path locked = temp.Write("locked.flv", "FLV");
    ::chmod(locked.c_str(), 0);
    if (::geteuid() != 0) unopenable.push_back(locked);  // root reads it anyway
#endif
    for (const fs::path& path : unopenable) {
        ExpectSourceError(OpenFile(path), ZEV_E_FILEACCESS);
        EXPECT_EQ(Status(source.Get()), 0) << path;
        EXPECT_EQ(Tracks(source.Get()), std::pair(0, 0));
        EXPECT_EQ(source.As<IFlashFile5>()->ReOpenFile(), ZEV_E_INVALIDOPERATION);
    }
    // A stream object that fails its open fails the whole open (no tracks), and a positive
    // internal code is a failure, not a success.
    world.openResult[0] = ZEV_E_MEMORY;
    EXPECT_EQ(OpenFile(FlvFile()), ZEV_E_MEMORY);
    EXPECT_EQ(Tracks(source.Get()), std::pair(0, 0));
    world.openResult[0] = 4;
    ExpectSourceError(OpenFile(FlvFile()), ZEV_E_FILEFORMAT);
}

// Stream -2 means every object of the kind, -1 the current one, n the n-th, others none (reads:
// an invalid argument).
TEST_F(FlashFile5Test, SelectorsPickTheStreamObjects) {
    ASSERT_EQ(OpenFile(FlvFile()), S_OK);
    for (LONG stream : {-2, 0, 3}) EXPECT_EQ(source->SeekVideo(stream, 0, 5.0), S_OK);
    EXPECT_EQ(world.Take("Seek"), (Names{"v1", "v1"}));
    IUnknown* packet = reinterpret_cast<IUnknown*>(&packet);
    ExpectSourceError(source->ReadVideo(3, 0, &packet), ZEV_E_INVALIDARG);
    EXPECT_EQ(packet, nullptr);
    EXPECT_EQ(source->ReadAudio(-1, 0, 100.0, &packet), S_OK);
    EXPECT_EQ(world.Take("Read"), (Names{"a2"}));
}

// Without a file, seeks (and reads) are invalid operations. A close leaves one never-opened
// placeholder of each kind, which SetParam reaches (command 100); a track count beyond what
// memory could hold is refused, as any count is while a file is open. The writing
// side: the container description, and writes refused.
TEST_F(FlashFile5Test, WithoutAnOpenFile) {
    ExpectSourceError(source->SeekAudio(0, 0, 1.0), ZEV_E_INVALIDOPERATION);
    ASSERT_EQ(source->SendCommandEx(3, nullptr, nullptr), S_OK);
    EXPECT_EQ(Tracks(source.Get()), std::pair(1, 1));
    VARIANT colorSpace{};
    colorSpace.vt = VT_I4;
    ASSERT_EQ(source->SetParam(Bstr(L"DecodeColorSpace").Get(), colorSpace), S_OK);
    EXPECT_EQ(world.Take("100"), (Names{"v1", "a2"}));
    ExpectSourceError(source->put_audioTracksCount(0x7FFFFFFF), ZEV_E_INVALIDARG);
    EXPECT_EQ(file->get_ContainerType(nullptr), E_POINTER);  // fixed answers refuse null
    // The container description is kept as a copy and handed out by command 15; anything but a
    // container is refused (command 14); video and audio writes are refused.
    auto description = NewParams();
    ASSERT_EQ(description->SetLong(Bstr(L"Width").Get(), 0, 640), S_OK);
    ASSERT_EQ(file->put_ContainerDesc(description.Get()), S_OK);
    ASSERT_EQ(description->SetLong(Bstr(L"Width").Get(), 0, 1), S_OK);
    ComPtr<IUnknown> copy;
    ASSERT_EQ(source->SendCommandEx(15, nullptr, copy.Put()), S_OK);
    EXPECT_EQ(LongOf(copy.As<IMediaParams>().Get(), L"Width"), 640);
    ExpectSourceError(source->SendCommandEx(14, source.Get(), nullptr), ZEV_E_INVALIDARG);
    ExpectSourceError(file->WriteVideo(0, 0, description.Get()), ZEV_E_INVALIDOPERATION);
    EXPECT_EQ(file->WriteAudio(0, 0, nullptr), ZEV_E_INVALIDOPERATION);
    ASSERT_EQ(OpenFile(FlvFile()), S_OK);
    ExpectSourceError(source->put_videoTracksCount(2), ZEV_E_INVALIDOPERATION);
}

// A video cache file alone, when the file has audio too, is not enough (the audio track would
// be lost): the file is walked again and the audio file written. An empty hash, one over 200
// characters, or one that no Windows file name can hold (a ':' names an NTFS stream, device
// names, a trailing dot or space) disables the cache: the open works, and nothing is written
// (hashes with path separators are in tests/reliability). A hash of 200 characters makes a
// cache path longer than MAX_PATH on Windows: its cache files are written and serve the next
// open all the same (the tracks of the file as it was saved, where a walk of the file as it is
// now would find no audio).
TEST_F(FlashFile5Test, CacheFilesMissingUnusableAndLong) {
    ASSERT_EQ(OpenFile(FlvFile(), L"hash1"), S_OK);
    fs::remove(CacheFile("a", "hash1"));
    ASSERT_EQ(OpenFile(FlvFile(), L"hash1"), S_OK);
    EXPECT_EQ(Tracks(source.Get()), std::pair(1, 1));
    EXPECT_TRUE(fs::exists(CacheFile("a", "hash1")));
    RemoveNewFiles();
    const std::wstring tooLong(201, L'x');
    for (const wchar_t* hash :
         {L"", tooLong.c_str(), L"a:b", L"a*", L"a?", L"a\"b", L"a<b>", L"a|b", L"CON", L"nul.txt",
          L"Com1", L"lpt9 .x", L"hash.", L"hash "}) {
        ASSERT_EQ(OpenFile(FlvFile(), hash), S_OK);
        EXPECT_EQ(Tracks(source.Get()), std::pair(1, 1));
    }
    EXPECT_EQ(NewFiles(), std::vector<fs::path>{});

    const std::wstring longest(200, L'h');
    ASSERT_EQ(OpenFile(FlvFile(), longest.c_str()), S_OK);
    EXPECT_EQ(NewFiles().size(), 2u);
    FlvBuilder videoOnly(0x01);
    for (std::uint32_t time = 0; time < 200; time += 40)
        videoOnly.Video(time, time == 0 ? 1 : 2, 2, 30);
    ASSERT_EQ(OpenFile(temp.Write("both.flv", videoOnly.Bytes()), longest.c_str()), S_OK);
    EXPECT_EQ(Tracks(source.Get()), std::pair(1, 1));
}

// The stream objects get the index as the source decoded it: the "FLVSettings" container holds
// a stream that shares the source's records (nothing decoded again, no bytes held) and reads as
// the very bytes that the cache file keeps, both on the open that writes the cache file and on
// the one that loads it.
TEST_F(FlashFile5Test, StreamObjectsShareTheIndexWhoseBytesTheCacheFileHolds) {
    const auto bytesOf = [](IMediaParams* container, const wchar_t* name) {
        ComPtr<IStream> stream;
        EXPECT_EQ(container->GetStream(Bstr(name).Get(), 0, 1, stream.Put()), S_OK);
        EXPECT_EQ(stream->Seek(LARGE_INTEGER{}, STREAM_SEEK_SET, nullptr), S_OK);
        std::string bytes(4096, '\0');
        ULONG got = 0;
        EXPECT_EQ(stream->Read(bytes.data(), static_cast<ULONG>(bytes.size()), &got), S_OK);
        bytes.resize(got);
        return std::pair(StoredIndexContentOf(stream.Get()) != nullptr, bytes);
    };
    for (int open = 0; open < 2; ++open) {
        const ComPtr<IMediaParams> params = OpenParams(FlvFile(), L"hash2");
        ASSERT_EQ(Open(source.Get(), params.Get()), S_OK);
        const ComPtr<IMediaParams> settings = ParamsOf(params.Get(), L"FLVSettings");
        const ComPtr<IMediaParams> cache = NewParams();
        ASSERT_EQ(cache->LoadFromFile(Bstr(CacheFile("a", "hash2").wstring()).Get()), S_OK);
        const auto [shared, bytes] = bytesOf(settings.Get(), L"FileAudioIndexes");
        EXPECT_TRUE(shared) << "open " << open;
        EXPECT_EQ(bytes.size(), 8 + 4 + 5 * 36u) << "open " << open;
        EXPECT_EQ(bytes, bytesOf(cache.Get(), L"FileAudioIndexes").second) << "open " << open;
    }
}

// A cache file whose index stream is damaged where only reading the index finds it (a large
// stream checks its own bytes as it is read; the file loads): the open walks the file, as for a
// cache file that does not load, and writes the cache file again.
TEST_F(FlashFile5Test, ACacheFileFoundDamagedAsItsIndexIsReadIsWrittenAgain) {
    FlvBuilder flv;
    for (std::uint32_t time = 0; time < 2500 * 20; time += 20) flv.Audio(time, 2, 3, 1, 1, 4);
    flv.Video(0, 1, 2, 30);
    const fs::path path = temp.Write("long.flv", flv.Bytes());
    ASSERT_EQ(OpenFile(path, L"hash3"), S_OK);
    const std::string good = FileBytes(CacheFile("a", "hash3"));
    ASSERT_GT(good.size(), 2500 * 36u);  // its index stream checks itself
    std::string damaged = good;
    damaged[damaged.size() - 100] ^= 0x01;
    std::ofstream(CacheFile("a", "hash3"), std::ios::binary) << damaged;
    ASSERT_EQ(NewParams()->LoadFromFile(Bstr(CacheFile("a", "hash3").wstring()).Get()), S_OK);
    ASSERT_EQ(OpenFile(path, L"hash3"), S_OK);
    EXPECT_EQ(Tracks(source.Get()), std::pair(1, 1));
    EXPECT_TRUE(FileBytes(CacheFile("a", "hash3")) == good);
}

}  // namespace
