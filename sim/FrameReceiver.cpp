#include "FrameReceiver.h"

namespace torvexsim {

FrameReceiver::FrameReceiver(std::chrono::milliseconds gap) : gap_(gap) {}

void FrameReceiver::reset()
{
    buf_.clear();
    stray_.clear();
}

void FrameReceiver::flushStray(std::vector<RxEvent> &out)
{
    if (stray_.empty())
        return;
    RxEvent e;
    e.type = RxEvent::Type::Stray;
    e.bytes.swap(stray_);
    out.push_back(std::move(e));
}

void FrameReceiver::expire(Clock::time_point now, std::vector<RxEvent> &out)
{
    if (now - last_ <= gap_)
        return;
    if (!buf_.empty()) {
        RxEvent e;
        e.type = RxEvent::Type::Abandoned;
        e.bytes.swap(buf_);
        out.push_back(std::move(e));
    }
    flushStray(out);
}

std::optional<Clock::time_point> FrameReceiver::deadline() const
{
    if (buf_.empty() && stray_.empty())
        return std::nullopt;
    return last_ + gap_ + std::chrono::milliseconds(1);
}

void FrameReceiver::push(std::uint8_t b, Clock::time_point t, std::vector<RxEvent> &out)
{
    expire(t, out);
    last_ = t;
    if (buf_.empty()) {
        if (b == STX) {
            flushStray(out);
            buf_.push_back(b);
        } else {
            stray_.push_back(b);
        }
        return;
    }
    buf_.push_back(b);

    std::size_t want = CommandFrameSize;
    if (buf_[1] == DataLetter) {
        if (buf_.size() < 4)
            return;
        const std::size_t n = (std::size_t(buf_[2]) << 8) | buf_[3];
        if (n > MaxDataLength) {
            // Not a header the host could have sent: drop the STX and look
            // for the next one among the bytes that followed it.
            RxEvent e;
            e.type = RxEvent::Type::Garbage;
            e.bytes = buf_;
            out.push_back(std::move(e));
            const Bytes rest(buf_.begin() + 1, buf_.end());
            buf_.clear();
            for (std::uint8_t r : rest)
                push(r, t, out);
            return;
        }
        want = DataFrameOverhead + n;
    }
    if (buf_.size() < want)
        return;

    RxEvent e;
    e.type = RxEvent::Type::Frame;
    e.frame = decode();
    e.frame.end = t;
    buf_.clear();
    out.push_back(std::move(e));
}

Frame FrameReceiver::decode() const
{
    Frame f;
    f.raw = buf_;
    f.letter = buf_[1];
    if (f.letter == DataLetter) {
        f.kind = Frame::Kind::Data;
        f.length = (std::size_t(buf_[2]) << 8) | buf_[3];
        f.seq = buf_[4];
        f.data.assign(buf_.begin() + 5, buf_.begin() + 5 + long(f.length));
        const std::uint16_t sum = std::uint16_t((buf_[5 + f.length] << 8) | buf_[6 + f.length]);
        f.checksumOk = sum == dataChecksum(buf_.data(), f.length);
        f.endOk = buf_[7 + f.length] == CR;
        return f;
    }
    f.kind = Frame::Kind::Command;
    for (std::size_t i = 2; i < 10; ++i) {
        const auto v = nibbleValue(buf_[i]);
        f.fieldsOk = f.fieldsOk && v.has_value();
        f.value32 = (f.value32 << 4) | (v ? *v : 0u);
    }
    f.value16 = std::uint16_t((buf_[10] << 8) | buf_[11]);
    const auto hi = nibbleValue(buf_[12]);
    const auto lo = nibbleValue(buf_[13]);
    f.checksumOk = hi && lo && ((*hi << 4) | *lo) == commandChecksum(buf_.data());
    f.endOk = buf_[14] == CR;
    return f;
}

}  // namespace torvexsim
