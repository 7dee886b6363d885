// The writing side: the container description, the profile, and the writes, which the source
// object refuses (it never enters a writing state). The IMediaFileTemplate methods that only
// answer a fixed value or do nothing are here too.
#include "platform/Bstr.h"
#include "platform/Com.h"
#include "source/FlashFile5.h"

namespace {
constexpr LONG kStateOpen = 1;
// Duplicate flags of the container description's copies.
constexpr LONG kDuplicateDescription = 2;
// The flag of the object getters and setters that shares the reference.
constexpr LONG kShareObject = 1;

const wchar_t* ProfileListName(bool video) {
    return video ? L"VideoStreamInfo" : L"AudioStreamInfo";
}

// `object` asked for the format interface of its kind (IVideoFormat or IAudioFormat), held as
// IUnknown; false when it has none.
bool FormatOfKind(bool video, const ComPtr<IUnknown>& object, ComPtr<IUnknown>& format) {
    if (video) {
        ComPtr<IVideoFormat> typed;
        if (FAILED(object.As(typed)) || !typed) return false;
        format = ComPtr<IUnknown>(typed.Get());
    } else {
        ComPtr<IAudioFormat> typed;
        if (FAILED(object.As(typed)) || !typed) return false;
        format = ComPtr<IUnknown>(typed.Get());
    }
    return true;
}
}  // namespace

// ---------------------------------------------------------------------------------------------
// Container description
// ---------------------------------------------------------------------------------------------

HRESULT CFlashFile5::put_ContainerDesc(IUnknown* description) {
    CriticalSectionLock guard(lock_);
    ComPtr<IMediaParams> given;
    if (description == nullptr || FAILED(QueryTo(description, given)) || !given) {
        return RaiseError(ZEV_E_INVALIDARG);
    }
    // The copy is made before the stored one goes, so that a failed copy loses nothing.
    ComPtr<IMediaParams> copy;
    const HRESULT hr = given->Duplicate(kDuplicateDescription, copy.Put());
    if (FAILED(hr)) return hr;
    containerDesc_ = std::move(copy);
    return S_OK;
}

HRESULT CFlashFile5::get_ContainerDesc(IUnknown** description) {
    if (description == nullptr) return E_POINTER;
    CriticalSectionLock guard(lock_);
    *description = nullptr;
    if (!containerDesc_) return S_OK;
    ComPtr<IMediaParams> copy;
    HRESULT hr = containerDesc_->Duplicate(kDuplicateDescription, copy.Put());
    if (FAILED(hr)) return hr;
    ComPtr<IUnknown> unknown;
    hr = copy.As(unknown);
    if (FAILED(hr)) return hr;
    *description = unknown.Detach();
    return S_OK;
}

// ---------------------------------------------------------------------------------------------
// Profile
// ---------------------------------------------------------------------------------------------

HRESULT CFlashFile5::put_Profile(IUnknown* profile) {
    CriticalSectionLock guard(lock_);
    if (state_ == kStateOpen) return RaiseError(ZEV_E_INVALIDOPERATION);
    ComPtr<IMediaParams> container;
    if (profile == nullptr || FAILED(QueryTo(profile, container)) || !container) {
        return RaiseError(ZEV_E_INVALIDARG);
    }
    return GuardedCall([&]() -> HRESULT {
        videoStreams_.clear();
        audioStreams_.clear();
        const HRESULT hr = CreateProfileStreams(Kind::kVideo, container.Get());
        if (FAILED(hr)) return hr;
        return CreateProfileStreams(Kind::kAudio, container.Get());
    });
}

HRESULT CFlashFile5::CreateProfileStreams(Kind kind, IMediaParams* profile) {
    const bool video = kind == Kind::kVideo;
    const Bstr listName(ProfileListName(video));
    const Bstr formatName(L"AVFormat");
    LONG count = 0;
    (void)profile->GetCount(listName.Get(), &count);
    for (LONG i = 0; i < count; ++i) {
        // An entry without a format of its kind describes no stream: it is skipped.
        ComPtr<IMediaParams> entry;
        if (FAILED(profile->GetParams(listName.Get(), i, kShareObject, entry.Put())) || !entry) {
            continue;
        }
        ComPtr<IUnknown> object;
        if (FAILED(entry->GetUnknown(formatName.Get(), 0, kShareObject, object.Put())) || !object) {
            continue;
        }
        ComPtr<IUnknown> format;
        if (!FormatOfKind(video, object, format)) continue;
        ComPtr<IMediaStream> stream = NewStream(kind);
        if (!stream) continue;
        Streams(kind).push_back(stream);
        // A stream object that refuses its format ends the profile; those made so far stay.
        const HRESULT hr = stream->SendCommandEx(kStreamSetFormat, format.Get(), nullptr);
        if (hr != S_OK) return MapResult(hr);
    }
    return S_OK;
}

HRESULT CFlashFile5::get_Profile(IUnknown** profile) {
    if (profile == nullptr) return E_POINTER;
    *profile = nullptr;
    return GuardedCall([&]() -> HRESULT {
        ComPtr<IMediaParams> container;
        if (FAILED(::CreateInstance(CLSID_MediaParams, container))) {
            return RaiseError(ZEV_E_MEMORY);
        }
        // The stream objects are asked for their formats without the object lock.
        StreamList video;
        StreamList audio;
        {
            CriticalSectionLock guard(lock_);
            video = videoStreams_;
        }
        {
            CriticalSectionLock guard(lock_);
            audio = audioStreams_;
        }
        DescribeStreams(Kind::kVideo, video, container.Get());
        DescribeStreams(Kind::kAudio, audio, container.Get());
        ComPtr<IUnknown> unknown;
        const HRESULT hr = container.As(unknown);
        if (FAILED(hr)) return hr;
        *profile = unknown.Detach();
        return S_OK;
    });
}

void CFlashFile5::DescribeStreams(Kind kind, const StreamList& streams, IMediaParams* profile) {
    const bool video = kind == Kind::kVideo;
    const Bstr listName(ProfileListName(video));
    const Bstr formatName(L"AVFormat");
    for (const ComPtr<IMediaStream>& stream : streams) {
        ComPtr<IUnknown> object;
        if (FAILED(stream->SendCommandEx(kStreamGetFormat, nullptr, object.Put())) || !object) {
            continue;
        }
        ComPtr<IUnknown> format;
        if (!FormatOfKind(video, object, format)) continue;
        ComPtr<IMediaParams> entry;
        if (FAILED(::CreateInstance(CLSID_MediaParams, entry))) continue;
        (void)entry->SetUnknown(formatName.Get(), 0, kShareObject, format.Get());
        (void)profile->SetParams(listName.Get(), -1, kShareObject, entry.Get());
    }
}

// ---------------------------------------------------------------------------------------------
// Writes, and the template's fixed answers
// ---------------------------------------------------------------------------------------------

HRESULT CFlashFile5::WriteVideo(LONG, LONG, IUnknown*) {
    CriticalSectionLock guard(lock_);
    return RaiseError(ZEV_E_INVALIDOPERATION);
}

HRESULT CFlashFile5::WriteAudio(LONG, LONG, IUnknown*) {
    CriticalSectionLock guard(lock_);
    return RaiseError(ZEV_E_INVALIDOPERATION);
}

HRESULT CFlashFile5::WriteData(LONG, LONG, IUnknown*) {
    return S_OK;
}

HRESULT CFlashFile5::get_Status(LONG* status) {
    if (status == nullptr) return E_POINTER;
    CriticalSectionLock guard(lock_);
    *status = state_;
    return S_OK;
}

HRESULT CFlashFile5::get_ContainerType(LONG* type) {
    if (type == nullptr) return E_POINTER;
    *type = kContainerTypeFlv;
    return S_OK;
}

HRESULT CFlashFile5::put_ContainerType(LONG) {
    return S_OK;
}
HRESULT CFlashFile5::get_availableVideoCodecsCount(LONG*) {
    return S_OK;
}
HRESULT CFlashFile5::get_availableAudioCodecsCount(LONG*) {
    return S_OK;
}
HRESULT CFlashFile5::get_availableDataCodecsCount(LONG*) {
    return S_OK;
}
HRESULT CFlashFile5::get_availableVideoFormatsCount(LONG, LONG*) {
    return S_OK;
}
HRESULT CFlashFile5::get_availableAudioFormatsCount(LONG, LONG*) {
    return S_OK;
}
HRESULT CFlashFile5::get_availableDataFormatsCount(LONG, LONG*) {
    return S_OK;
}
HRESULT CFlashFile5::get_availableVideoFormat(LONG, LONG, IUnknown**) {
    return S_OK;
}
HRESULT CFlashFile5::get_availableAudioFormat(LONG, LONG, IUnknown**) {
    return S_OK;
}
HRESULT CFlashFile5::get_availableDataFormat(LONG, LONG, IUnknown**) {
    return S_OK;
}
