// The source object through its interfaces, with fake stream objects registered under the
// stream classes' identifiers: they record every call the source makes and answer as a test
// tells them, so that the commands, selectors, results and cache decisions can be seen.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "frame/ErrorSupport.h"
#include "platform/Bstr.h"
#include "platform/Com.h"
#include "platform/ComObject.h"
#include "platform/ErrorInfo.h"
#include "tests/source/SourceHarness.h"
#include "tests/support/ComponentClasses.h"
#include "tests/support/FlvBuilder.h"

namespace {
namespace fs = std::filesystem;

// One call a fake stream object received.
struct Call {
    int object = 0;
    bool video = false;
    std::string what;       // a command number, or the method's name
    LONG value = 0;         // 100: "ReadColorSpace"; 1001: "VideoWidth" of "FLVSettings"
    std::wstring settings;  // 1001 and 1006: "v" or "a" by the codec type "FLVSettings" holds
};

// What the fakes recorded and how they answer; reset for every test.
struct FakeWorld {
    std::mutex lock;
    std::vector<Call> calls;
    int objects = 0;
    HRESULT openResult[2] = {S_OK, S_OK};  // [video?]
    HRESULT formatResult = S_OK;
    HRESULT readResult = S_OK;

    void Record(Call call) {
        std::lock_guard guard(lock);
        calls.push_back(std::move(call));
    }
    std::vector<Call> Take() {
        std::lock_guard guard(lock);
        return std::exchange(calls, {});
    }
};
FakeWorld world;

std::wstring SettingsKind(IMediaParams* params) {
    ComPtr<IMediaParams> settings = ParamsOf(params, L"FLVSettings");
    if (!settings) return L"";
    return Has(settings.Get(), L"VideoCodecType")   ? L"v"
           : Has(settings.Get(), L"AudioCodecType") ? L"a"
                                                    : L"?";
}

template <bool Video>
class FakeStream final : public ComObject<FakeStream<Video>>, public IMediaStream {
  public:
    COM_DELEGATING_IUNKNOWN
    explicit FakeStream(ComObjectArgs args) : ComObject<FakeStream>(args) {
        std::lock_guard guard(world.lock);
        id_ = ++world.objects;
    }
    HRESULT InternalQueryInterface(REFIID riid, void** ppv) {
        return QueryInterfaceTable<IMediaStream>(this, riid, ppv);
    }

    HRESULT STDMETHODCALLTYPE SendCommandEx(ULONGLONG command, IUnknown* parameters,
                                            IUnknown** out) override {
        if (out != nullptr) *out = nullptr;
        ComPtr<IMediaParams> params;
        if (parameters != nullptr) (void)QueryTo(parameters, params);
        Call call = Note(std::to_string(static_cast<std::uint32_t>(command)));
        HRESULT result = S_OK;
        switch (static_cast<std::uint32_t>(command)) {
            case 100:
                call.value = params ? LongOf(params.Get(), L"ReadColorSpace") : -1;
                break;
            case 1001:
                call.settings = SettingsKind(params.Get());
                if (auto settings = ParamsOf(params.Get(), L"FLVSettings")) {
                    call.value = LongOf(settings.Get(), L"VideoWidth");
                }
                result = world.openResult[Video];
                break;
            case 1006:
                call.settings = params ? SettingsKind(params.Get()) : L"";
                break;
            case 16:
                format_ = ComPtr<IUnknown>(parameters);
                result = world.formatResult;
                break;
            case 17:
                if (out != nullptr) *out = ComPtr<IUnknown>(format_).Detach();
                break;
        }
        world.Record(std::move(call));
        return result;
    }
    HRESULT STDMETHODCALLTYPE get_Status(LONG*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE get_StreamType(LONG*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE get_Capabilities(LONG, ULONGLONG*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE get_Duration(double* value) override {
        *value = Video ? 1234.0 : 2345.0;
        return Noted("Duration");
    }
    HRESULT STDMETHODCALLTYPE get_Time(double* value) override {
        *value = Video ? 11.0 : 22.0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Seek(LONG, double time) override { return Noted("Seek", time); }
    HRESULT STDMETHODCALLTYPE Skip(LONG, double) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Read(LONG, double duration, IUnknown** data) override {
        *data = nullptr;
        (void)Noted("Read", duration);
        return world.readResult;
    }
    HRESULT STDMETHODCALLTYPE Write(LONG, IUnknown*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Reset(LONG) override { return Noted("Reset"); }
    HRESULT STDMETHODCALLTYPE SetParam(BSTR, VARIANT) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetParam(BSTR, VARIANT*) override { return S_OK; }

  private:
    Call Note(std::string what, double value = 0) const {
        return Call{id_, Video, std::move(what), static_cast<LONG>(value), L""};
    }
    HRESULT Noted(const char* what, double value = 0) {
        world.Record(Note(what, value));
        return S_OK;
    }

    int id_ = 0;
    ComPtr<IUnknown> format_;
};

// The calls of `calls` that are `what`, as "v1" / "a2" (kind and object number).
std::vector<std::string> Who(const std::vector<Call>& calls, const std::string& what) {
    std::vector<std::string> found;
    for (const Call& call : calls) {
        if (call.what == what)
            found.push_back((call.video ? "v" : "a") + std::to_string(call.object));
    }
    return found;
}
using Names = std::vector<std::string>;

VARIANT LongVariant(LONG value) {
    VARIANT variant{};
    variant.vt = VT_I4;
    variant.lVal = value;
    return variant;
}

class FlashFile5Test : public SourceTest {
  protected:
    void SetUp() override {
        SourceTest::SetUp();
        {
            std::lock_guard guard(world.lock);
            world.calls.clear();
            world.objects = 0;
            world.openResult[0] = world.openResult[1] = S_OK;
            world.formatResult = world.readResult = S_OK;
        }
        fakes_.Add<FakeStream<true>>(CLSID_FlashVideoStream5);
        fakes_.Add<FakeStream<false>>(CLSID_FlashAudioStream5);
        source = NewSource();
        ASSERT_TRUE(source);
        ASSERT_EQ(source.As(file), S_OK);
    }

    // A small FLV file: Sorenson H.263 video and MP3 audio, as the flags ask for.
    fs::path FlvFile(const std::string& name, bool video = true, bool audio = true) {
        FlvBuilder flv;
        for (std::uint32_t time = 0; time < 200; time += 40) {
            if (video) flv.Video(time, time == 0 ? 1 : 2, 2, 30);
            if (audio) flv.Audio(time, 2, 3, 1, 1, 20);
        }
        return WriteFile(name, flv.Bytes());
    }
    HRESULT OpenFile(const fs::path& path, const wchar_t* hash = nullptr) {
        return Open(source.Get(), OpenParams(path, hash).Get());
    }

    ComPtr<IMediaSource> source;
    ComPtr<IMediaFileTemplate> file;

  private:
    ComponentClassRegistration fakes_;
};

TEST_F(FlashFile5Test, AnswersItsFourInterfacesAndNoErrorSupport) {
    for (const IID& iid : {IID_IUnknown, IID_IMediaSource, IID_IMediaFileTemplate, IID_IFlashFile5,
                           IID_OF(IConnectionPointContainer)}) {
        ComPtr<IUnknown> answer;
        EXPECT_EQ(source->QueryInterface(iid, answer.PutVoid()), S_OK);
    }
    ComPtr<IUnknown> none;
    EXPECT_EQ(source->QueryInterface(IID_OF(ISupportErrorInfo), none.PutVoid()), E_NOINTERFACE);
    EXPECT_EQ(source->QueryInterface(IID_IMediaStream, none.PutVoid()), E_NOINTERFACE);
}

TEST_F(FlashFile5Test, CommandsSelectByTheirLow32BitsOrByOperation) {
    const fs::path path = FlvFile("a.flv");
    auto params = OpenParams(path);
    IUnknown* out = reinterpret_cast<IUnknown*>(&out);
    // Code 0 without "Operation": nothing happens.
    EXPECT_EQ(source->SendCommandEx(0, params.Get(), &out), S_OK);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(Status(source.Get()), 0);
    ASSERT_EQ(params->SetUInt64(Bstr(L"Operation").Get(), 0, 1), S_OK);
    EXPECT_EQ(source->SendCommandEx(0, params.Get(), nullptr), S_OK);
    EXPECT_EQ(Status(source.Get()), 1);
    EXPECT_EQ(source->SendCommandEx(0x100000003ull, nullptr, nullptr), S_OK);
    EXPECT_EQ(Status(source.Get()), 0);
    EXPECT_EQ(source->SendCommandEx(0x100000001ull, OpenParams(path).Get(), nullptr), S_OK);
    EXPECT_EQ(Status(source.Get()), 1);
    for (ULONGLONG command : {2ull, 99ull}) {
        EXPECT_EQ(source->SendCommandEx(command, params.Get(), nullptr), S_OK);
        EXPECT_EQ(Status(source.Get()), 1);
    }
    // Without a parameter container, or with another object, the open is refused.
    out = reinterpret_cast<IUnknown*>(&out);
    ExpectSourceError(source->SendCommandEx(1, nullptr, &out), ZEV_E_INVALIDARG,
                      L"Invalid argument.");
    EXPECT_EQ(out, nullptr);
    ExpectSourceError(source->SendCommandEx(1, source.Get(), nullptr), ZEV_E_INVALIDARG,
                      L"Invalid argument.");
}

TEST_F(FlashFile5Test, CloseLeavesOnePlaceholderOfEachKindAndAnEmptyDescription) {
    EXPECT_EQ(VideoCount(source.Get()), 0);
    EXPECT_EQ(AudioCount(source.Get()), 0);
    ComPtr<IUnknown> description;
    EXPECT_EQ(file->get_ContainerDesc(description.Put()), S_OK);
    EXPECT_FALSE(description);
    EXPECT_EQ(source->SendCommandEx(3, nullptr, nullptr), S_OK);
    EXPECT_EQ(Status(source.Get()), 0);
    EXPECT_EQ(VideoCount(source.Get()), 1);
    EXPECT_EQ(AudioCount(source.Get()), 1);
    EXPECT_EQ(file->get_ContainerDesc(description.Put()), S_OK);
    EXPECT_TRUE(description);
    // The placeholders are never opened.
    EXPECT_TRUE(Who(world.Take(), "1001").empty());
}

TEST_F(FlashFile5Test, OpenNeedsReadingModeAndAFileNameAndClosesThePreviousFileFirst) {
    ASSERT_EQ(OpenFile(FlvFile("a.flv")), S_OK);
    EXPECT_EQ(Who(world.Take(), "1001"), (Names{"v1", "a2"}));
    auto params = OpenParams(FlvFile("b.flv"));
    ASSERT_EQ(params->SetLong(Bstr(L"OperationMode").Get(), 0, 0), S_OK);
    ExpectSourceError(Open(source.Get(), params.Get()), ZEV_E_INVALIDARG, L"Invalid argument.");
    EXPECT_EQ(Who(world.Take(), "1004"), (Names{"v1", "a2"}));
    EXPECT_EQ(Status(source.Get()), 0);

    auto noName = NewParams();
    ASSERT_EQ(noName->SetLong(Bstr(L"OperationMode").Get(), 0, 1), S_OK);
    ExpectSourceError(Open(source.Get(), noName.Get()), ZEV_E_INVALIDARG, L"Invalid argument.");
}

TEST_F(FlashFile5Test, FilesThatCannotBeOpenedFailWithFileAccessError) {
    std::vector<fs::path> unopenable = {temp.Path() / "missing.flv", temp.Path()};
    const fs::path locked = FlvFile("locked.flv");
    ::chmod(locked.c_str(), 0);
    if (::geteuid() != 0) unopenable.push_back(locked);  // root reads it anyway
    for (const fs::path& path : unopenable) {
        SCOPED_TRACE(path);
        ExpectSourceError(OpenFile(path), ZEV_E_FILEACCESS, L"File access error.");
        EXPECT_EQ(Status(source.Get()), 0);
        EXPECT_EQ(VideoCount(source.Get()) + AudioCount(source.Get()), 0);
        EXPECT_EQ(source.As<IFlashFile5>()->ReOpenFile(), ZEV_E_INVALIDOPERATION);
    }
}

TEST_F(FlashFile5Test, FilesThatAreNotFlvOpenWithoutTracks) {
    for (const std::string bytes : {"RIFF....AVI LIST", "FL", ""}) {
        SCOPED_TRACE(bytes);
        ASSERT_EQ(OpenFile(WriteFile("x.bin", bytes)), S_OK);
        EXPECT_EQ(Status(source.Get()), 1);
        EXPECT_EQ(VideoCount(source.Get()) + AudioCount(source.Get()), 0);
    }
}

TEST_F(FlashFile5Test, OpenMakesOneStreamObjectPerKindWithItsOwnSettings) {
    // A colour space set on a new object reaches the host's container at the open.
    ASSERT_EQ(source->SetParam(Bstr(L"DecodeColorSpace").Get(), LongVariant(7)), S_OK);
    auto params = OpenParams(FlvFile("both.flv"));
    ASSERT_EQ(Open(source.Get(), params.Get()), S_OK);
    const auto calls = world.Take();
    ASSERT_EQ(Who(calls, "1001"), (Names{"v1", "a2"}));
    EXPECT_EQ(calls[0].settings, L"v");
    EXPECT_EQ(calls[1].settings, L"a");
    EXPECT_EQ(LongOf(params.Get(), L"ReadColorSpace"), 7);
    EXPECT_EQ(SettingsKind(params.Get()), L"a");

    ASSERT_EQ(OpenFile(FlvFile("audio.flv", false, true)), S_OK);
    EXPECT_EQ(VideoCount(source.Get()), 0);
    EXPECT_EQ(AudioCount(source.Get()), 1);

    struct Only {
        bool video, audio;
        LONG videoCount, audioCount;
    };
    for (const Only only :
         {Only{true, false, 1, 0}, Only{false, true, 0, 1}, Only{true, true, 0, 0}}) {
        auto restricted = OpenParams(FlvFile("both.flv"), L"onlyhash");
        ASSERT_EQ(restricted->SetBool(Bstr(L"OnlyVideoOpen").Get(), 0, only.video ? -1 : 0), S_OK);
        ASSERT_EQ(restricted->SetBool(Bstr(L"OnlyAudioOpen").Get(), 0, only.audio ? -1 : 0), S_OK);
        ASSERT_EQ(Open(source.Get(), restricted.Get()), S_OK);
        EXPECT_EQ(VideoCount(source.Get()), only.videoCount);
        EXPECT_EQ(AudioCount(source.Get()), only.audioCount);
        fs::remove(CacheFile("v", "onlyhash"));
        fs::remove(CacheFile("a", "onlyhash"));
    }
    // With no stream object to open, no cache file is written either.
    EXPECT_FALSE(fs::exists(CacheFile("v", "onlyhash")) || fs::exists(CacheFile("a", "onlyhash")));
}

TEST_F(FlashFile5Test, AStreamObjectThatFailsItsOpenFailsTheWholeOpen) {
    const fs::path path = FlvFile("both.flv");
    world.openResult[1] = ZEV_E_FILEFORMAT;
    EXPECT_EQ(OpenFile(path), ZEV_E_FILEFORMAT);
    EXPECT_EQ(Who(world.Take(), "1001"), (Names{"v1"}));  // no audio stream object is tried
    EXPECT_EQ(Status(source.Get()), 0);
    EXPECT_EQ(VideoCount(source.Get()) + AudioCount(source.Get()), 0);

    // A failing audio stream object takes the opened video one with it.
    world.openResult[1] = S_OK;
    world.openResult[0] = ZEV_E_MEMORY;
    EXPECT_EQ(OpenFile(path), ZEV_E_MEMORY);
    EXPECT_EQ(VideoCount(source.Get()), 0);

    // A positive internal code is a failure, not a success the host would take it for.
    world.openResult[0] = 4;
    ExpectSourceError(OpenFile(path), ZEV_E_FILEFORMAT, L"File format error.");
    EXPECT_EQ(Status(source.Get()), 0);
}

TEST_F(FlashFile5Test, SetParamReachesEveryStreamObjectAndGetParamKnowsHasTransparent) {
    ASSERT_EQ(source->SendCommandEx(3, nullptr, nullptr), S_OK);  // two placeholders
    world.Take();
    VARIANT real{};
    real.vt = VT_R8;
    real.dblVal = 1.5;
    ASSERT_EQ(source->SetParam(Bstr(L"DecodeColorSpace").Get(), LongVariant(7)), S_OK);
    ASSERT_EQ(source->SetParam(Bstr(L"SomethingElse").Get(), real), S_OK);
    ASSERT_EQ(source->SetParam(Bstr(L"decodecolorspace").Get(), LongVariant(9)), S_OK);
    ASSERT_EQ(source->SetParam(nullptr, LongVariant(9)), S_OK);
    const auto calls = world.Take();
    ASSERT_EQ(Who(calls, "100"), (Names{"v1", "a2", "v1", "a2", "v1", "a2", "v1", "a2"}));
    for (const Call& call : calls) EXPECT_EQ(call.value, 7);

    VARIANT value = LongVariant(5);
    EXPECT_EQ(source->GetParam(Bstr(L"Other").Get(), &value), S_OK);
    EXPECT_EQ(value.vt, VT_I4);
    EXPECT_EQ(value.lVal, 5);
    EXPECT_EQ(source->GetParam(Bstr(L"HasTransparent").Get(), &value), S_OK);
    EXPECT_EQ(value.vt, VT_BOOL);
    EXPECT_EQ(value.boolVal, VARIANT_FALSE);
}

TEST_F(FlashFile5Test, SelectorsPickTheStreamObjectsAndResultsAreTranslated) {
    ASSERT_EQ(OpenFile(FlvFile("both.flv")), S_OK);
    world.Take();
    EXPECT_EQ(source->SeekVideo(-2, 0, 5.0), S_OK);
    EXPECT_EQ(source->SeekVideo(0, 0, 6.0), S_OK);
    EXPECT_EQ(source->SeekVideo(3, 0, 7.0), S_OK);
    EXPECT_EQ(Who(world.Take(), "Seek"), (Names{"v1", "v1"}));

    IUnknown* packet = reinterpret_cast<IUnknown*>(&packet);
    ExpectSourceError(source->ReadVideo(3, 0, &packet), ZEV_E_INVALIDARG, L"Invalid argument.");
    EXPECT_EQ(packet, nullptr);
    EXPECT_EQ(source->put_audioTrack(5), S_OK);
    LONG track = -1;
    EXPECT_EQ(source->get_audioTrack(&track), S_OK);
    EXPECT_EQ(track, 0);
    EXPECT_EQ(source->ReadAudio(-1, 0, 100.0, &packet), S_OK);
    auto calls = world.Take();
    ASSERT_EQ(Who(calls, "Read"), (Names{"a2"}));
    EXPECT_EQ(calls[0].value, 100);

    EXPECT_EQ(source->ResetBuffers(-2, 0), S_OK);
    EXPECT_EQ(source->ResetBuffers(-2, 3), S_OK);
    EXPECT_EQ(source->ResetBuffers(0, 2), S_OK);
    EXPECT_EQ(Who(world.Take(), "Reset"), (Names{"v1", "a2", "a2"}));

    double value = 0.0;
    EXPECT_EQ(source->get_audioDuration(-1, &value), S_OK);
    EXPECT_EQ(value, 2345.0);
    EXPECT_EQ(source->get_videoTime(0, &value), S_OK);
    EXPECT_EQ(value, 11.0);
    ComPtr<IUnknown> stream;
    EXPECT_EQ(source->get_videoStream(0, 0, stream.Put()), S_OK);
    EXPECT_TRUE(stream.As<IMediaStream>());

    // Stream results: an internal code becomes its table row, an HRESULT passes unchanged.
    world.readResult = 24;
    ExpectSourceError(source->ReadVideo(0, 0, &packet), ZEV_E_STREAMCLOSED,
                      L"The stream is closed or unavailable.");
    world.readResult = E_FAIL;
    EXPECT_EQ(source->ReadAudio(0, 0, 10.0, &packet), E_FAIL);
    world.formatResult = 6;
    ExpectSourceError(source->put_audioFormat(0, nullptr), ZEV_E_AUDIOFORMAT,
                      L"Audio format unsupported.");
}

TEST_F(FlashFile5Test, WithoutAnOpenFileReadsFailAndTimesAreZero) {
    double value = -1.0;
    EXPECT_EQ(source->get_videoDuration(0, &value), S_OK);
    EXPECT_EQ(value, 0.0);
    ExpectSourceError(source->SeekAudio(0, 0, 1.0), ZEV_E_INVALIDOPERATION, L"Invalid operation.");
    IUnknown* packet = nullptr;
    EXPECT_EQ(source->ReadVideo(0, 0, &packet), ZEV_E_INVALIDOPERATION);

    ASSERT_EQ(source->SendCommandEx(3, nullptr, nullptr), S_OK);
    ASSERT_EQ(source->put_videoTracksCount(2), S_OK);
    EXPECT_EQ(VideoCount(source.Get()), 2);
    value = -1.0;
    EXPECT_EQ(source->get_videoDuration(-2, &value), S_OK);
    EXPECT_EQ(source->get_audioTime(0, &value), S_OK);
    EXPECT_EQ(value, 0.0);
    EXPECT_TRUE(Who(world.Take(), "Duration").empty());
    // A count the memory could not hold is refused.
    ExpectSourceError(source->put_audioTracksCount(0x7FFFFFFF), ZEV_E_INVALIDARG,
                      L"Invalid argument.");
    EXPECT_EQ(AudioCount(source.Get()), 1);

    ASSERT_EQ(OpenFile(FlvFile("both.flv")), S_OK);
    ExpectSourceError(source->put_videoTracksCount(2), ZEV_E_INVALIDOPERATION,
                      L"Invalid operation.");
    EXPECT_EQ(VideoCount(source.Get()), 1);
}

TEST_F(FlashFile5Test, NoOpsLeaveTheirOutValuesAndFixedAnswersRefuseANullPointer) {
    LONG number = 77;
    EXPECT_EQ(source->get_dataTrack(&number), S_OK);
    EXPECT_EQ(file->get_availableVideoCodecsCount(&number), S_OK);
    EXPECT_EQ(number, 77);
    IUnknown* object = reinterpret_cast<IUnknown*>(&object);
    EXPECT_EQ(source->get_audioTransform(0, &object), S_OK);
    EXPECT_EQ(object, reinterpret_cast<IUnknown*>(&object));
    VARIANT_BOOL seekable = 0;
    EXPECT_EQ(source->get_IsSeekable(42, 0, &seekable), S_OK);  // no file, any stream
    EXPECT_EQ(seekable, VARIANT_TRUE);
    EXPECT_EQ(file->get_ContainerType(nullptr), E_POINTER);
    EXPECT_EQ(source->get_dataDuration(0, nullptr), E_POINTER);
}

TEST_F(FlashFile5Test, AProfileMakesOneStreamObjectPerFormatAndDescribesThemBack) {
    ComPtr<IUnknown> videoFormat, audioFormat;
    ASSERT_EQ(CreateInstance(CLSID_VideoFormat, videoFormat), S_OK);
    ASSERT_EQ(CreateInstance(CLSID_AudioFormat, audioFormat), S_OK);
    auto entry = [](IUnknown* format) {
        auto params = NewParams();
        if (format) {
            EXPECT_EQ(params->SetUnknown(Bstr(L"AVFormat").Get(), 0, 1, format), S_OK);
        }
        return params;
    };
    auto profile = NewParams();
    const Bstr videoList(L"VideoStreamInfo"), audioList(L"AudioStreamInfo");
    for (IUnknown* format : {videoFormat.Get(), audioFormat.Get(), static_cast<IUnknown*>(nullptr),
                             videoFormat.Get()}) {
        ASSERT_EQ(profile->SetParams(videoList.Get(), -1, 1, entry(format).Get()), S_OK);
    }
    ASSERT_EQ(profile->SetParams(audioList.Get(), -1, 1, entry(audioFormat.Get()).Get()), S_OK);
    ASSERT_EQ(file->put_Profile(profile.Get()), S_OK);
    EXPECT_EQ(VideoCount(source.Get()), 2);  // the entries of the wrong kind or none are skipped
    EXPECT_EQ(AudioCount(source.Get()), 1);
    EXPECT_EQ(Who(world.Take(), "16"), (Names{"v1", "v2", "a3"}));

    ComPtr<IUnknown> described;
    ASSERT_EQ(file->get_Profile(described.Put()), S_OK);
    auto back = described.As<IMediaParams>();
    ASSERT_TRUE(back);
    LONG count = 0;
    EXPECT_EQ(back->GetCount(videoList.Get(), &count), S_OK);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(back->GetCount(audioList.Get(), &count), S_OK);
    EXPECT_EQ(count, 1);

    // A refused format ends the profile with the translated result; earlier objects stay.
    world.formatResult = 5;
    ExpectSourceError(file->put_Profile(profile.Get()), ZEV_E_VIDEOFORMAT,
                      L"Video format unsupported.");
    EXPECT_EQ(VideoCount(source.Get()), 1);
    world.formatResult = S_OK;
    ASSERT_EQ(file->put_Profile(NewParams().Get()), S_OK);
    EXPECT_EQ(VideoCount(source.Get()) + AudioCount(source.Get()), 0);
    ExpectSourceError(file->put_Profile(nullptr), ZEV_E_INVALIDARG, L"Invalid argument.");
    ASSERT_EQ(OpenFile(FlvFile("both.flv")), S_OK);
    ExpectSourceError(file->put_Profile(profile.Get()), ZEV_E_INVALIDOPERATION,
                      L"Invalid operation.");
    EXPECT_EQ(VideoCount(source.Get()), 1);
}

TEST_F(FlashFile5Test, TheContainerDescriptionIsKeptAsACopyAndWritesAreRefused) {
    auto description = NewParams();
    ASSERT_EQ(description->SetLong(Bstr(L"Width").Get(), 0, 640), S_OK);
    ASSERT_EQ(file->put_ContainerDesc(description.Get()), S_OK);
    ASSERT_EQ(description->SetLong(Bstr(L"Width").Get(), 0, 1), S_OK);
    IUnknown* out = nullptr;
    ASSERT_EQ(source->SendCommandEx(15, nullptr, &out), S_OK);
    ComPtr<IUnknown> copy;
    copy.Attach(out);
    ASSERT_TRUE(copy);
    EXPECT_NE(copy.Get(), static_cast<IUnknown*>(description.Get()));
    EXPECT_EQ(LongOf(copy.As<IMediaParams>().Get(), L"Width"), 640);
    // Command 14 stores what it is given; anything but a container is refused.
    ASSERT_EQ(source->SendCommandEx(14, description.Get(), nullptr), S_OK);
    ASSERT_EQ(file->get_ContainerDesc(copy.Put()), S_OK);
    EXPECT_EQ(LongOf(copy.As<IMediaParams>().Get(), L"Width"), 1);
    ExpectSourceError(source->SendCommandEx(14, source.Get(), nullptr), ZEV_E_INVALIDARG,
                      L"Invalid argument.");
    EXPECT_EQ(source->SendCommandEx(15, nullptr, nullptr), E_POINTER);

    for (bool open : {false, true}) {
        if (open) {
            ASSERT_EQ(OpenFile(FlvFile("both.flv")), S_OK);
        }
        ExpectSourceError(file->WriteVideo(0, 0, description.Get()), ZEV_E_INVALIDOPERATION,
                          L"Invalid operation.");
        EXPECT_EQ(file->WriteAudio(0, 0, nullptr), ZEV_E_INVALIDOPERATION);
        EXPECT_EQ(file->WriteData(0, 0, nullptr), S_OK);
    }
}

TEST_F(FlashFile5Test, TheCacheIsWrittenOnceAndItsContainersGoToTheStreamObjects) {
    const fs::path path = FlvFile("both.flv");
    ASSERT_EQ(OpenFile(path, L"hash1"), S_OK);
    ASSERT_TRUE(fs::exists(CacheFile("v", "hash1")));
    ASSERT_TRUE(fs::exists(CacheFile("a", "hash1")));
    // Mark the video cache file: the stream object gets the loaded container, and the file is
    // not written again.
    auto cached = NewParams();
    const Bstr cacheName(CacheFile("v", "hash1").wstring());
    ASSERT_EQ(cached->LoadFromFile(cacheName.Get()), S_OK);
    ASSERT_EQ(cached->SetLong(Bstr(L"VideoWidth").Get(), 0, 4321), S_OK);
    ASSERT_EQ(cached->SaveToFile(cacheName.Get()), S_OK);
    world.Take();
    ASSERT_EQ(OpenFile(path, L"hash1"), S_OK);
    auto calls = world.Take();
    // Objects 3 and 4 are the placeholders of the close that the open begins with.
    ASSERT_EQ(Who(calls, "1001"), (Names{"v5", "a6"}));
    EXPECT_EQ(calls[2].value, 4321);  // after the close's 1004 to v1 and a2
    ASSERT_EQ(cached->LoadFromFile(cacheName.Get()), S_OK);
    EXPECT_EQ(LongOf(cached.Get(), L"VideoWidth"), 4321);

    // A video cache file alone, when the file has audio too, is not enough: the audio track
    // would be lost. The file is walked and the audio cache file written.
    fs::remove(CacheFile("a", "hash1"));
    ASSERT_EQ(OpenFile(path, L"hash1"), S_OK);
    EXPECT_EQ(AudioCount(source.Get()), 1);
    EXPECT_TRUE(fs::exists(CacheFile("a", "hash1")));
}

TEST_F(FlashFile5Test, AHashThatIsNoPlainFileNameDisablesTheCache) {
    const fs::path path = FlvFile("both.flv");
    for (const wchar_t* hash : {L"../escape", L"sub/dir", L"..", L""}) {
        ASSERT_EQ(OpenFile(path, hash), S_OK);
        EXPECT_EQ(VideoCount(source.Get()) + AudioCount(source.Get()), 2);
    }
    EXPECT_FALSE(fs::exists(temp.Path() / "data" / "Veltrano" / "escape.cache"));
    const fs::path folder = temp.Path() / "data" / "Veltrano" / "FileCache";
    EXPECT_TRUE(!fs::exists(folder) || fs::is_empty(folder));
}

TEST_F(FlashFile5Test, ReOpenSendsEachKindItsOwnGrownIndex) {
    FlvBuilder flv;
    flv.Video(0, 1, 2, 30);
    flv.Audio(0, 2, 3, 1, 1, 20);
    const fs::path path = WriteFile("growing.flv", flv.Bytes());
    ASSERT_EQ(OpenFile(path, L"grow"), S_OK);
    EXPECT_EQ(StoredEntries(CacheFile("v", "grow"), true), 1u);
    FlvBuilder more;
    more.Video(40, 2, 2, 30);
    {
        std::ofstream out(path, std::ios::binary | std::ios::app);
        out << more.Bytes().substr(FlvBuilder().Size());
    }
    world.Take();
    ASSERT_EQ(source.As<IFlashFile5>()->ReOpenFile(), S_OK);
    const auto calls = world.Take();
    ASSERT_EQ(Who(calls, "1006"), (Names{"v1", "a2"}));
    EXPECT_EQ(calls[0].settings, L"v");
    EXPECT_EQ(calls[1].settings, L"a");
    EXPECT_EQ(StoredEntries(CacheFile("v", "grow"), true), 2u);
    EXPECT_EQ(StoredEntries(CacheFile("a", "grow"), false), 1u);
}

}  // namespace
