#include "tests/source/SourceHarness.h"

#include "flv/StoredIndex.h"
#include "mediakit/MediaKit.h"
#include "platform/Bstr.h"
#include "platform/Com.h"
#include "platform/ErrorInfo.h"
#include "platform/TextConvert.h"
#include "source/FlashFile5.h"
#include "streams/AudioStream.h"
#include "streams/VideoStream.h"
#include "tests/support/ComponentClasses.h"

void RegisterSourceClasses() {
    static const bool registered = [] {
        EXPECT_EQ(MediaKitRegisterClasses(), S_OK);
        static ComponentClassRegistration classes;
        classes.Add<CFlashFile5>(CLSID_FlashFile5);
        classes.Add<CFlashVideoStream5>(CLSID_FlashVideoStream5);
        classes.Add<CFlashAudioStream5>(CLSID_FlashAudioStream5);
        return true;
    }();
    (void)registered;
}

ComPtr<IMediaSource> NewSource() {
    ComPtr<IMediaSource> source;
    EXPECT_EQ(CreateInstance(CLSID_FlashFile5, source), S_OK);
    return source;
}

ComPtr<IMediaParams> NewParams() {
    ComPtr<IMediaParams> params;
    EXPECT_EQ(CreateInstance(CLSID_MediaParams, params), S_OK);
    return params;
}

ComPtr<IMediaParams> OpenParams(const std::filesystem::path& file, const wchar_t* hash) {
    ComPtr<IMediaParams> params = NewParams();
    EXPECT_EQ(params->SetLong(Bstr(L"OperationMode").Get(), 0, 1), S_OK);
    EXPECT_EQ(params->SetString(Bstr(L"FileName").Get(), 0, Bstr(Utf8ToWide(file.string())).Get()),
              S_OK);
    if (hash != nullptr) {
        EXPECT_EQ(params->SetString(Bstr(L"FileHash").Get(), 0, Bstr(hash).Get()), S_OK);
    }
    return params;
}

HRESULT Open(IMediaSource* source, IMediaParams* params) {
    return source->SendCommandEx(1, params, nullptr);
}

LONG VideoCount(IMediaSource* source) {
    LONG count = -1;
    EXPECT_EQ(source->get_videoTracksCount(&count), S_OK);
    return count;
}

LONG AudioCount(IMediaSource* source) {
    LONG count = -1;
    EXPECT_EQ(source->get_audioTracksCount(&count), S_OK);
    return count;
}

LONG Status(IMediaSource* source) {
    ComPtr<IMediaFileTemplate> file;
    EXPECT_EQ(ComPtr<IMediaSource>(source).As(file), S_OK);
    LONG status = -1;
    EXPECT_EQ(file->get_Status(&status), S_OK);
    return status;
}

LONG LongOf(IMediaParams* params, const wchar_t* name) {
    LONG value = 0;
    (void)params->GetLong(Bstr(name).Get(), -1, &value);
    return value;
}

bool Has(IMediaParams* params, const wchar_t* name) {
    LONG count = 0;
    return SUCCEEDED(params->GetCount(Bstr(name).Get(), &count)) && count > 0;
}

ComPtr<IMediaParams> ParamsOf(IMediaParams* params, const wchar_t* name) {
    ComPtr<IMediaParams> nested;
    (void)params->GetParams(Bstr(name).Get(), 0, 1, nested.Put());
    return nested;
}

std::size_t StoredEntries(const std::filesystem::path& cacheFile, bool video) {
    ComPtr<IMediaParams> cache = NewParams();
    if (cache->LoadFromFile(Bstr(cacheFile.wstring()).Get()) != S_OK) return 0;
    ComPtr<IStream> stream;
    const Bstr name(video ? L"FileVideoIndexes" : L"FileAudioIndexes");
    if (FAILED(cache->GetStream(name.Get(), 0, 1, stream.Put())) || !stream) return 0;
    StoredIndexExtras extras;
    std::vector<IndexEntry> videoIndex, audioIndex;
    (void)ReadStoredIndex(stream.Get(), extras, videoIndex, audioIndex);
    return video ? videoIndex.size() : audioIndex.size();
}

std::optional<ErrorRecord> TakeErrorRecord() {
    ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, info.Put()) != S_OK || !info) return std::nullopt;
    ErrorRecord record;
    EXPECT_EQ(info->GetGUID(&record.guid), S_OK);
    Bstr description;
    EXPECT_EQ(info->GetDescription(description.Put()), S_OK);
    record.description = std::wstring(description.View());
    return record;
}

void ExpectSourceError(HRESULT hr, HRESULT expected, const wchar_t* message) {
    EXPECT_EQ(hr, expected);
    const std::optional<ErrorRecord> record = TakeErrorRecord();
    ASSERT_TRUE(record) << "no error record";
    EXPECT_EQ(record->guid, IID_IFlashFile5);
    EXPECT_EQ(record->description, message);
}

SourceTest::SourceTest()
    : data_("XDG_DATA_HOME", (temp.Path() / "data").string()),
      run_("XDG_RUNTIME_DIR", (temp.Path() / "run").string()) {
    std::filesystem::create_directories(temp.Path() / "run");
}

std::filesystem::path SourceTest::CacheFile(const char* kind, const std::string& hash) const {
    return temp.Path() / "data" / "Veltrano" / "FileCache" /
           (std::string("zevflashfile-5-0-1-207-") + kind + "-" + hash + ".cache");
}
