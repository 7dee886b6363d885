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

namespace mediakit {
namespace {

const ClassEntry kClasses[] = {
    MediaKitClass<MediaParams>(CLSID_MediaParams),
    MediaKitClass<VideoPacket>(CLSID_VideoPacket),
    MediaKitClass<AudioPacket>(CLSID_AudioPacket),
    MediaKitClass<VideoFormat>(CLSID_VideoFormat),
    MediaKitClass<AudioFormat>(CLSID_AudioFormat),
    MediaKitClass<AudioPacketQueue>(CLSID_AudioPacketQueue),
    MediaKitClass<AudioDecoder>(CLSID_AudioDecoder),
    MediaKitClass<VideoDecoder>(CLSID_VideoDecoder),
};

}  // namespace

ComModule& Module() noexcept {
    static ComModule module;
    return module;
}

std::span<const ClassEntry> Classes() noexcept {
    return kClasses;
}

}  // namespace mediakit
