#pragma once
// The indicator's behaviour, frame by frame: the running firmware waiting for
// "BL\r", the boot loader's commands, write mode and the fault rules. No I/O
// and no clock: what to send and how long to take is returned to the caller.

#include "FrameReceiver.h"
#include "NorFlash.h"
#include "Options.h"

#include <chrono>

namespace torvexsim {

enum class State { Firmware, BootLoader, Writing, HungUp };
const char *stateName(State s);

struct Outcome {
    Bytes reply;  // empty: nothing is sent
    std::chrono::microseconds busy{0};  // before the reply (erase, programming, delay fault)
    bool silenced = false;        // a fault rule swallowed the frame
    bool erased = false;
    bool reset = false;           // "S" accepted: back to the firmware
    bool blockWritten = false;    // a new block programmed
    bool retransmission = false;  // the last block programmed again
    bool writeModeEnded = false;
    bool hangUpAfter = false;     // the block that ends the line was accepted
    bool background = false;      // the work runs on behind later frames: the reply is held, not waited for
    bool wipeWhenDone = false;    // the flash is wiped when the erase time ends (wipe())
    Bytes strayBefore, strayAfter;  // line garbage around the reply
    int copyAfterMs = -1;           // the reply sent again this much later
    int repeatEveryMs = 0;          // the reply repeated for ever at this period
    std::string note;             // for the log
};

class BootLoader {
public:
    explicit BootLoader(const Options &options);

    State state() const { return state_; }
    // Running firmware: true once "BL\r" has arrived and the boot loader runs.
    bool wakeByte(std::uint8_t b);
    Outcome handle(const Frame &f);
    // The end of an erase that ran in the background.
    void wipe() { flash_.erase(); }

    const NorFlash &flash() const { return flash_; }
    Bytes identifyReply() const;

private:
    struct Rule {
        FaultRule rule;
        int hits = 0;
    };
    Outcome handleCommand(const Frame &f);
    Outcome handleData(const Frame &f);
    Outcome ack() const { Outcome o; o.reply = makeReply(ACK); return o; }
    Outcome nak(std::string why) const;
    std::optional<FaultTarget> targetOf(const Frame &f) const;
    std::vector<const FaultRule *> activeRules(const FaultTarget &t);

    Options opt_;
    NorFlash flash_;
    std::vector<Rule> rules_;
    State state_;
    std::uint32_t wakeWindow_ = 0;

    // Write mode.
    std::size_t writePtr_ = 0;
    std::uint8_t expectedSeq_ = 0;
    bool haveLast_ = false;
    std::uint8_t lastSeq_ = 0;
    std::size_t lastOffset_ = 0;
    std::size_t lastLength_ = 0;
    unsigned accepted_ = 0;  // distinct blocks of this write
    bool hungUp_ = false;
};

}  // namespace torvexsim
