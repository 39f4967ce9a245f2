// The simulator's frame receiver, and its boot loader behind it. The input is
// a stream of records: a timing byte, then (unless the timing byte is an
// operation of its own) one received byte. Every frame the receiver yields is
// checked against the host's frame builders, and every reply the boot loader
// sends must pass the host's reply check.

#include "BootLoader.h"
#include "FrameReceiver.h"
#include "FuzzCheck.h"
#include "protocol/frames.h"

#include <QByteArray>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <vector>

using namespace torvexsim;
using std::chrono::microseconds;
using std::chrono::milliseconds;

namespace {

constexpr milliseconds Gap{100};

enum Timing : std::uint8_t {
    // 0..127: the byte follows after that many tens of microseconds;
    // 128..249: after (t - 128) * 2 ms, which straddles the gap.
    ExpireAtGap = 250,      // time passes by exactly the gap
    ExpireAfterGap = 251,   // one millisecond more
    ExpireAtDeadline = 252, // at the receiver's own deadline
    Reset = 253,
    StepBack = 254,         // the byte is stamped 50 ms before the last one
    // 255: the byte follows at the same instant.
};

QByteArray qbytes(const Bytes &b, std::size_t from = 0, std::size_t n = std::size_t(-1))
{
    n = std::min(n, b.size() - std::min(from, b.size()));
    return QByteArray(reinterpret_cast<const char *>(b.data() + from), qsizetype(n));
}

std::size_t declaredLength(const Bytes &b)
{
    return (std::size_t(b[2]) << 8) | b[3];
}

void checkFrame(const Frame &f)
{
    const Bytes &raw = f.raw;
    FUZZ_CHECK(raw.size() >= 2 && raw[0] == STX && f.letter == raw[1]);
    FUZZ_CHECK(f.endOk == (raw.back() == CR));
    if (f.kind == Frame::Kind::Command) {
        FUZZ_CHECK(raw[1] != DataLetter && raw.size() == CommandFrameSize);
        FUZZ_CHECK(f.value16 == ((raw[10] << 8) | raw[11]));
        // The checksum the host would have put on these twelve bytes.
        const QByteArray sealed = proto::funAddChecksum(qbytes(raw, 0, 12));
        FUZZ_CHECK(f.checksumOk == (sealed.mid(12) == qbytes(raw, 12, 2)));
        if (f.ok() && f.value16 <= 32767)
            FUZZ_CHECK(proto::commandFrame(char(f.letter), std::int32_t(f.value32), f.value16)
                       == qbytes(raw));
        return;
    }
    FUZZ_CHECK(raw[1] == DataLetter && f.length == declaredLength(raw));
    FUZZ_CHECK(f.length <= MaxDataLength && raw.size() == DataFrameOverhead + f.length);
    FUZZ_CHECK(f.data.size() == f.length && f.seq == raw[4]);
    FUZZ_CHECK(qbytes(f.data) == qbytes(raw, 5, f.length));
    const auto header = proto::blockHeader(int(f.length), f.seq);
    FUZZ_CHECK(header && *header == qbytes(raw, 0, 5));
    const QByteArray trailer = proto::blockTrailer(*header, f.data.data(), int(f.length));
    FUZZ_CHECK(f.checksumOk == (trailer.left(2) == qbytes(raw, 5 + f.length, 2)));
}

struct Run {
    FrameReceiver rx{Gap};
    BootLoader loader;
    Bytes pushed;             // every byte pushed so far
    std::size_t consumed = 0; // how many of them the events have accounted for
    Clock::time_point lastByte;

    explicit Run(const Options &o) : loader(o) {}

    // The events, read in order, give back the pushed bytes in order.
    void take(std::vector<RxEvent> &events, Clock::time_point now, bool byteArrived)
    {
        for (RxEvent &e : events) {
            const Bytes &b = e.type == RxEvent::Type::Frame ? e.frame.raw : e.bytes;
            FUZZ_CHECK(!b.empty() && consumed + b.size() <= pushed.size());
            FUZZ_CHECK(std::equal(b.begin(), b.end(), pushed.begin() + long(consumed)));
            switch (e.type) {
            case RxEvent::Type::Frame:
                checkFrame(e.frame);
                FUZZ_CHECK(e.frame.end == now && byteArrived);
                handle(e.frame);
                consumed += b.size();
                break;
            case RxEvent::Type::Stray:
                FUZZ_CHECK(std::find(b.begin(), b.end(), STX) == b.end());
                consumed += b.size();
                break;
            case RxEvent::Type::Abandoned:
                FUZZ_CHECK(b[0] == STX && now - lastByte > Gap);
                if (b.size() >= 4 && b[1] == DataLetter)
                    FUZZ_CHECK(b.size() < DataFrameOverhead + declaredLength(b));
                else
                    FUZZ_CHECK(b.size() < CommandFrameSize);
                consumed += b.size();
                break;
            case RxEvent::Type::Garbage:
                // Only the STX is spent; the bytes behind it are looked at again.
                FUZZ_CHECK(b.size() == 4 && b[0] == STX && b[1] == DataLetter);
                FUZZ_CHECK(declaredLength(b) > MaxDataLength);
                consumed += 1;
                break;
            }
        }
        events.clear();
    }

    void handle(const Frame &f)
    {
        const Outcome o = loader.handle(f);
        if (o.reply.empty())
            return;
        const Bytes &r = o.reply;
        FUZZ_CHECK(r.size() >= ShortReplySize && r.front() == STX && r.back() == CR);
        FUZZ_CHECK(proto::checkReply(r.data(), int(r.size()), int(r.size())));
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    Options options;
    options.flashSize = 4096;  // small: the boot loader is built anew for each input
    options.startInBootLoader = true;
    options.eraseTime = milliseconds(0);
    Run run(options);
    std::vector<RxEvent> events;
    Clock::time_point now{std::chrono::hours(1)};
    run.lastByte = now;

    std::size_t i = 0;
    while (i < size) {
        const std::uint8_t timing = data[i++];
        if (timing == ExpireAtGap || timing == ExpireAfterGap || timing == ExpireAtDeadline) {
            const auto deadline = run.rx.deadline();
            if (timing == ExpireAtDeadline) {
                if (!deadline)
                    continue;
                now = std::max(now, *deadline);
            } else {
                now += timing == ExpireAtGap ? Gap : Gap + milliseconds(1);
            }
            run.rx.expire(now, events);
            run.take(events, now, false);
            if (deadline && now >= *deadline) {
                FUZZ_CHECK(!run.rx.inFrame() && !run.rx.deadline());
                FUZZ_CHECK(run.consumed == run.pushed.size());
            }
            continue;
        }
        if (timing == Reset) {
            run.rx.reset();
            run.consumed = run.pushed.size();  // what was pending is forgotten
            FUZZ_CHECK(!run.rx.inFrame() && !run.rx.deadline());
            continue;
        }
        if (i >= size)
            break;
        if (timing < 128)
            now += microseconds(10 * timing);
        else if (timing < ExpireAtGap)
            now += milliseconds(2 * (timing - 128));
        else if (timing == StepBack)
            now -= milliseconds(50);
        const std::uint8_t b = data[i++];
        // As in the simulator: the running firmware only listens for "BL\r".
        if (run.loader.state() == State::Firmware) {
            run.loader.wakeByte(b);
            continue;
        }
        run.pushed.push_back(b);
        run.rx.push(b, now, events);
        run.take(events, now, true);
        run.lastByte = now;
        FUZZ_CHECK(run.rx.deadline().has_value() == (run.consumed < run.pushed.size()));
    }

    // Long after the last byte, everything has been reported.
    now += std::chrono::seconds(1);
    run.rx.expire(now, events);
    run.take(events, now, false);
    FUZZ_CHECK(run.consumed == run.pushed.size());
    FUZZ_CHECK(!run.rx.inFrame() && !run.rx.deadline());
    return 0;
}
