// The frame lists of the video stream object and the packet operations they need.
//
//  - pending times: the presentation times (ms) of compressed frames handed to the decoder and
//    not yet matched with a decoded frame, kept ascending, each with the order it was fed in.
//    A decoder that carries each packet's time to its frame names the frame's own time; for
//    one that does not, the decoder hands frames out in presentation order, so the smallest
//    pending time belongs to the next frame that comes out (as long as every packet gives one).
//  - ready list: decoded frames waiting to be returned, in presentation order.
//  - recent list: copies of the most recently returned frames (at most kRecentCapacity), oldest
//    first, which let a short step back be served without touching the file or the decoder.
//
// Plain data owned by one stream object and guarded by its lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "mediakit/MediaInterfaces.h"
#include "platform/ComPtr.h"

// Start time of a packet; 0 when it cannot tell.
double PacketTime(IMediaPacket* packet);
// Duration of a packet; 0 when it cannot tell.
double PacketDuration(IMediaPacket* packet);
// SetTime and SetTimestamp to the same value.
void StampPacket(IMediaPacket* packet, double time);
// A copy with the same data, format and times that can be changed on its own; null when no
// copy can be made.
ComPtr<IMediaPacket> DuplicatePacket(IMediaPacket* packet);

class VideoFrames {
  public:
    // The recent list holds at most this many copies.
    static constexpr std::size_t kRecentCapacity = 4;

    // Inserts `time` before the first larger value (equal values keep their arrival order).
    void AddPendingTime(std::int64_t time);
    // The time of the next decoded frame, taken off the list; false when the list is empty.
    // `decodedTime` is the time the decoder gave the frame: when it is a pending time, it is the
    // frame's own, and the earlier pending times fed before it go too (their packets gave no
    // frame, and will give none: frames come out in presentation order). Otherwise the
    // smallest pending time is taken.
    bool TakeTimeFor(double decodedTime, std::int64_t& time);

    std::deque<ComPtr<IMediaPacket>>& Ready() noexcept { return ready_; }
    std::deque<ComPtr<IMediaPacket>>& Recent() noexcept { return recent_; }

    // Appends a copy of a returned frame to the recent list, dropping the oldest beyond the
    // capacity.
    void Remember(IMediaPacket* frame);
    // Puts every recent copy back at the front of the ready list, oldest first, with its
    // discontinuity mark cleared, and empties the recent list.
    void ReplayRecent();

    void ClearPending() noexcept { pending_.clear(); }
    void ClearFrames() noexcept {
        ready_.clear();
        recent_.clear();
    }
    void ClearAll() noexcept {
        ClearFrames();
        ClearPending();
    }
    bool HasPending() const noexcept { return !pending_.empty(); }

  private:
    struct PendingTime {
        std::int64_t time;
        std::uint64_t order;  // feeding order
    };
    std::vector<PendingTime> pending_;
    std::uint64_t nextOrder_ = 0;
    std::deque<ComPtr<IMediaPacket>> ready_;
    std::deque<ComPtr<IMediaPacket>> recent_;
};
