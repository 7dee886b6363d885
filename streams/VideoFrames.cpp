#include "streams/VideoFrames.h"

#include <algorithm>

double PacketTime(IMediaPacket* packet) {
    double time = 0.0;
    if (packet == nullptr || FAILED(packet->GetTime(&time))) return 0.0;
    return time;
}

double PacketDuration(IMediaPacket* packet) {
    double duration = 0.0;
    if (packet == nullptr || FAILED(packet->GetDuration(&duration))) return 0.0;
    return duration;
}

void StampPacket(IMediaPacket* packet, double time) {
    (void)packet->SetTime(time);
    (void)packet->SetTimestamp(time);
}

ComPtr<IMediaPacket> DuplicatePacket(IMediaPacket* packet) {
    ComPtr<IUnknown> copy;
    ComPtr<IMediaPacket> media;
    if (packet != nullptr && SUCCEEDED(packet->Duplicate(0, copy.Put())) && copy) {
        (void)copy.As(media);
    }
    return media;
}

void VideoFrames::AddPendingTime(std::int64_t time) {
    const auto after = std::upper_bound(
        pending_.begin(), pending_.end(), time,
        [](std::int64_t value, const PendingTime& pending) { return value < pending.time; });
    pending_.insert(after, {time, nextOrder_++});
}

bool VideoFrames::TakeTimeFor(double decodedTime, std::int64_t& time) {
    if (pending_.empty()) return false;
    const auto own = std::find_if(pending_.begin(), pending_.end(), [&](const PendingTime& p) {
        return static_cast<double>(p.time) == decodedTime;
    });
    if (own == pending_.end()) {
        time = pending_.front().time;
        pending_.erase(pending_.begin());
        return true;
    }
    time = own->time;
    const std::uint64_t order = own->order;
    // The list is ascending: the earlier times are those before the frame's own.
    const auto end = std::remove_if(pending_.begin(), own + 1,
                                    [&](const PendingTime& p) { return p.order <= order; });
    pending_.erase(end, own + 1);
    return true;
}

void VideoFrames::Remember(IMediaPacket* frame) {
    ComPtr<IMediaPacket> copy = DuplicatePacket(frame);
    if (!copy) return;
    recent_.push_back(std::move(copy));
    while (recent_.size() > kRecentCapacity) recent_.pop_front();
}

void VideoFrames::ReplayRecent() {
    while (!recent_.empty()) {
        ComPtr<IMediaPacket> frame = std::move(recent_.back());
        recent_.pop_back();
        (void)frame->SetDiscontinuity(VARIANT_FALSE);
        ready_.push_front(std::move(frame));
    }
}
