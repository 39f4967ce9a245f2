#include "Simulator.h"

#include <utility>

#ifdef __linux__
#include <sys/prctl.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace torvexsim {

namespace {

std::string describe(const Frame &f)
{
    char buf[96];
    if (f.kind == Frame::Kind::Command)
        std::snprintf(buf, sizeof buf, "command %c %08X %04X", f.letter >= 0x20 && f.letter < 0x7F ? f.letter : '?',
                      f.value32, f.value16);
    else if (f.length == 0)
        std::snprintf(buf, sizeof buf, "empty data frame seq %u", f.seq);
    else
        std::snprintf(buf, sizeof buf, "data frame seq %u, %zu bytes", f.seq, f.length);
    std::string s = buf;
    if (!f.endOk)
        s += " [no CR]";
    else if (!f.fieldsOk)
        s += " [bad value characters]";
    else if (!f.checksumOk)
        s += " [bad checksum]";
    return s;
}

timespec toTimespec(Clock::duration d)
{
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(d).count();
    return timespec{time_t(ns / 1'000'000'000), long(ns % 1'000'000'000)};
}

}  // namespace

Simulator::Simulator(Options options)
    : options_(std::move(options)),
      receiver_(options_.receiveTimeout),
      noiseIn_(options_.noiseFromHost),
      noiseOut_(options_.noiseToHost),
      wire_(options_.baud),
      schedule_(wire_),
      loader_(options_)
{
}

Simulator::~Simulator() { stop(); }

void Simulator::start()
{
    if (worker_.joinable())
        return;
    pty_.open();
    slavePath_ = pty_.slavePath();
    if (!options_.linkPath.empty())
        pty_.publish(options_.linkPath);
    if (::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0)
        throw std::system_error(errno, std::generic_category(), "pipe2");
    started_ = Clock::now();
    stopping_ = false;
    {
        std::lock_guard lock(mutex_);
        stopped_ = false;
    }
    log(std::string("serving ") + slavePath_ + ", " + stateName(state()));
    worker_ = std::thread(&Simulator::run, this);
}

void Simulator::stop()
{
    if (worker_.joinable()) {
        stopping_ = true;
        const char x = 0;
        [[maybe_unused]] const auto n = ::write(wake_[1], &x, 1);
        worker_.join();
    }
    pty_.close();
    for (int &fd : wake_) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
    {
        std::lock_guard lock(mutex_);
        stopped_ = true;
    }
    changed_.notify_all();
}

void Simulator::run()
{
#ifdef __linux__
    // The default 50 us of timer slack per sleep would show up as updater
    // overhead in paced runs; a real line has none.
    ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
#endif
    while (!stopping_) {
        pollfd fds[2] = {{wake_[0], POLLIN, 0}, {pty_.master(), POLLIN, 0}};
        const nfds_t nfds = pty_.master() >= 0 ? 2 : 1;
        timespec ts{};
        const timespec *timeout = nullptr;
        auto d = receiver_.deadline();
        if (const auto s = schedule_.next(); s && (!d || *s < *d))
            d = s;
        if (d) {
            ts = toTimespec(std::max(Clock::duration::zero(), *d - Clock::now()));
            timeout = &ts;
        }
        if (::ppoll(fds, nfds, timeout, nullptr) < 0 && errno != EINTR) {
            log(std::string("poll failed: ") + std::strerror(errno));
            break;
        }
        if (stopping_)
            break;
        if (nfds == 2 && fds[1].revents)
            receive();
        sendScheduled();
        std::vector<RxEvent> events;
        receiver_.expire(Clock::now(), events);
        for (RxEvent &e : events)
            handleEvent(e);
    }
}

void Simulator::receive()
{
    std::uint8_t buf[4096];
    const ssize_t n = ::read(pty_.master(), buf, sizeof buf);
    if (n <= 0) {
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            // Cannot happen while our own slave handle is open; do not spin.
            log(std::string("read failed: ") + std::strerror(errno));
            sleepUntil(Clock::now() + std::chrono::milliseconds(50));
        }
        return;
    }
    const auto now = Clock::now();
    std::uint64_t noise = 0;
    const Bytes in = noiseIn_.active() ? noiseIn_.apply(buf, std::size_t(n), noise) : Bytes(buf, buf + n);
    {
        std::lock_guard lock(mutex_);
        received_.insert(received_.end(), buf, buf + n);
        counters_.bytesReceived += std::uint64_t(n);
        counters_.noiseFromHost += noise;
    }
    noiseSinceFrame_ = noiseSinceFrame_ || noise > 0;
    changed_.notify_all();

    std::size_t ignored = 0;
    for (std::uint8_t b : in) {
        const Clock::time_point t = wire_.received(now);
        if (hungUp_ || stopping_)
            return;
        if (loader_.state() == State::Firmware) {
            bool woke;
            {
                std::lock_guard lock(mutex_);
                woke = loader_.wakeByte(b);
                counters_.wakeUps += woke;
            }
            if (!woke) {
                ++ignored;
                continue;
            }
            if (ignored > 3)
                log("host> " + std::to_string(ignored - 2) + " bytes ignored by the running firmware");
            ignored = 0;
            log("host> BL: boot loader entered");
            changed_.notify_all();
            continue;
        }
        std::vector<RxEvent> events;
        receiver_.push(b, t, events);
        for (RxEvent &e : events)
            handleEvent(e);
    }
    if (ignored)
        log("host> " + std::to_string(ignored) + " bytes ignored by the running firmware");
}

void Simulator::handleEvent(RxEvent &e)
{
    if (e.type != RxEvent::Type::Frame) {
        {
            std::lock_guard lock(mutex_);
            if (e.type == RxEvent::Type::Stray)
                counters_.strayBytes += e.bytes.size();
            else if (e.type == RxEvent::Type::Abandoned)
                ++counters_.abandonedFrames;
            else
                ++counters_.garbageHeaders;
        }
        changed_.notify_all();
        const char *what = e.type == RxEvent::Type::Stray ? " stray bytes: "
            : e.type == RxEvent::Type::Abandoned         ? "-byte partial frame dropped (receive timeout): "
                                                         : "-byte data header with an impossible length dropped: ";
        log("host> " + std::to_string(e.bytes.size()) + what + hexDump(e.bytes));
        return;
    }

    const Frame &f = e.frame;
    const bool noisy = std::exchange(noiseSinceFrame_, false);
    Outcome o;
    {
        std::lock_guard lock(mutex_);
        frames_.push_back({f.kind, char(f.letter), f.value32, f.seq, f.length, f.ok(), f.end});
        ++counters_.frames;
        o = loader_.handle(f);
        counters_.badFrames += !f.ok();
        counters_.silenced += o.silenced;
        counters_.erases += o.erased;
        counters_.resets += o.reset;
        counters_.blocksWritten += o.blockWritten;
        counters_.noisyBlocksWritten += o.blockWritten && noisy;
        counters_.retransmissions += o.retransmission;
        if (!o.reply.empty()) {
            ++counters_.replies;
            counters_.acks += o.reply.size() > 1 && o.reply[1] == ACK;
            counters_.naks += o.reply.size() > 1 && o.reply[1] == NAK;
        }
    }
    if (o.reset)
        receiver_.reset();
    log("host> " + describe(f) + (o.note.empty() ? "" : ": " + o.note));
    // Before the reply, so that whoever saw the ACK finds the file complete.
    if (o.writeModeEnded && !writeFlashOut())
        log("cannot write " + options_.flashOutPath);
    changed_.notify_all();

    const auto in = wire_.frameIn(f.end, Clock::now());
    if (o.background) {
        // Later frames are handled at once; the erase's end comes in its own time.
        if (o.wipeWhenDone)
            schedule_.wipe(in + options_.eraseTime);
        if (!o.reply.empty()) {
            ShapedReply r = shapeReply(o);
            r.wire = withNoise(std::move(r.wire));
            schedule_.late(r, in + o.busy + options_.latency);
        }
        return;
    }
    // One sleep per frame: until its last byte is through the wire, the
    // indicator has done its work and (without a latency) the reply's last
    // byte is back.
    const auto ready = in + o.busy;
    if (o.reply.empty()) {
        if (!sleepUntil(ready))
            return;
        log("sim> nothing sent");
    } else if (!reply(shapeReply(o), ready)) {
        return;
    }
    if (o.hangUpAfter)
        hangUp();
}

bool Simulator::reply(ShapedReply r, Clock::time_point notBefore)
{
    r.wire = withNoise(std::move(r.wire));
    const auto due = wire_.reply(notBefore + options_.latency, r.wire.size());
    if (!options_.latency.count())
        return sleepOnTime(due) && send(r, due);
    // Busy until the work is done, as without a latency; then the reply is
    // held while the next frames are handled, and replies keep their order.
    if (!sleepUntil(notBefore))
        return false;
    schedule_.hold(r, due);
    return true;
}

bool Simulator::send(const ShapedReply &r, Clock::time_point due)
{
    const Bytes &bytes = r.wire;
    const char *code = bytes.size() < 2 ? "" : bytes[1] == ACK ? " (ACK)" : bytes[1] == NAK ? " (NAK)" : "";
    log("sim> " + hexDump(bytes, 32) + code);
    if (!writeAll(bytes))
        return false;
    schedule_.followUp(r, due);
    return true;
}

Bytes Simulator::withNoise(Bytes bytes)
{
    if (!noiseOut_.active())
        return bytes;
    std::uint64_t noise = 0;
    bytes = noiseOut_.apply(bytes.data(), bytes.size(), noise);
    std::lock_guard lock(mutex_);
    counters_.noiseToHost += noise;
    return bytes;
}

bool Simulator::sleepOnTime(Clock::time_point t)
{
    // A sleeping thread wakes some tens of microseconds late; on a wire the
    // byte is simply there. Waking early by the lateness seen so far puts the
    // reply on time on average, never more than that early.
    if (!sleepUntil(t - lateness_))
        return false;
    const auto late = Clock::now() - (t - lateness_);
    lateness_ = std::clamp<Clock::duration>(lateness_ + (late - lateness_) / 8, Clock::duration::zero(),
                                            std::chrono::microseconds(500));
    return true;
}

bool Simulator::sleepUntil(Clock::time_point t)
{
    for (;;) {
        if (stopping_)
            return false;
        // Copies and repeats keep their time while the indicator is busy.
        sendScheduled();
        const auto now = Clock::now();
        if (now >= t)
            return true;
        auto until = t;
        if (const auto s = schedule_.next(); s && *s < until)
            until = std::max(*s, now);
        pollfd pfd{wake_[0], POLLIN, 0};
        const timespec ts = toTimespec(until - now);
        ::ppoll(&pfd, 1, &ts, nullptr);
    }
}

void Simulator::sendScheduled()
{
    using Kind = ReplySchedule::Item::Kind;
    const auto now = Clock::now();
    for (const ReplySchedule::Item &s : schedule_.takeDue(now)) {
        if (s.kind == Kind::Wipe) {
            endBackgroundErase();
            continue;
        }
        if (hungUp_)
            continue;
        if (s.kind != Kind::Held)
            wire_.sentAside(now, s.reply.wire.size());
        if (s.kind != Kind::Copy) {
            send(s.reply, s.at);
            continue;
        }
        log("sim> " + hexDump(s.reply.wire, 32) + " (again)");
        writeAll(s.reply.wire);
    }
}

void Simulator::endBackgroundErase()
{
    {
        std::lock_guard lock(mutex_);
        loader_.wipe();
        ++counters_.erases;
    }
    log("flash erased: the erase in the background has ended");
    changed_.notify_all();
}

bool Simulator::writeAll(const Bytes &bytes)
{
    std::size_t done = 0;
    while (done < bytes.size() && pty_.master() >= 0) {
        const ssize_t n = ::write(pty_.master(), bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += std::size_t(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            break;
        // The host is not reading and the pty buffer is full: give it a second.
        pollfd fds[2] = {{wake_[0], POLLIN, 0}, {pty_.master(), POLLOUT, 0}};
        if (::poll(fds, 2, 1000) <= 0 || stopping_ || !(fds[1].revents & POLLOUT))
            break;
    }
    if (done < bytes.size())
        log("sim> " + std::to_string(bytes.size() - done) + " bytes could not be sent");
    return done == bytes.size();
}

void Simulator::hangUp()
{
    // Closing the master discards what the host has not read, and the ACK of
    // the last block did make it through the real line: wait for it to be
    // read. The pty moves bytes to the slave asynchronously, so an empty
    // queue only counts once it has been seen full, or after a while.
    if (const auto held = schedule_.lastHeld(); held && !sleepUntil(*held))
        return;
    const auto start = Clock::now();
    for (bool seen = false;;) {
        const int pending = pty_.pendingToHost();
        seen = seen || pending > 0;
        if (pending < 0 || (pending == 0 && (seen || Clock::now() - start > std::chrono::milliseconds(300)))
            || Clock::now() - start > std::chrono::seconds(2))
            break;
        if (!sleepUntil(Clock::now() + std::chrono::milliseconds(2)))
            break;
    }
    {
        std::lock_guard lock(mutex_);
        hungUp_ = true;
    }
    pty_.hangUp();
    receiver_.reset();
    log("hung up: pty closed");
    changed_.notify_all();
}

void Simulator::log(const std::string &line) const
{
    if (!options_.log)
        return;
    char stamp[32];
    const double s = std::chrono::duration<double>(Clock::now() - started_).count();
    std::snprintf(stamp, sizeof stamp, "[%9.3f] ", s);
    options_.log(stamp + line);
}

bool Simulator::writeFlashOut() const
{
    if (options_.flashOutPath.empty())
        return true;
    const Bytes image = flashImage();
    const std::string tmp = options_.flashOutPath + ".part";
    std::FILE *f = std::fopen(tmp.c_str(), "wb");
    if (!f)
        return false;
    const bool ok = std::fwrite(image.data(), 1, image.size(), f) == image.size();
    if (std::fclose(f) != 0 || !ok || std::rename(tmp.c_str(), options_.flashOutPath.c_str()) != 0) {
        std::remove(tmp.c_str());
        return false;
    }
    return true;
}

}  // namespace torvexsim
