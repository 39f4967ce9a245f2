#include "link/Link.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <algorithm>

#include "protocol/frames.h"

namespace {

std::span<const std::uint8_t> bytesOf(const QByteArray &b)
{
    return {reinterpret_cast<const std::uint8_t *>(b.constData()), size_t(b.size())};
}

// A QTimer takes whole milliseconds in an int: longer waits wake and re-arm.
constexpr trust::Nanos LongestAlarmMs = 60'000;

// Wakes a blocking wait at a time on the link's clock.
class Alarm {
public:
    explicit Alarm(const Link &link) : m_link(link)
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setSingleShot(true);
        QObject::connect(&m_timer, &QTimer::timeout, [] {});
    }
    void at(trust::Nanos when)
    {
        const trust::Nanos left = when - m_link.now();
        m_timer.start(int(std::clamp<trust::Nanos>((left + trust::Ms - 1) / trust::Ms, 1, LongestAlarmMs)));
    }

private:
    const Link &m_link;
    QTimer m_timer;
};

}  // namespace

Link::Link(QObject *parent) : QObject(parent)
{
    // Coarse timers may fire early by up to 5 %: a 200 ms limit must be 200 ms.
    tmrCom.setTimerType(Qt::PreciseTimer);
    tmrCom.setSingleShot(true);
    tmrCom.setInterval(0);
    m_clock.start();
    connect(&com1, &CommPort::OnComm, this, &Link::com1_OnComm);
    connect(&tmrCom, &QTimer::timeout, this, &Link::tmrCom_Timer);
}

void Link::com1_OnComm(int kind)
{
    if (kind == comEventPortLost) {
        // Nothing can arrive any more: a wait for a reply ends now.
        m_portLost = true;
        m_trust.portLost();
        if (LinkTag == LinkState::Wait)
            LinkTag = LinkState::Timeout;
        return;
    }
    if (kind != comEvReceive)
        return;
    const QByteArray block = com1.input();
    if (block.isEmpty())
        return;
    m_lastRxAt = now();
    if (!m_inExchange && LinkTag != LinkState::Wait) {
        // Nothing is owed between exchanges: the reply in RxBuffer stays as it was.
        judgeOutside(block);
        return;
    }
    const int k = int(block.size());
    int count = RxCount;
    for (int i = 0; i < k && count < RxBufferSize; ++i)
        RxBuffer[size_t(count++)] = std::uint8_t(block[i]);
    // Bytes beyond the buffer's end are dropped; the count stops at its size.
    RxCount = std::int16_t(count);
    if (LinkTag == LinkState::Wait && RxCount >= RxExpected)
        LinkTag = LinkState::Ok;
}

void Link::tmrCom_Timer()
{
    LinkTag = LinkState::Timeout;
    tmrCom.stop();
}

void Link::startTimeLimit(int ms)
{
    tmrCom.stop();
    tmrCom.setInterval(ms);
    tmrCom.start();
}

void Link::yieldEvents()
{
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

void Link::waitWhileWaiting()
{
    // A stop waits for the reply to the frame already sent: left on the line,
    // it would be taken for a reply by whatever opens the port next.
    while (LinkTag == LinkState::Wait)
        yieldEvents();
}

bool Link::funCheckReply(int L) const
{
    return proto::checkReply(RxBuffer.data(), RxBufferSize, L);
}

void Link::ensureOpen()
{
    if (com1.isOpen() || m_portLost)
        return;
    if (!com1.open()) {
        m_portFailed = true;
        // Gone after this update had it open: lost. A device missing from
        // the start is merely unusable.
        m_portLost = com1.deviceGone() && com1.openCount() > m_opensAtBegin;
        if (m_portLost)
            m_trust.portLost();
    }
}

void Link::beginUpdate()
{
    m_portFailed = false;
    m_portLost = false;
    m_trust.beginUpdate(now());
    m_reported = 0;
    reportDoubts();
    m_opensAtBegin = com1.openCount();
    com1.holdDevice(true);
}

void Link::requestStop()
{
    m_stopRequested = true;
}

void Link::judgeOutside(const QByteArray &bytes)
{
    m_trust.bytesOutside(now(), bytesOf(bytes));
    reportDoubts();
}

void Link::reportDoubts()
{
    const auto &doubts = m_trust.doubts();
    for (; m_reported < doubts.size(); ++m_reported)
        if (m_observer)
            m_observer(doubts[m_reported]);
}

bool Link::settle()
{
    if (lineUnusable())
        return false;
    if (!m_trust.suspect())
        return true;
    ensureOpen();
    if (!com1.isOpen())
        return false;
    Alarm alarm(*this);
    const trust::Nanos since = now();
    for (;;) {
        // A port closed for a while may hand over what arrived meanwhile.
        const QByteArray waiting = com1.takeInput();
        if (!waiting.isEmpty()) {
            m_lastRxAt = now();
            judgeOutside(waiting);
        }
        const trust::Gate gate = m_trust.gate(now(), m_lastRxAt, since);
        if (gate.kind == trust::Gate::Go) {
            m_trust.waitedOut();
            return true;
        }
        if (gate.kind == trust::Gate::Unusable || m_portLost || !com1.isOpen()) {
            if (!m_portLost)
                m_trust.gaveUp(now());
            reportDoubts();
            return false;
        }
        alarm.at(gate.until);
        yieldEvents();
    }
}

void Link::watch(trust::Nanos until)
{
    ensureOpen();
    if (!com1.isOpen())
        return;
    Alarm alarm(*this);
    const std::size_t doubtsBefore = m_trust.doubts().size();
    while (now() < until && com1.isOpen() && m_trust.doubts().size() == doubtsBefore) {
        alarm.at(until);
        yieldEvents();
    }
    if (m_trust.doubts().size() == doubtsBefore)
        m_trust.watchedQuietly();
}

bool Link::prepareExchange(trust::Frame next, int timeLimitMs, bool reopen)
{
    const bool quietFirst = m_quietWaits && next != trust::Frame::Resync;
    for (;;) {
        // Once nothing more can be proven, only a failed update's courtesy
        // frames go out.
        if (quietFirst && m_trust.verdict() == trust::Verdict::Unproven)
            return false;
        if (quietFirst && !settle())
            return false;
        if (lineUnusable() || m_stopRequested)
            return false;
        startTimeLimit(timeLimitMs);
        LinkTag = LinkState::Wait;
        if (reopen)
            com1.close();
        ensureOpen();
        if (lineUnusable())
            return false;
        // Stale input: an earlier exchange's late reply, or somebody else's.
        const QByteArray stale = com1.takeInput();
        if (stale.isEmpty())
            return true;
        m_lastRxAt = now();
        judgeOutside(stale);
        if (!quietFirst || !m_trust.suspect())
            return true;
        reopen = false;
    }
}

void Link::frameGoingOut(trust::Frame frame, int timeLimitMs)
{
    m_trust.frameSent(now(), frame, timeLimitMs);
    m_inExchange = true;
}

CmdResult Link::endExchange(int L)
{
    const CmdResult classified = classifyReply(*this, L);
    m_inExchange = false;
    const trust::Reply reply = classified == CmdResult::Ack ? trust::Reply::Ack
                             : classified == CmdResult::Refused ? trust::Reply::Refused
                             : classified == CmdResult::BadChecksum ? trust::Reply::Damaged
                             : classified == CmdResult::Unexpected ? trust::Reply::UnknownCode
                                                                   : trust::Reply::None;
    m_trust.replyEnded(now(), reply,
                       std::span<const std::uint8_t>(RxBuffer.data(), size_t(qMax<int>(0, RxCount))), L);
    reportDoubts();
    if (classified == CmdResult::Ack && !m_trust.lastTakeStands())
        return CmdResult::NoReply;
    return classified;
}
