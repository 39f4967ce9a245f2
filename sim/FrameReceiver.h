#pragma once
// Cuts the boot loader's input into frames. A frame starts at STX; whatever
// lies between frames (the host's CRs, line noise) is reported as stray runs.
// Like the indicator's receive timeout, a gap inside a frame drops it.

#include "Wire.h"

#include <chrono>
#include <optional>
#include <vector>

namespace torvexsim {

using Clock = std::chrono::steady_clock;

struct Frame {
    enum class Kind { Command, Data };
    Kind kind = Kind::Command;
    std::uint8_t letter = 0;    // command letter; 'A' for data frames
    std::uint32_t value32 = 0;  // command frames
    std::uint16_t value16 = 0;  // command frames
    std::uint8_t seq = 0;       // data frames
    std::size_t length = 0;     // data bytes of a data frame
    Bytes data;
    Bytes raw;
    bool fieldsOk = true;  // the 32-bit value was all nibble characters
    bool checksumOk = false;
    bool endOk = false;    // last byte is CR
    Clock::time_point end;  // when the last byte arrived

    bool ok() const { return fieldsOk && checksumOk && endOk; }
};

struct RxEvent {
    enum class Type {
        Frame,      // a complete frame (good or bad)
        Stray,      // a run of bytes outside any frame
        Abandoned,  // a partial frame dropped after the receive timeout
        Garbage,    // a data header declaring an impossible length
    };
    Type type = Type::Frame;
    Frame frame;
    Bytes bytes;
};

class FrameReceiver {
public:
    explicit FrameReceiver(std::chrono::milliseconds gap = std::chrono::milliseconds(100));

    // One received byte and the time it arrived; completed events go to out.
    void push(std::uint8_t b, Clock::time_point t, std::vector<RxEvent> &out);
    // Closes what has waited longer than the gap by now.
    void expire(Clock::time_point now, std::vector<RxEvent> &out);
    // When expire() next has something to do.
    std::optional<Clock::time_point> deadline() const;
    // Forgets everything pending without reporting it.
    void reset();
    bool inFrame() const { return !buf_.empty(); }

private:
    void flushStray(std::vector<RxEvent> &out);
    Frame decode() const;

    std::chrono::milliseconds gap_;
    Bytes buf_;
    Bytes stray_;
    Clock::time_point last_{};
};

}  // namespace torvexsim
