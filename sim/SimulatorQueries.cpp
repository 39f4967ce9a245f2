// What the tests and the command line may ask of a running simulator, from
// any thread: everything here is read under the simulator's mutex.

#include "Simulator.h"

namespace torvexsim {

State Simulator::state() const
{
    std::lock_guard lock(mutex_);
    return hungUp_ ? State::HungUp : loader_.state();
}

Counters Simulator::counters() const
{
    std::lock_guard lock(mutex_);
    return counters_;
}

Bytes Simulator::received() const
{
    std::lock_guard lock(mutex_);
    return received_;
}

std::vector<FrameRecord> Simulator::frames() const
{
    std::lock_guard lock(mutex_);
    return frames_;
}

Bytes Simulator::flash() const
{
    std::lock_guard lock(mutex_);
    return loader_.flash().bytes();
}

Bytes Simulator::flashImage() const
{
    std::lock_guard lock(mutex_);
    return loader_.flash().image();
}

std::size_t Simulator::flashSize() const
{
    std::lock_guard lock(mutex_);
    return loader_.flash().size();
}

bool Simulator::waitUntil(const Predicate &pred, std::chrono::milliseconds limit) const
{
    std::unique_lock lock(mutex_);
    auto holds = [&] { return pred(counters_, hungUp_ ? State::HungUp : loader_.state()); };
    changed_.wait_for(lock, limit, [&] { return stopped_ || holds(); });
    return holds();
}

bool Simulator::waitForBytes(std::uint64_t n, std::chrono::milliseconds limit) const
{
    return waitUntil([n](const Counters &c, State) { return c.bytesReceived >= n; }, limit);
}

bool Simulator::waitForFrames(std::uint64_t n, std::chrono::milliseconds limit) const
{
    return waitUntil([n](const Counters &c, State) { return c.frames >= n; }, limit);
}

bool Simulator::waitForState(State s, std::chrono::milliseconds limit) const
{
    return waitUntil([s](const Counters &, State now) { return now == s; }, limit);
}

}  // namespace torvexsim
