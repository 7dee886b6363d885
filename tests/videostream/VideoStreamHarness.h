// Driving a FlashVideoStream5 object through IMediaStream as a host does, the samples the tests
// compare with ffmpeg, and FLV files rebuilt from a sample's video tags with other times.
#pragma once

#include <functional>
#include <utility>

#include "frame/Interfaces.h"
#include "tests/support/ComponentTestSupport.h"

// mediakit and FlashVideoStream5 are registered for the whole test program.

// H.264 with two B-frames between references and AAC audio; keyframes every 12 frames.
extern const Sample kH264Sample;
// Sorenson H.263 (flv1), a keyframe every 10 frames.
extern const Sample kSorensonSample;
// Screen video (flashsv), a keyframe every 6 frames.
extern const Sample kScreenSample;
// Sorenson H.263 in large frames with a keyframe only at the start (over 1 MB).
extern const Sample kLargeSample;

ComPtr<IMediaStream> NewVideoStream();
// Opens `file` in a new stream object; null (with a test failure) when the open fails.
ComPtr<IMediaStream> OpenVideoStream(const std::filesystem::path& file,
                                     const wchar_t* hash = nullptr);
// The next frame; nullopt at the end of the stream.
std::optional<ReadFrame> ReadNext(IMediaStream* stream);
std::vector<ReadFrame> ReadToEnd(IMediaStream* stream);

// The video tags of an FLV file, in file order.
std::vector<FlvTag> VideoTagsOf(const std::filesystem::path& file);
// An FLV file of `tags` with the times `retime` gives (tag number, old time), led by an
// "onMetaData" tag with `metadata` when it is not empty.
std::string RebuildFlv(const std::vector<FlvTag>& tags,
                       const std::function<std::uint32_t(std::size_t, std::uint32_t)>& retime,
                       const std::vector<std::pair<std::string, std::string>>& metadata = {});
