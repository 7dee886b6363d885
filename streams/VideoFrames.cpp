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
    pending_.insert(std::upper_bound(pending_.begin(), pending_.end(), time), time);
}

bool VideoFrames::TakePendingTime(std::int64_t& time) {
    if (pending_.empty()) return false;
    time = pending_.front();
    pending_.erase(pending_.begin());
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
