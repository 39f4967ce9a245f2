#pragma once
// What the indicator sends besides a frame's own reply in its turn: the stray
// bytes, copies and repeats that fault rules add around and after a reply.

#include "BootLoader.h"
#include "WireTiming.h"

#include <optional>
#include <vector>

namespace torvexsim {

// A reply as the fault rules shape it.
struct ShapedReply {
    Bytes wire;   // the reply with any stray bytes around it
    Bytes plain;  // the reply alone: what a copy or a repeat sends
    int copyAfterMs = -1;
    int repeatEveryMs = 0;
};
ShapedReply shapeReply(const Outcome &o);

class ReplySchedule {
public:
    struct Item {
        Clock::time_point at;  // when its last byte reaches the host
        Bytes bytes;
        Clock::duration every{0};  // a repeat's period; zero: sent once
    };

    explicit ReplySchedule(const WireTiming &wire) : wire_(wire) {}

    // The copy and repeats of a reply whose last byte reached the host at `due`.
    void followUp(const ShapedReply &r, Clock::time_point due);
    std::optional<Clock::time_point> next() const;
    // What is due by `now`, in the order it was scheduled; a repeat stays, one period on.
    std::vector<Item> takeDue(Clock::time_point now);

private:
    void add(Clock::time_point at, const Bytes &bytes, Clock::duration every);

    const WireTiming &wire_;
    std::vector<Item> items_;
};

}  // namespace torvexsim
