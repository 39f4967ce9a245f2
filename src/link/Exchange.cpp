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

namespace {

CmdResult refuseToSend(Link &link)
{
    link.LinkTag = LinkState::Timeout;
    return CmdResult::NoReply;
}

trust::Frame commandFrame(char letter)
{
    switch (letter) {
    case 'I': return trust::Frame::Identify;
    case 'E': return trust::Frame::Erase;
    case 'W': return trust::Frame::WriteMode;
    case 'S': return trust::Frame::Reset;
    default: return trust::Frame::None;
    }
}

}  // namespace

CmdResult finishExchange(Link &link, int L)
{
    return link.endExchange(L);
}

CmdResult funSendCommand(Link &link, char letter, std::int32_t v32, int v16,
                         std::int16_t expected, int timeLimitMs, bool wait)
{
    const auto frame = proto::commandFrame(letter, v32, v16);
    if (!frame || expected < 3 || expected > RxBufferSize || link.stopRequested())
        return CmdResult::NoReply;
    if (!link.prepareExchange(commandFrame(letter), timeLimitMs, true))
        return refuseToSend(link);
    link.RxCount = 0;
    link.RxExpected = expected;
    link.frameGoingOut(commandFrame(letter), timeLimitMs);
    link.com1.output(*frame);
    if (!wait)
        return CmdResult::Ack;
    link.waitWhileWaiting();
    link.com1.close();
    return link.endExchange(expected);
}

CmdResult funSendBlock(Link &link, std::span<const std::uint8_t> data, int n,
                       std::uint8_t sequence, int timeLimitMs, trust::Frame role)
{
    if (n < 0 || size_t(n) > data.size() || link.stopRequested())
        return CmdResult::NoReply;
    const auto header = proto::blockHeader(n, sequence);
    if (!header)
        return CmdResult::NoReply;
    if (role == trust::Frame::None)
        role = n == 0 ? trust::Frame::EndWrite : trust::Frame::Block;
    if (!link.prepareExchange(role, timeLimitMs, false))
        return refuseToSend(link);
    link.RxCount = 0;
    link.RxExpected = proto::ShortReplyLength;
    const QByteArray trailer = proto::blockTrailer(*header, data.data(), n);
    link.frameGoingOut(role, timeLimitMs);
    link.com1.output(*header);
    link.com1.output(QByteArray::fromRawData(reinterpret_cast<const char *>(data.data()), n));
    link.com1.output(trailer);
    link.waitWhileWaiting();
    return link.endExchange(proto::ShortReplyLength);
}
