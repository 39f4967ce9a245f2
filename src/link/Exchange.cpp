#include "link/Exchange.h"

#include "link/Link.h"
#include "protocol/frames.h"

CmdResult classifyReply(const Link &link, int L)
{
    if (link.LinkTag != LinkState::Ok)
        return CmdResult::NoReply;
    if (!link.funCheckReply(L))
        return CmdResult::BadChecksum;
    switch (link.RxBuffer[1]) {
    case proto::ACK: return CmdResult::Ack;
    case proto::NAK: return CmdResult::Refused;
    default: return CmdResult::Unexpected;
    }
}

CmdResult funSendCommand(Link &link, char letter, std::int32_t v32, int v16,
                         std::int16_t expected, int timeLimitMs, bool wait)
{
    const auto frame = proto::commandFrame(letter, v32, v16);
    if (!frame || expected < 3 || expected > RxBufferSize || link.stopRequested())
        return CmdResult::NoReply;

    link.startTimeLimit(timeLimitMs);
    link.LinkTag = LinkState::Wait;
    link.com1.close();
    link.ensureOpen();
    link.com1.discardInput();  // stale bytes of an earlier exchange
    link.RxCount = 0;
    link.RxExpected = expected;
    link.com1.output(*frame);
    if (!wait)
        return CmdResult::Ack;
    link.waitWhileWaiting();
    link.com1.close();
    if (link.LinkTag != LinkState::Ok)
        link.expectLateReply(timeLimitMs);
    return classifyReply(link, expected);
}

CmdResult funSendBlock(Link &link, std::span<const std::uint8_t> data, int n,
                       std::uint8_t sequence, int timeLimitMs)
{
    if (n < 0 || size_t(n) > data.size() || link.stopRequested())
        return CmdResult::NoReply;
    const auto header = proto::blockHeader(n, sequence);
    if (!header)
        return CmdResult::NoReply;

    link.startTimeLimit(timeLimitMs);
    link.LinkTag = LinkState::Wait;
    link.ensureOpen();
    link.com1.discardInput();
    link.RxCount = 0;
    link.RxExpected = proto::ShortReplyLength;
    link.com1.output(*header);
    link.com1.output(QByteArray::fromRawData(reinterpret_cast<const char *>(data.data()), n));
    link.com1.output(proto::blockTrailer(*header, data.data(), n));
    link.waitWhileWaiting();
    if (link.LinkTag != LinkState::Ok)
        link.expectLateReply(timeLimitMs);
    return classifyReply(link, proto::ShortReplyLength);
}
