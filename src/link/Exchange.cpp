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

// Steps 1 to 4 of both exchanges, with the line's trust kept: a suspect line
// is waited out before anything goes out, and bytes found waiting make it
// suspect (and are waited out too). False: nothing may be sent.
bool prepareExchange(Link &link, int timeLimitMs, bool reopen)
{
    if (!link.clearToSend() || link.stopRequested())
        return false;
    link.startTimeLimit(timeLimitMs);
    link.LinkTag = LinkState::Wait;
    if (reopen)
        link.com1.close();
    link.ensureOpen();
    if (link.dropStaleInput()) {
        if (!link.settle())
            return false;
        link.startTimeLimit(timeLimitMs);
    }
    return !link.lineUnusable();
}

CmdResult refuseToSend(Link &link)
{
    link.LinkTag = LinkState::Timeout;
    return CmdResult::NoReply;
}

}  // namespace

CmdResult finishExchange(Link &link, int L)
{
    return link.judgeReply(classifyReply(link, L));
}

CmdResult funSendCommand(Link &link, char letter, std::int32_t v32, int v16,
                         std::int16_t expected, int timeLimitMs, bool wait)
{
    const auto frame = proto::commandFrame(letter, v32, v16);
    if (!frame || expected < 3 || expected > RxBufferSize || link.stopRequested())
        return CmdResult::NoReply;
    for (int attempt = 1;; ++attempt) {
        if (!prepareExchange(link, timeLimitMs, true))
            return refuseToSend(link);
        link.RxCount = 0;
        link.RxExpected = expected;
        link.frameGoingOut(int(frame->size()), expected, timeLimitMs);
        link.com1.output(*frame);
        if (!wait)
            return CmdResult::Ack;
        link.waitWhileWaiting();
        link.com1.close();
        const CmdResult r = finishExchange(link, expected);
        // A command is not retried, so a reply merely too fast for the wire
        // (a line, or a clock, that only looked paced) would end the update.
        // Asked again once the line is quiet, the answer is unambiguous.
        if (attempt == 1 && link.lastReplyTooSoon() && !link.stopRequested())
            continue;
        return r;
    }
}

CmdResult funSendBlock(Link &link, std::span<const std::uint8_t> data, int n,
                       std::uint8_t sequence, int timeLimitMs)
{
    if (n < 0 || size_t(n) > data.size() || link.stopRequested())
        return CmdResult::NoReply;
    const auto header = proto::blockHeader(n, sequence);
    if (!header)
        return CmdResult::NoReply;
    if (!prepareExchange(link, timeLimitMs, false))
        return refuseToSend(link);
    link.RxCount = 0;
    link.RxExpected = proto::ShortReplyLength;
    const QByteArray trailer = proto::blockTrailer(*header, data.data(), n);
    link.frameGoingOut(int(header->size() + n + trailer.size()), proto::ShortReplyLength, timeLimitMs);
    link.com1.output(*header);
    link.com1.output(QByteArray::fromRawData(reinterpret_cast<const char *>(data.data()), n));
    link.com1.output(trailer);
    link.waitWhileWaiting();
    return finishExchange(link, proto::ShortReplyLength);
}
