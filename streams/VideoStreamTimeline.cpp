// The timeline of the video stream object: the read stage that feeds the decoder, Read, Seek
// and Skip (members of CFlashVideoStream5; the lock is held by the interface methods).
#include <algorithm>
#include <cmath>
#include <limits>

#include "flv/TagLayout.h"
#include "flv/TemplateData.h"
#include "flv/VideoData.h"
#include "streams/VideoStream.h"

namespace {
// A frame longer than this is cut into one frame duration and a copy carrying the rest.
constexpr double kLongFrame = 500.0;
// A seek less than this far past the current time may step back through the recent frames.
constexpr double kStepBackWindow = 200.0;
// Skip: a covering frame keeps at least this much after the target, else the next one is used.
constexpr double kMinimumRemainder = 1.0;
constexpr double kTimeEpsilon = 1e-8;
}  // namespace

// ---------------------------------------------------------------------------------------------
// Timeline
// ---------------------------------------------------------------------------------------------

double CFlashVideoStream5::FrameDuration() const noexcept {
    return 1000.0 / CFLV_Manager::UsableFrameRate(frameRate_);
}

bool CFlashVideoStream5::FillReady() {
    const IndexArray& index = manager_->videoIndex;
    for (;;) {
        if (nextRecord_ < index.size()) {
            const IndexEntry entry = index[nextRecord_];
            ++nextRecord_;
            FeedRecord(entry);
        } else {
            (void)decoder_->Write(kWriteEndOfInput, nullptr);
            endOfInput_ = true;
        }
        ComPtr<IUnknown> output;
        ComPtr<IMediaPacket> frame;
        if (SUCCEEDED(decoder_->Read(0, 0.0, output.Put())) && output &&
            SUCCEEDED(output.As(frame))) {
            std::int64_t time = 0;
            if (frames_.TakeTimeFor(PacketTime(frame.Get()), time)) {
                StampPacket(frame.Get(), static_cast<double>(time));
            }
            (void)frame->SetDuration(FrameDuration());
            frames_.Ready().push_back(std::move(frame));
            return true;
        }
        if (endOfInput_) return false;
    }
}

void CFlashVideoStream5::FeedRecord(const IndexEntry& entry) {
    ApplyConfigurationFor(entry.position);
    if (!input_->SeekTo(entry.position)) return;
    CFLV_TemplateData tag;
    if (!tag.Read(*input_) || tag.GetTagType() != kFlvVideoTag) return;
    CFLV_VideoData* body = tag.VideoBody();
    if (body == nullptr || body->Payload() == nullptr) return;
    ComPtr<IMediaPacket> payload = body->TakePayload();
    (void)payload->SetFormat(format_.Get());
    // The payload carries the index entry's time, the frame's presentation time (tag time plus
    // composition time), not the tag time (a decode time): a decoder that carries it to the
    // decoded frame hands frames out in presentation order with their own times, the times
    // Seek and the index work with.
    const std::uint64_t time = std::min<std::uint64_t>(
        entry.time, static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()));
    StampPacket(payload.Get(), static_cast<double>(time));
    frames_.AddPendingTime(static_cast<std::int64_t>(time));
    (void)decoder_->Write(kWriteData, payload.Get());
}

void CFlashVideoStream5::ApplyConfigurationFor(std::uint64_t position) {
    const std::vector<ConfigChange>& changes = manager_->videoConfigChanges;
    if (changes.empty()) return;
    const std::ptrdiff_t wanted = LatestConfigChangeBefore(changes, position);
    if (wanted == appliedConfiguration_) return;
    appliedConfiguration_ = wanted;
    if (wanted < 0) {
        SetDecoderExtraData(manager_->videoExtra.get());
        return;
    }
    // A sequence header that can no longer be read (the file changed) leaves the decoder as it is.
    CExtraData configuration;
    if (CFLV_Manager::ReadConfiguration(*input_, changes[static_cast<std::size_t>(wanted)].position,
                                        configuration)) {
        SetDecoderExtraData(&configuration);
    }
}

void CFlashVideoStream5::ReadFrame(ComPtr<IMediaPacket>& result, double skipTarget) {
    result = nullptr;
    if (!input_ || !HasVideo()) return;
    const double duration = VideoDuration();
    if (currentTime_ >= duration) return;
    auto& ready = frames_.Ready();
    while (ready.size() < 2) {
        if (!FillReady() && endOfInput_) break;
    }
    if (ready.empty()) return;

    ComPtr<IMediaPacket> frame = std::move(ready.front());
    ready.pop_front();
    const double next = ready.empty() ? duration : PacketTime(ready.front().Get());
    // Never below 0: a frame followed by an earlier one (time stamps that run backwards) is
    // shown for no time, and the timeline never runs back.
    double length = std::max(0.0, std::min(next - currentTime_, duration - currentTime_));
    if (length > kLongFrame) {
        const double frameDuration = FrameDuration();
        // A skip takes the whole frame durations before its target in one piece: cut one frame
        // duration at a time, a gap of days (a damaged time stamp) would take millions of steps.
        const double before = std::floor((skipTarget - currentTime_) / frameDuration);
        const double piece = before > 1.0 ? before * frameDuration : frameDuration;
        if (piece < length) {
            if (ComPtr<IMediaPacket> rest = DuplicatePacket(frame.Get())) {
                StampPacket(rest.Get(), currentTime_ + piece);
                (void)rest->SetDuration(length - piece);
                ready.push_front(std::move(rest));
                length = piece;
            }
        }
    }
    (void)frame->SetTime(currentTime_);
    (void)frame->SetDuration(length);
    currentTime_ += length;
    if (discontinuityPending_) {
        (void)frame->SetDiscontinuity(VARIANT_TRUE);
        discontinuityPending_ = false;
    }
    frames_.Remember(frame.Get());
    result = std::move(frame);
}

void CFlashVideoStream5::ReadAndPutBack(double skipTarget) {
    ComPtr<IMediaPacket> frame;
    ReadFrame(frame, skipTarget);
    if (frame) frames_.Ready().push_front(std::move(frame));
}

std::size_t CFlashVideoStream5::KeyRecordFor(double time) const {
    const IndexArray& index = manager_->videoIndex;
    constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();
    std::size_t key = kNone;
    std::size_t i = 0;
    for (; i < index.size() && static_cast<double>(index[i].time) <= time; ++i) {
        if (index[i].frameType == CFLV_VideoData::kKeyFrame) key = i;
    }
    // None up to the target: the first keyframe after it, whose frame reaches back to it.
    for (; key == kNone && i < index.size(); ++i) {
        if (index[i].frameType == CFLV_VideoData::kKeyFrame) key = i;
    }
    return key == kNone ? 0 : key;
}

void CFlashVideoStream5::SeekTo(LONG flags, double time) {
    if (!input_ || !HasVideo()) return;
    const double duration = VideoDuration();
    const double target = std::isnan(time) ? 0.0 : std::clamp(time, 0.0, std::max(duration, 0.0));
    if (!repositionPending_ && target == currentTime_) return;
    repositionPending_ = false;

    auto& recent = frames_.Recent();
    if (!recent.empty() && PacketTime(recent.front().Get()) <= target &&
        target < currentTime_ + kStepBackWindow) {
        // A short step back: the recent frames are still at hand.
        currentTime_ = PacketTime(recent.front().Get());
        frames_.ReplayRecent();
    } else {
        RestartDecodingAt(target);
    }
    MoveTo(flags, target);
    discontinuityPending_ = true;
}

void CFlashVideoStream5::RestartDecodingAt(double target) {
    frames_.ClearAll();
    (void)decoder_->Reset(0);
    endOfInput_ = false;
    const IndexArray& index = manager_->videoIndex;
    nextRecord_ = KeyRecordFor(target);
    currentTime_ = index.empty() ? 0.0 : static_cast<double>(index[nextRecord_].time);
}

void CFlashVideoStream5::MoveTo(LONG flags, double target) {
    const double delta = target - currentTime_;
    if (delta > 0.0) {
        SkipBy(flags, delta);
    } else if (delta < 0.0) {
        // The first record lies after the target: its frame is stretched back to the target.
        auto& ready = frames_.Ready();
        if (ready.empty()) ReadAndPutBack();
        if (!ready.empty()) {
            IMediaPacket* first = ready.front().Get();
            StampPacket(first, target);
            (void)first->SetDuration(PacketDuration(first) - delta);
        }
        currentTime_ = target;
        frames_.Recent().clear();
    }
}

void CFlashVideoStream5::SkipBy(LONG flags, double duration) {
    if (!input_) return;
    if (!HasVideo()) {
        discontinuityPending_ = true;
        return;
    }
    double remaining = std::min(duration, std::max(0.0, VideoDuration() - currentTime_));
    const double target = currentTime_ + remaining;
    auto& ready = frames_.Ready();
    auto& recent = frames_.Recent();
    if (std::isnan(remaining) || remaining <= 0.0) {
        discontinuityPending_ = true;
        return;
    }

    // Drop whole frames until one covers the target.
    bool covered = false;
    double length = 0.0;
    while (!covered) {
        ReadAndPutBack(target);
        if (ready.empty()) break;
        const double start = PacketTime(ready.front().Get());
        length = PacketDuration(ready.front().Get());
        if (start + length > target + kTimeEpsilon) {
            covered = true;
            break;
        }
        remaining -= length;
        ready.pop_front();
        if (!(remaining > 0.0)) break;
    }

    if (covered && (flags & kFlagWholeFrame) != 0) {
        // The covering frame is returned whole, from its start.
        currentTime_ -= length;
    } else if (covered) {
        // Too little of the covering frame would remain: the next frame takes its place.
        while (length - remaining < kMinimumRemainder) {
            ComPtr<IMediaPacket> dropped = std::move(ready.front());
            ready.pop_front();
            ReadAndPutBack();
            if (ready.empty()) {
                ready.push_front(std::move(dropped));
                break;
            }
            remaining -= length;
            length = PacketDuration(ready.front().Get());
        }
        // The part before the target counts as shown with the newest recent frame.
        if (remaining < 0.0) {
            if (!recent.empty()) recent.pop_back();
        } else if (remaining > kTimeEpsilon) {
            if (!recent.empty()) (void)recent.back()->SetDuration(remaining);
        } else {
            remaining = 0.0;
            if (!recent.empty()) recent.pop_back();
        }
        const double rest = length - remaining;
        currentTime_ -= rest;
        IMediaPacket* first = ready.front().Get();
        StampPacket(first, currentTime_);
        (void)first->SetDuration(rest);
    }
    discontinuityPending_ = true;
}
