#pragma once
// Whether the line to the indicator can be trusted: the one rule behind "may
// this reply be taken", "may a frame go out" and "is this ending proven".
//
// Replies carry no sequence number, so a reply is only known to be a frame's
// own by counting: every frame is owed one reply, and a reply begins with STX
// (its other bytes never hold 0x02 in the replies this protocol uses). An STX
// that no frame is owed is an extra reply: a copy, a stray, or a late reply.
// It shows that some reply taken while it could have been on its way may
// have been another frame's. What that undoes depends on the frame:
//   - the erase, write mode, the end of write and the reset carry no sequence
//     number: nothing can prove them again, the update is unproven;
//   - a block is guarded by the next block's sequence number (the indicator
//     refuses a block out of order); the last block by nothing once the end of
//     write has gone out, and by being sent again (same number) before that;
//   - the resync and the identify change nothing in the indicator.
// A reply that did not come, came damaged or with an unknown code owes the
// line a quiet wait before the next frame; nothing else ever waits, so a
// healthy line, whatever its latency, sees the plain sequence of frames.
//
// Pure: no I/O and no clock of its own; every event carries its time.

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace trust {

using Nanos = std::int64_t;  // one monotonic clock, in nanoseconds
inline constexpr Nanos Ms = 1'000'000;

// Why the line was doubted: one per suspect event.
enum class Cause : std::uint8_t {
    NoReply,       // the time limit ran out: the reply may still come
    DamagedReply,  // a complete reply with a wrong checksum
    UnknownCode,   // a reply code neither ACK nor NAK
    ExtraReply,    // a reply that no frame was owed
    BabblingLine,  // the line did not go quiet
    EarlierRun,    // doubt an earlier update left on this link
};
inline constexpr int CauseCount = 6;

// What a frame is to the rule: which takes an extra reply can undo.
enum class Frame : std::uint8_t { None, Resync, Identify, Erase, WriteMode, Block, EndWrite, Reset };

// How the wait for a reply ended.
enum class Reply : std::uint8_t { Ack, Refused, Damaged, UnknownCode, None };

// Every number of the rule, each with its reason.
struct Policy {
    // A reply may come up to twice its time limit after its frame (an
    // indicator that overruns its limit): until then it is still owed.
    int owedFactor = 2;
    // A line still busy this many doubted limits after it could have gone
    // quiet is babbling, or repeating a reply for ever.
    int babbleFactor = 4;
    // Doubt left by an earlier update is waited out for this long, at least:
    // a reply it owed comes within its limit; the rule forgets which limit.
    Nanos earlierRunQuiet = 300 * Ms;
    // End watches. A reply taken in place of the frame's own lets the own one
    // land no later after the frame than this update's replies have taken,
    // and a line repeating a reply in place of a busy indicator repeats it
    // no further apart than the longest gap it has shown: a watch of the
    // longest reply time and an eighth, plus the scheduling jitter of a
    // shared machine, shows either. Never shorter than watchMin: a copy close
    // behind its original shows even on a line with no latency, and even when
    // a loaded machine holds it back by the 4 to 8 ms its round trips can take.
    Nanos watchMin = 20 * Ms;
    int watchEighths = 9;
    Nanos watchSlack = 4 * Ms;
    // A reply among the last few that took far longer than this update's
    // replies usually do (over twice their median and 20 ms) may have been a
    // stand-in for a busy indicator: a copy, or a line repeating a reply at
    // its own pace. Then a watch lasts a block's limit, within which the busy
    // indicator's own reply, or the next repeat, shows. Twice the median and
    // 20 ms stay above a healthy line's jitter at any steady latency, also on
    // a loaded machine.
    int recentReplies = 4;
    int standOutFactor = 2;
    Nanos standOutSlack = 20 * Ms;
    Nanos longWatch = 2000 * Ms;
};

// A suspect event.
struct Doubt {
    Cause cause = Cause::NoReply;
    Frame frame = Frame::None;  // the last frame sent when it showed
    Nanos at = 0;
};

// What the last events mean for the update.
enum class Verdict : std::uint8_t {
    Clean,     // nothing seen
    Doubted,   // the next frame waits until the line is quiet; no take undone
    Void,      // the last reply taken may not be its frame's: count it as none
    Unproven,  // a take that cannot be repeated may have been another frame's
};

// When the next frame may go out.
struct Gate {
    enum Kind : std::uint8_t { Go, Wait, Unusable } kind = Go;
    Nanos until = 0;  // Wait: check again then (or when a byte arrives)
};

class LineTrust {
public:
    explicit LineTrust(Policy policy = {}) : m_policy(policy) {}
    const Policy &policy() const { return m_policy; }

    // A new update: its takes, reply times and verdict start afresh. A line
    // left suspect by the last one stays suspect (EarlierRun).
    void beginUpdate(Nanos now);

    // Bytes seen while no exchange waits for its reply: found waiting before
    // a frame, arriving between exchanges or during a watch or a quiet wait.
    // Before the resync, bytes belong to the running firmware or to whatever
    // the line did before the boot loader took over, and are not judged.
    void bytesOutside(Nanos now, std::span<const std::uint8_t> bytes);
    void frameSent(Nanos now, Frame frame, int limitMs);
    // The wait ended: how the reply classified, and every byte that came
    // during the wait (the reply first, then whatever came with it).
    void replyEnded(Nanos now, Reply reply, std::span<const std::uint8_t> received, int replyLength);
    // The port is gone: nothing more can come, nothing more goes out.
    void portLost() { m_unusable = true; }

    Verdict verdict() const;
    // The reply taken by the last exchange still stands (not undone by an
    // extra reply that came with it or after it).
    bool lastTakeStands() const { return m_takeStands; }
    // The suspect event behind the verdict (the first that made it), if any.
    std::optional<Doubt> deciding() const { return m_deciding; }
    // Every suspect event of this update, in order.
    const std::vector<Doubt> &doubts() const { return m_doubts; }
    bool suspect() const { return m_suspect; }
    bool unusable() const { return m_unusable; }

    // May a frame go out now, after the last byte arrived at lastRxAt, on a
    // wait that began at waitingSince?
    Gate gate(Nanos now, Nanos lastRxAt, Nanos waitingSince) const;
    // The line stayed quiet as the gate asked: the doubt is waited out.
    void waitedOut();
    // The gate said the line cannot be used.
    void gaveUp(Nanos now);

    // End watches: until when the line must stay quiet.
    // Before the last block: from the frame of the reply taken last.
    Nanos watchBeforeLastBlock() const;
    // After the end of write: from the reply taken last, a whole recent reply
    // time, so that a line repeating a reply at its own pace shows a repeat.
    Nanos watchAfterEnd() const;
    // A watch ended with nothing seen: a long one clears the replies that
    // made it long (they were the indicator's own, only slow).
    void watchedQuietly();
    bool recentReplyStandsOut() const;
    // The last reply alone stands out against those before it.
    bool lastReplyStandsOut() const;

private:
    struct Take {
        Frame frame;
        Nanos frameAt;
        Nanos limit;
        bool followedByBlock = false;
        bool followedByEnd = false;
    };

    void suspect(Nanos now, Cause cause, Nanos doubtLimit);
    void extraReply(Nanos now);
    Nanos horizon() const;
    // Against the median of the first `of` reply times.
    bool standsOut(Nanos replyTime, std::size_t of) const;

    Policy m_policy;
    std::vector<Take> m_takes;         // acknowledged replies of this update
    std::vector<Nanos> m_replyTimes;   // of this update's replies from write mode on
    std::size_t m_recentFrom = 0;      // replies before this were watched clear
    std::vector<Doubt> m_doubts;
    std::optional<Doubt> m_deciding;
    Frame m_lastFrame = Frame::None;
    Nanos m_lastFrameAt = 0;
    Nanos m_lastLimit = 0;
    Nanos m_lastReplyAt = 0;       // the last well-formed reply (ACK or NAK)
    Nanos m_lastReplyFrameAt = 0;  // and its frame
    Nanos m_doubtLimit = 0;
    int m_owed = 0;           // reply starts still owed to the last frame
    bool m_judging = false;   // the resync has gone out in this update
    bool m_suspect = false;
    bool m_unusable = false;
    bool m_void = false;      // the last take is undone
    bool m_unproven = false;
    bool m_takeStands = false;
};

}  // namespace trust
