// The track lists and the methods that forward to the stream objects. The object lock is held
// only to test the state and to pick the stream objects (each with a reference); the stream
// objects are called after it is left.
#include "source/FlashFile5.h"

namespace {
constexpr LONG kSelectAll = -2;
constexpr LONG kSelectCurrent = -1;
constexpr LONG kStateOpen = 1;
// ResetBuffers flags: which kinds of stream object are reset.
constexpr LONG kResetVideo = 1;
constexpr LONG kResetAudio = 2;
}  // namespace

// ---------------------------------------------------------------------------------------------
// Selection and state
// ---------------------------------------------------------------------------------------------

CFlashFile5::StreamList CFlashFile5::SelectStreams(Kind kind, LONG selector) {
    StreamList selected;
    CriticalSectionLock guard(lock_);
    const StreamList& all = Streams(kind);
    if (selector == kSelectAll) {
        selected = all;
    } else {
        const LONG index = selector == kSelectCurrent ? CurrentTrack(kind) : selector;
        if (index >= 0 && static_cast<std::size_t>(index) < all.size()) {
            selected.push_back(all[static_cast<std::size_t>(index)]);
        }
    }
    return selected;
}

HRESULT CFlashFile5::SelectOne(Kind kind, LONG selector, ComPtr<IMediaStream>& stream) {
    StreamList selected = SelectStreams(kind, selector);
    if (selected.size() != 1) return RaiseError(ZEV_E_INVALIDARG);
    stream = std::move(selected.front());
    return S_OK;
}

HRESULT CFlashFile5::RequireOpen() {
    CriticalSectionLock guard(lock_);
    return state_ == kStateOpen ? S_OK : RaiseError(ZEV_E_INVALIDOPERATION);
}

bool CFlashFile5::IsOpen() {
    CriticalSectionLock guard(lock_);
    return state_ == kStateOpen;
}

// ---------------------------------------------------------------------------------------------
// Track lists
// ---------------------------------------------------------------------------------------------

HRESULT CFlashFile5::GetTracksCount(Kind kind, LONG* count) {
    if (count == nullptr) return E_POINTER;
    CriticalSectionLock guard(lock_);
    *count = static_cast<LONG>(Streams(kind).size());
    return S_OK;
}

HRESULT CFlashFile5::PutTracksCount(Kind kind, LONG count) {
    CriticalSectionLock guard(lock_);
    if (state_ == kStateOpen) return RaiseError(ZEV_E_INVALIDOPERATION);
    // Each stream object holds a decoder and its formats: a count from the host does not get to
    // exhaust the memory.
    if (count > kMaxTracksPerKind) return RaiseError(ZEV_E_INVALIDARG);
    return GuardedCall([&]() -> HRESULT {
        StreamList& streams = Streams(kind);
        streams.clear();
        for (LONG i = 0; i < count; ++i) {
            if (ComPtr<IMediaStream> stream = NewStream(kind)) streams.push_back(stream);
        }
        return S_OK;
    });
}

HRESULT CFlashFile5::GetTrack(Kind kind, LONG* track) {
    if (track == nullptr) return E_POINTER;
    CriticalSectionLock guard(lock_);
    *track = CurrentTrack(kind);
    return S_OK;
}

HRESULT CFlashFile5::PutTrack(Kind kind, LONG track) {
    CriticalSectionLock guard(lock_);
    if (track >= 0 && static_cast<std::size_t>(track) < Streams(kind).size()) {
        CurrentTrack(kind) = track;
    }
    return S_OK;
}

HRESULT CFlashFile5::get_videoTracksCount(LONG* count) {
    return GetTracksCount(Kind::kVideo, count);
}
HRESULT CFlashFile5::put_videoTracksCount(LONG count) {
    return PutTracksCount(Kind::kVideo, count);
}
HRESULT CFlashFile5::get_audioTracksCount(LONG* count) {
    return GetTracksCount(Kind::kAudio, count);
}
HRESULT CFlashFile5::put_audioTracksCount(LONG count) {
    return PutTracksCount(Kind::kAudio, count);
}
HRESULT CFlashFile5::get_videoTrack(LONG* track) {
    return GetTrack(Kind::kVideo, track);
}
HRESULT CFlashFile5::put_videoTrack(LONG track) {
    return PutTrack(Kind::kVideo, track);
}
HRESULT CFlashFile5::get_audioTrack(LONG* track) {
    return GetTrack(Kind::kAudio, track);
}
HRESULT CFlashFile5::put_audioTrack(LONG track) {
    return PutTrack(Kind::kAudio, track);
}

// ---------------------------------------------------------------------------------------------
// Forwarding
// ---------------------------------------------------------------------------------------------

HRESULT CFlashFile5::GetStreamObject(Kind kind, LONG selector, IUnknown** streamObject) {
    if (streamObject == nullptr) return E_POINTER;
    return GuardedCall([&]() -> HRESULT {
        ComPtr<IMediaStream> stream;
        HRESULT hr = SelectOne(kind, selector, stream);
        if (FAILED(hr)) return hr;
        ComPtr<IUnknown> unknown;
        hr = stream.As(unknown);
        if (FAILED(hr)) return hr;
        *streamObject = unknown.Detach();
        return S_OK;
    });
}

HRESULT CFlashFile5::MoveStreams(Kind kind, LONG selector, LONG flags, double value,
                                 HRESULT (STDMETHODCALLTYPE IMediaStream::*move)(LONG, double)) {
    const HRESULT open = RequireOpen();
    if (FAILED(open)) return open;
    return GuardedCall([&]() -> HRESULT {
        for (const ComPtr<IMediaStream>& stream : SelectStreams(kind, selector)) {
            (void)(stream.Get()->*move)(flags, value);
        }
        return S_OK;
    });
}

HRESULT CFlashFile5::ReadStream(Kind kind, LONG selector, LONG flags, double duration,
                                IUnknown** data) {
    if (data == nullptr) return E_POINTER;
    *data = nullptr;
    const HRESULT open = RequireOpen();
    if (FAILED(open)) return open;
    return GuardedCall([&]() -> HRESULT {
        ComPtr<IMediaStream> stream;
        const HRESULT selected = SelectOne(kind, selector, stream);
        if (FAILED(selected)) return selected;
        return MapResult(stream->Read(flags, duration, data));
    });
}

HRESULT CFlashFile5::GetStreamTiming(Kind kind, LONG selector, bool duration, double* value) {
    if (value == nullptr) return E_POINTER;
    *value = 0.0;
    if (!IsOpen()) return S_OK;
    return GuardedCall([&]() -> HRESULT {
        ComPtr<IMediaStream> stream;
        const HRESULT selected = SelectOne(kind, selector, stream);
        if (FAILED(selected)) return selected;
        return duration ? stream->get_Duration(value) : stream->get_Time(value);
    });
}

HRESULT CFlashFile5::GetStreamObjectOut(Kind kind, LONG selector, std::uint32_t command,
                                        IUnknown** out) {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    return GuardedCall([&]() -> HRESULT {
        ComPtr<IMediaStream> stream;
        const HRESULT selected = SelectOne(kind, selector, stream);
        if (FAILED(selected)) return selected;
        return stream->SendCommandEx(command, nullptr, out);
    });
}

HRESULT CFlashFile5::get_videoStream(LONG, LONG stream, IUnknown** streamObject) {
    return GetStreamObject(Kind::kVideo, stream, streamObject);
}

HRESULT CFlashFile5::get_audioStream(LONG, LONG stream, IUnknown** streamObject) {
    return GetStreamObject(Kind::kAudio, stream, streamObject);
}

HRESULT CFlashFile5::ResetBuffers(LONG stream, LONG flags) {
    return GuardedCall([&]() -> HRESULT {
        if ((flags & kResetVideo) != 0) {
            for (const ComPtr<IMediaStream>& video : SelectStreams(Kind::kVideo, stream)) {
                (void)video->Reset(flags);
            }
        }
        if ((flags & kResetAudio) != 0) {
            for (const ComPtr<IMediaStream>& audio : SelectStreams(Kind::kAudio, stream)) {
                (void)audio->Reset(flags);
            }
        }
        return S_OK;
    });
}

HRESULT CFlashFile5::SeekVideo(LONG stream, LONG flags, double time) {
    return MoveStreams(Kind::kVideo, stream, flags, time, &IMediaStream::Seek);
}
HRESULT CFlashFile5::SeekAudio(LONG stream, LONG flags, double time) {
    return MoveStreams(Kind::kAudio, stream, flags, time, &IMediaStream::Seek);
}
HRESULT CFlashFile5::SkipVideo(LONG stream, LONG flags, double duration) {
    return MoveStreams(Kind::kVideo, stream, flags, duration, &IMediaStream::Skip);
}
HRESULT CFlashFile5::SkipAudio(LONG stream, LONG flags, double duration) {
    return MoveStreams(Kind::kAudio, stream, flags, duration, &IMediaStream::Skip);
}
HRESULT CFlashFile5::ReadVideo(LONG stream, LONG flags, IUnknown** data) {
    return ReadStream(Kind::kVideo, stream, flags, 0.0, data);
}
HRESULT CFlashFile5::ReadAudio(LONG stream, LONG flags, double duration, IUnknown** data) {
    return ReadStream(Kind::kAudio, stream, flags, duration, data);
}
HRESULT CFlashFile5::get_videoDuration(LONG stream, double* duration) {
    return GetStreamTiming(Kind::kVideo, stream, true, duration);
}
HRESULT CFlashFile5::get_audioDuration(LONG stream, double* duration) {
    return GetStreamTiming(Kind::kAudio, stream, true, duration);
}
HRESULT CFlashFile5::get_videoTime(LONG stream, double* time) {
    return GetStreamTiming(Kind::kVideo, stream, false, time);
}
HRESULT CFlashFile5::get_audioTime(LONG stream, double* time) {
    return GetStreamTiming(Kind::kAudio, stream, false, time);
}
HRESULT CFlashFile5::get_videoFormat(LONG stream, IUnknown** format) {
    return GetStreamObjectOut(Kind::kVideo, stream, kStreamGetFormat, format);
}
HRESULT CFlashFile5::get_audioFormat(LONG stream, IUnknown** format) {
    return GetStreamObjectOut(Kind::kAudio, stream, kStreamGetFormat, format);
}
HRESULT CFlashFile5::get_videoTransform(LONG stream, IUnknown** transform) {
    return GetStreamObjectOut(Kind::kVideo, stream, kStreamGetTransform, transform);
}

HRESULT CFlashFile5::put_audioFormat(LONG stream, IUnknown* format) {
    return GuardedCall([&]() -> HRESULT {
        ComPtr<IMediaStream> selected;
        const HRESULT hr = SelectOne(Kind::kAudio, stream, selected);
        if (FAILED(hr)) return hr;
        return MapResult(selected->SendCommandEx(kStreamSetFormat, format, nullptr));
    });
}

// ---------------------------------------------------------------------------------------------
// The data kind and the other methods that do nothing or answer a fixed value. Nothing here
// touches an out parameter, except the fixed-value answers, which refuse a null pointer.
// ---------------------------------------------------------------------------------------------

HRESULT CFlashFile5::get_dataTracksCount(LONG* count) {
    if (count == nullptr) return E_POINTER;
    *count = 0;
    return S_OK;
}
HRESULT CFlashFile5::put_dataTracksCount(LONG) {
    return S_OK;
}
HRESULT CFlashFile5::get_dataTrack(LONG*) {
    return S_OK;
}
HRESULT CFlashFile5::put_dataTrack(LONG) {
    return S_OK;
}
HRESULT CFlashFile5::get_dataStream(LONG, LONG, IUnknown** streamObject) {
    if (streamObject == nullptr) return E_POINTER;
    *streamObject = nullptr;
    return S_OK;
}
HRESULT CFlashFile5::get_IsSeekable(LONG, LONG, VARIANT_BOOL* seekable) {
    if (seekable == nullptr) return E_POINTER;
    *seekable = VARIANT_TRUE;
    return S_OK;
}
HRESULT CFlashFile5::SeekData(LONG, LONG, double) {
    return S_OK;
}
HRESULT CFlashFile5::SkipData(LONG, LONG, double) {
    return S_OK;
}
HRESULT CFlashFile5::ReadData(LONG, LONG, IUnknown**) {
    return S_OK;
}
HRESULT CFlashFile5::get_dataDuration(LONG, double* duration) {
    if (duration == nullptr) return E_POINTER;
    *duration = 0.0;
    return S_OK;
}
HRESULT CFlashFile5::get_dataTime(LONG, double* time) {
    if (time == nullptr) return E_POINTER;
    *time = 0.0;
    return S_OK;
}
HRESULT CFlashFile5::put_videoFormat(LONG, IUnknown*) {
    return S_OK;
}
HRESULT CFlashFile5::get_dataFormat(LONG, IUnknown**) {
    return S_OK;
}
HRESULT CFlashFile5::put_dataFormat(LONG, IUnknown*) {
    return S_OK;
}
HRESULT CFlashFile5::get_audioTransform(LONG, IUnknown**) {
    return S_OK;
}
HRESULT CFlashFile5::get_dataTransform(LONG, IUnknown**) {
    return S_OK;
}
