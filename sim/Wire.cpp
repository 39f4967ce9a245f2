#include "Wire.h"

#include <cstdio>

namespace torvexsim {

std::uint8_t nibbleChar(unsigned v) { return static_cast<std::uint8_t>(0x30 + (v & 0x0F)); }

std::optional<unsigned> nibbleValue(std::uint8_t c)
{
    if (c < 0x30 || c > 0x3F)
        return std::nullopt;
    return c - 0x30u;
}

std::uint8_t commandChecksum(const std::uint8_t *frame)
{
    unsigned sum = 12;
    for (std::size_t i = 0; i < 12; ++i)
        sum += frame[i];
    return static_cast<std::uint8_t>(sum);
}

std::uint16_t dataChecksum(const std::uint8_t *frame, std::size_t n)
{
    unsigned sum = static_cast<unsigned>(n + 5);
    for (std::size_t i = 0; i < 5 + n; ++i)
        sum += frame[i];
    return static_cast<std::uint16_t>(sum);
}

std::uint16_t replyChecksum(const std::uint8_t *reply, std::size_t L)
{
    unsigned sum = static_cast<unsigned>(L - 3);
    for (std::size_t i = 0; i + 3 < L; ++i)
        sum += reply[i];
    return static_cast<std::uint16_t>(sum);
}

Bytes makeReply(std::uint8_t code, const Bytes &payload)
{
    Bytes r;
    r.reserve(payload.size() + ShortReplySize);
    r.push_back(STX);
    r.push_back(code);
    for (std::uint8_t b : payload)
        r.push_back(b);
    r.push_back(0);
    r.push_back(0);
    r.push_back(CR);
    resealReply(r);
    return r;
}

void resealReply(Bytes &r)
{
    if (r.size() < ShortReplySize)
        return;
    const std::uint16_t sum = replyChecksum(r.data(), r.size());
    r[r.size() - 3] = static_cast<std::uint8_t>(sum >> 8);
    r[r.size() - 2] = static_cast<std::uint8_t>(sum);
}

std::string hexDump(const std::uint8_t *p, std::size_t n, std::size_t max)
{
    std::string s;
    char buf[4];
    for (std::size_t i = 0; i < n && i < max; ++i) {
        std::snprintf(buf, sizeof buf, "%02X", p[i]);
        if (i)
            s += ' ';
        s += buf;
    }
    if (n > max)
        s += " ...";
    return s;
}

}  // namespace torvexsim
