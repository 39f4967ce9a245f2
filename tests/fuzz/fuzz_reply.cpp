// Reply checking and classification, and the frame builders whose checksums
// the indicator verifies. Each result is compared with what the simulator's
// independent implementation of the wire format makes of the same bytes.

#include "FuzzCheck.h"
#include "Wire.h"
#include "link/Exchange.h"
#include "link/Link.h"
#include "protocol/frames.h"

#include <QByteArray>
#include <QCoreApplication>

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace {

Link &theLink()
{
    // A Link owns a serial port object, which needs the application object.
    static int argc = 1;
    static char name[] = "fuzz_reply";
    static char *argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    static Link link;
    return link;
}

const std::uint8_t *bytesOf(const QByteArray &b)
{
    return reinterpret_cast<const std::uint8_t *>(b.constData());
}

// checkReply on a heap block of exactly bufSize bytes, so that a read past
// its end is caught by AddressSanitizer.
bool checkedReply(const std::uint8_t *bytes, int bufSize, int L)
{
    std::vector<std::uint8_t> exact(bytes, bytes + bufSize);
    exact.shrink_to_fit();
    const bool ok = proto::checkReply(exact.data(), bufSize, L);
    if (L < 3 || L > bufSize + 1 || bufSize < 1) {
        FUZZ_CHECK(!ok);
        return ok;
    }
    std::uint64_t sum = std::uint64_t(L - 3);
    for (int i = 0; i + 3 < L; ++i)
        sum += exact[std::size_t(i)];
    const unsigned carried = (unsigned(exact[std::size_t(L - 3)]) << 8) | exact[std::size_t(L - 2)];
    FUZZ_CHECK(ok == (sum <= 0xFFFF && torvexsim::replyChecksum(exact.data(), std::size_t(L)) == carried));
    return ok;
}

void checkReplies(FuzzedDataProvider &in)
{
    const int L = in.ConsumeBool() ? in.ConsumeIntegralInRange<int>(-2, RxBufferSize + 3)
                                   : in.ConsumeIntegral<int>();
    const auto tag = static_cast<LinkState>(in.ConsumeIntegralInRange<int>(0, 3));
    const std::vector<std::uint8_t> bytes = in.ConsumeBytes<std::uint8_t>(RxBufferSize + 8);

    checkedReply(bytes.data(), int(bytes.size()), L);

    Link &link = theLink();
    link.RxBuffer.fill(0);
    std::copy_n(bytes.begin(), std::min<std::size_t>(bytes.size(), RxBufferSize), link.RxBuffer.begin());
    link.LinkTag = tag;
    const CmdResult r = classifyReply(link, L);
    CmdResult expected = CmdResult::NoReply;
    if (tag == LinkState::Ok) {
        if (!checkedReply(link.RxBuffer.data(), RxBufferSize, L))
            expected = CmdResult::BadChecksum;
        else if (link.RxBuffer[1] == proto::ACK)
            expected = CmdResult::Ack;
        else if (link.RxBuffer[1] == proto::NAK)
            expected = CmdResult::Refused;
        else
            expected = CmdResult::Unexpected;
    }
    FUZZ_CHECK(r == expected);

    // Whatever the indicator seals, the host accepts, unless its sum needs more
    // than the two bytes that carry it.
    if (bytes.size() >= 1) {
        const std::size_t payload = std::min<std::size_t>(bytes.size() - 1, RxBufferSize - 5);
        const torvexsim::Bytes reply = torvexsim::makeReply(
            bytes[0], torvexsim::Bytes(bytes.begin() + 1, bytes.begin() + 1 + long(payload)));
        std::uint64_t sum = reply.size() - 3;
        for (std::size_t i = 0; i + 3 < reply.size(); ++i)
            sum += reply[i];
        FUZZ_CHECK(checkedReply(reply.data(), int(reply.size()), int(reply.size())) == (sum <= 0xFFFF));
    }
}

void checkBuilders(FuzzedDataProvider &in)
{
    const auto v32 = in.ConsumeIntegral<std::int32_t>();
    const int v16 = in.ConsumeBool() ? in.ConsumeIntegralInRange<int>(-2, 32770) : in.ConsumeIntegral<int>();
    const char letter = in.ConsumeIntegral<char>();
    const auto seq = in.ConsumeIntegral<std::uint8_t>();

    char hex[9];
    std::snprintf(hex, sizeof hex, "%08X", unsigned(std::uint32_t(v32)));
    FUZZ_CHECK(proto::funNibblesToHex(proto::funLongToNibbles(v32)) == QByteArray(hex));

    const auto frame = proto::commandFrame(letter, v32, v16);
    FUZZ_CHECK(frame.has_value() == (v16 >= 0 && v16 <= 32767));
    if (frame) {
        FUZZ_CHECK(frame->size() == proto::CommandFrameSize);
        const std::uint8_t *f = bytesOf(*frame);
        FUZZ_CHECK(f[0] == proto::STX && f[1] == std::uint8_t(letter) && f[14] == proto::CR);
        FUZZ_CHECK(((f[10] << 8) | f[11]) == v16);
        const auto hi = torvexsim::nibbleValue(f[12]);
        const auto lo = torvexsim::nibbleValue(f[13]);
        FUZZ_CHECK(hi && lo && ((*hi << 4) | *lo) == torvexsim::commandChecksum(f));
    }

    const std::vector<std::uint8_t> data = in.ConsumeBytes<std::uint8_t>(proto::MaxBlockLength + 4);
    const int n = int(data.size());
    const auto header = proto::blockHeader(n, seq);
    FUZZ_CHECK(header && header->size() == proto::BlockHeaderSize);
    const QByteArray trailer = proto::blockTrailer(*header, data.data(), n);
    FUZZ_CHECK(trailer.size() == proto::BlockTrailerSize);
    torvexsim::Bytes wire(bytesOf(*header), bytesOf(*header) + header->size());
    wire.insert(wire.end(), data.begin(), data.end());
    wire.insert(wire.end(), bytesOf(trailer), bytesOf(trailer) + trailer.size());
    const unsigned carried = (unsigned(wire[std::size_t(5 + n)]) << 8) | wire[std::size_t(6 + n)];
    FUZZ_CHECK(carried == torvexsim::dataChecksum(wire.data(), std::size_t(n)));
    FUZZ_CHECK(wire.back() == proto::CR);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzedDataProvider in(data, size);
    const std::vector<std::uint8_t> rest = in.ConsumeBytes<std::uint8_t>(32);
    FuzzedDataProvider builders(rest.data(), rest.size());
    checkBuilders(builders);
    checkReplies(in);

    // Any bytes, the 0x3A..0xFF ones moved up by 7 with 8-bit wrap-round.
    const QByteArray text(reinterpret_cast<const char *>(data), qsizetype(size));
    const QByteArray hexed = proto::funNibblesToHex(text);
    FUZZ_CHECK(hexed.size() == text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const auto b = std::uint8_t(text[i]);
        FUZZ_CHECK(std::uint8_t(hexed[i]) == (b > 0x39 ? std::uint8_t(b + 7) : b));
    }
    return 0;
}
