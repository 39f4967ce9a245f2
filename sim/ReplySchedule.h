#pragma once
// What the indicator sends besides a reply written in its frame's turn: the
// stray bytes, copies and repeats that fault rules add around and after a
// reply, replies held back by a latency, and an erase running in the
// background, whose wipe and reply come when it ends.

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
        enum class Kind {
            Copy,   // a copy or a repeat: out of turn, sent as it was
            Held,   // a reply in turn, its wire time already taken
            Late,   // a reply out of turn (a background erase's): takes the wire when sent
            Wipe,   // a background erase ends: nothing is sent
        };
        Kind kind = Kind::Copy;
        Clock::time_point at;  // when its last byte reaches the host
        ShapedReply reply;     // Copy: its bytes are reply.wire and nothing follows it
        Clock::duration every{0};  // a repeat's period; zero: once
    };

    explicit ReplySchedule(const WireTiming &wire) : wire_(wire) {}

    // The copy and repeats of a reply whose last byte reached the host at `due`.
    void followUp(const ShapedReply &r, Clock::time_point due);
    // A reply whose last byte reaches the host at `due`, in turn.
    void hold(const ShapedReply &r, Clock::time_point due);
    // A reply that starts at `from`, whatever else is on the wire.
    void late(const ShapedReply &r, Clock::time_point from);
    void wipe(Clock::time_point at);

    std::optional<Clock::time_point> next() const;
    // When the last reply held in turn is sent.
    std::optional<Clock::time_point> lastHeld() const;
    // What is due by `now`, in the order it was scheduled; a repeat stays, one period on.
    std::vector<Item> takeDue(Clock::time_point now);

private:
    void copy(Clock::time_point at, const Bytes &bytes, Clock::duration every);

    const WireTiming &wire_;
    std::vector<Item> items_;
};

}  // namespace torvexsim
