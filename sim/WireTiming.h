#pragma once
// The line's clock: 8N1 at a baud rate, ten bit times per byte, each
// direction one byte after another. Unpaced (baud 0) a byte takes no time and
// nothing waits for the wire.

#include "FrameReceiver.h"

#include <algorithm>
#include <cstddef>

namespace torvexsim {

class WireTiming {
public:
    explicit WireTiming(unsigned baud);

    bool paced() const { return byteTime_.count() != 0; }
    // How long n bytes take on the wire.
    Clock::duration bytes(std::size_t n) const { return byteTime_ * long(n); }

    // A byte from the host, read at `now`, lands one byte time after the one before it.
    Clock::time_point received(Clock::time_point now);
    // When the indicator holds the whole frame whose last byte lands at `end`
    // (read at `now`): unpaced, when it was read.
    Clock::time_point frameIn(Clock::time_point end, Clock::time_point now) const
    {
        return paced() ? std::max(end, now) : now;
    }
    // A reply of n bytes that may start at `from`, in turn after the replies
    // before it: when its last byte reaches the host.
    Clock::time_point reply(Clock::time_point from, std::size_t n);
    // n bytes written at `now` out of turn (a copy, a late reply): later
    // replies start after them.
    void sentAside(Clock::time_point now, std::size_t n);

private:
    Clock::duration byteTime_{0};
    Clock::time_point rxFree_{}, txFree_{};
};

}  // namespace torvexsim
