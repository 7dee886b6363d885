#include "mediakit/ClassList.h"

#include <iterator>

#include "mediakit/AudioDecoder.h"
#include "mediakit/AudioFormat.h"
#include "mediakit/AudioPacket.h"
#include "mediakit/AudioPacketQueue.h"
#include "mediakit/MediaParams.h"
#include "mediakit/VideoDecoder.h"
#include "mediakit/VideoFormat.h"
#include "mediakit/VideoPacket.h"
#ifdef _WIN32
#include "platform/windows/ProcessMarshaler.h"
#endif

namespace mediakit {
namespace {

const ClassEntry kClasses[] = {
    MediaKitClass<MediaParams>(CLSID_MediaParams, L"MediaParams"),
    MediaKitClass<VideoPacket>(CLSID_VideoPacket, L"VideoPacket"),
    MediaKitClass<AudioPacket>(CLSID_AudioPacket, L"AudioPacket"),
    MediaKitClass<VideoFormat>(CLSID_VideoFormat, L"VideoFormat"),
    MediaKitClass<AudioFormat>(CLSID_AudioFormat, L"AudioFormat"),
    MediaKitClass<AudioPacketQueue>(CLSID_AudioPacketQueue, L"AudioPacketQueue"),
    MediaKitClass<AudioDecoder>(CLSID_AudioDecoder, L"AudioDecoder"),
    MediaKitClass<VideoDecoder>(CLSID_VideoDecoder, L"VideoDecoder"),
#ifdef _WIN32
    // The unmarshal class of the objects above where the system's free-threaded marshaler does
    // not serve (platform/windows/ProcessMarshaler.h).
    MediaKitClass<CProcessMarshaler>(CLSID_ProcessMarshaler, L"ProcessMarshaler"),
#endif
};

}  // namespace

ComModule& Module() noexcept {
    // The framework's objects may be called from any apartment (ThreadingModel "Both"): a host
    // in the multithreaded apartment hands its containers to the component's apartment, which
    // hands back packets, all as plain pointers.
    static ComModule module(ComModule::kFreeThreaded);
    return module;
}

std::span<const ClassEntry> Classes() noexcept {
    return kClasses;
}

}  // namespace mediakit
