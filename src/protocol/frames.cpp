#include "protocol/frames.h"

namespace proto {

namespace {

char nibbleChar(unsigned v)
{
    return static_cast<char>(0x30 + (v & 0x0F));
}

std::uint8_t byteAt(const QByteArray &bytes, qsizetype i)
{
    return static_cast<std::uint8_t>(bytes[i]);
}

}  // namespace

QByteArray funLongToNibbles(std::int32_t value)
{
    // Unsigned so that shifting a negative value (INT32_MIN included) is defined.
    const auto u = static_cast<std::uint32_t>(value);
    QByteArray out;
    out.reserve(8);
    for (int k = 3; k >= 0; --k) {
        const unsigned b = (u >> (8 * k)) & 0xFFu;
        out.append(nibbleChar(b >> 4));
        out.append(nibbleChar(b));
    }
    return out;
}

std::optional<QByteArray> funIntToBytes(int value)
{
    if (value < 0 || value > 32767)
        return std::nullopt;
    QByteArray out;
    out.append(static_cast<char>(value / 256));
    out.append(static_cast<char>(value % 256));
    return out;
}

QByteArray funAddChecksum(const QByteArray &text)
{
    unsigned sum = 0;
    for (qsizetype i = 0; i < text.size(); ++i)
        sum += byteAt(text, i);
    const unsigned c = (sum + static_cast<unsigned>(text.size())) & 0xFFu;
    QByteArray out = text;
    out.append(nibbleChar(c / 16));
    out.append(nibbleChar(c % 16));
    return out;
}

std::uint16_t funDataChecksum(const QByteArray &header, const std::uint8_t *data, int n)
{
    // 32 bits: a full block of 0xFF bytes sums far past 8 bits.
    std::uint32_t sum = 0;
    for (qsizetype i = 0; i < header.size(); ++i)
        sum += byteAt(header, i);
    if (data)
        for (int i = 0; i < n; ++i)
            sum += data[i];
    sum += static_cast<std::uint32_t>(n) + BlockHeaderSize;
    return static_cast<std::uint16_t>(sum & 0xFFFFu);
}

bool checkReply(const std::uint8_t *buf, int bufSize, int L)
{
    // Bytes 0..L-2 are read; the closing byte at L-1 is not, so L may reach bufSize+1.
    if (!buf || L < 3 || bufSize < 1 || L > bufSize + 1)
        return false;
    std::int64_t a = L - 3;
    for (int i = 0; i <= L - 4; ++i)
        a += buf[i];
    const std::int64_t e = std::int64_t(buf[L - 3]) * 256 + buf[L - 2];
    // Compared unreduced: a sum past 65535 can never match the two bytes.
    return a == e;
}

QByteArray funNibblesToHex(const QByteArray &text)
{
    QByteArray out = text;
    for (qsizetype i = 0; i < out.size(); ++i) {
        const std::uint8_t b = byteAt(out, i);
        // Unsigned 8-bit arithmetic: 0xFA..0xFF wrap round to 0x01..0x06.
        if (b > 0x39)
            out[i] = static_cast<char>(static_cast<std::uint8_t>(b + 7));
    }
    return out;
}

std::optional<QByteArray> commandFrame(char letter, std::int32_t v32, int v16)
{
    const auto v16Bytes = funIntToBytes(v16);
    if (!v16Bytes)
        return std::nullopt;
    QByteArray body;
    body.reserve(CommandFrameSize);
    body.append(static_cast<char>(STX));
    body.append(letter);
    body.append(funLongToNibbles(v32));
    body.append(*v16Bytes);
    QByteArray frame = funAddChecksum(body);
    frame.append(static_cast<char>(CR));
    return frame;
}

std::optional<QByteArray> blockHeader(int n, std::uint8_t sequence)
{
    const auto length = funIntToBytes(n);
    if (!length)
        return std::nullopt;
    QByteArray header;
    header.reserve(BlockHeaderSize);
    header.append(static_cast<char>(STX));
    header.append('A');
    header.append(*length);
    header.append(static_cast<char>(sequence));
    return header;
}

QByteArray blockTrailer(const QByteArray &header, const std::uint8_t *data, int n)
{
    const std::uint16_t f = funDataChecksum(header, data, n);
    QByteArray trailer;
    trailer.append(static_cast<char>((f & 0xFF00u) >> 8));
    trailer.append(static_cast<char>(f & 0xFFu));
    trailer.append(static_cast<char>(CR));
    return trailer;
}

}  // namespace proto
