#pragma once
// A Torvex-II indicator on a pseudo-terminal. One worker thread does all the
// line I/O; the accessors and waits below may be called from any thread.

#include "BootLoader.h"
#include "FrameReceiver.h"
#include "LineNoise.h"
#include "Options.h"
#include "PtyLink.h"
#include "ReplySchedule.h"
#include "WireTiming.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace torvexsim {

struct FrameRecord {
    Frame::Kind kind = Frame::Kind::Command;
    char letter = 0;
    std::uint32_t value32 = 0;
    std::uint8_t seq = 0;
    std::size_t length = 0;
    bool checksumOk = false;  // and CR at the end, and well-formed fields
    Clock::time_point time;   // arrival of its last byte
};

struct Counters {
    std::uint64_t bytesReceived = 0;
    std::uint64_t wakeUps = 0;
    std::uint64_t frames = 0;
    std::uint64_t badFrames = 0;
    std::uint64_t replies = 0;
    std::uint64_t acks = 0;
    std::uint64_t naks = 0;
    std::uint64_t silenced = 0;
    std::uint64_t strayBytes = 0;
    std::uint64_t abandonedFrames = 0;
    std::uint64_t garbageHeaders = 0;
    std::uint64_t erases = 0;
    std::uint64_t resets = 0;
    std::uint64_t blocksWritten = 0;
    std::uint64_t retransmissions = 0;
    std::uint64_t noiseFromHost = 0;  // bytes corrupted or inserted
    std::uint64_t noiseToHost = 0;
    // Data frames written although noise was injected while they came in:
    // noise that a frame's checksum cannot see (errors that cancel out).
    std::uint64_t noisyBlocksWritten = 0;
};

class Simulator {
public:
    explicit Simulator(Options options);
    ~Simulator();
    Simulator(const Simulator &) = delete;
    Simulator &operator=(const Simulator &) = delete;

    // Opens the pty, publishes the link, starts the worker. Throws std::system_error.
    void start();
    // Prompt: wakes the worker, joins it, closes the pty, removes the link.
    void stop();

    const std::string &slavePath() const { return slavePath_; }
    const std::string &linkPath() const { return options_.linkPath; }

    State state() const;
    Counters counters() const;
    Bytes received() const;  // every byte from the host, in order, before noise
    std::vector<FrameRecord> frames() const;
    Bytes flash() const;       // the whole chip
    Bytes flashImage() const;  // 0 .. highest programmed byte
    std::size_t flashSize() const;

    using Predicate = std::function<bool(const Counters &, State)>;
    // False when the limit passed first or the simulator stopped.
    bool waitUntil(const Predicate &pred, std::chrono::milliseconds limit) const;
    bool waitForBytes(std::uint64_t n, std::chrono::milliseconds limit) const;
    bool waitForFrames(std::uint64_t n, std::chrono::milliseconds limit) const;
    bool waitForState(State s, std::chrono::milliseconds limit) const;

    // Saves flashImage() to Options::flashOutPath (if set); false on an I/O error.
    bool writeFlashOut() const;

private:
    void run();
    void receive();
    void handleEvent(RxEvent &e);
    bool reply(ShapedReply r, Clock::time_point notBefore);
    bool send(const ShapedReply &r, Clock::time_point due);
    Bytes withNoise(Bytes bytes);
    void endBackgroundErase();
    bool sleepUntil(Clock::time_point t);
    bool sleepOnTime(Clock::time_point t);
    bool writeAll(const Bytes &bytes);
    void log(const std::string &line) const;
    void hangUp();
    void sendScheduled();

    Options options_;
    PtyLink pty_;
    std::string slavePath_;
    int wake_[2] = {-1, -1};
    std::thread worker_;
    std::atomic<bool> stopping_{false};

    // Worker-only.
    FrameReceiver receiver_;
    LineNoise noiseIn_, noiseOut_;
    bool noiseSinceFrame_ = false;
    WireTiming wire_;
    ReplySchedule schedule_;
    Clock::duration lateness_{0};  // how late a wake-up comes, on average
    Clock::time_point started_;

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    BootLoader loader_;
    bool hungUp_ = false;
    bool stopped_ = false;
    Counters counters_;
    Bytes received_;
    std::vector<FrameRecord> frames_;
};

}  // namespace torvexsim
