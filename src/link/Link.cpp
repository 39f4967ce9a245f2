#include "link/Link.h"

#include <algorithm>

#include <QCoreApplication>
#include <QEventLoop>

#include "protocol/frames.h"

namespace {

constexpr qint64 NsPerMs = 1'000'000;
// Clean exchanges whose replies took at least their wire time before the
// line is taken to be paced; a single faster one shows it is not.
constexpr int PaceEvidenceNeeded = 3;
// A line still busy this many quiet times after it could have gone quiet
// is babbling or repeating itself.
constexpr int BabbleFactor = 4;
// Doubt about bytes seen before any exchange was made.
constexpr int NoExchangeDoubtMs = 300;

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
        if (LinkTag == LinkState::Wait)
            LinkTag = LinkState::Timeout;
        return;
    }
    if (kind != comEvReceive)
        return;
    const QByteArray block = com1.input();
    if (block.isEmpty())
        return;
    m_lastRxNs = nowNs();
    if (m_settling)
        return;
    if (LinkTag != LinkState::Wait) {
        // Nothing is owed between exchanges: the reply in RxBuffer stays as it
        // was, and these bytes are somebody else's.
        noteSuspect(m_lastLimitMs > 0 ? m_lastLimitMs : NoExchangeDoubtMs);
        return;
    }
    const int k = int(block.size());
    int count = RxCount;
    for (int i = 0; i < k && count < RxBufferSize; ++i)
        RxBuffer[size_t(count++)] = std::uint8_t(block[i]);
    // Bytes beyond the buffer's end are dropped; the count stops at its size.
    RxCount = std::int16_t(count);
    if (RxCount >= RxExpected) {
        m_completedNs = m_lastRxNs - m_sentNs;
        m_extraBytes = RxCount > RxExpected;
        LinkTag = LinkState::Ok;
    }
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
    }
}

void Link::beginUpdate()
{
    m_portFailed = false;
    m_portLost = false;
    m_unusable = false;
    m_pace = Pace::Unknown;
    m_paceEvidence = 0;
    forgetReplyTimes();
    m_opensAtBegin = com1.openCount();
    com1.holdDevice(true);
}

void Link::requestStop()
{
    m_stopRequested = true;
}

void Link::noteSuspect(int limitMs)
{
    m_suspect = true;
    ++m_events;
    m_doubtMs = qMax(m_doubtMs, limitMs);
}

bool Link::dropStaleInput()
{
    if (com1.discardInput() == 0)
        return false;
    // Somebody's reply: the last exchange's, shifted, or an older one.
    m_lastRxNs = nowNs();
    noteSuspect(m_lastLimitMs > 0 ? m_lastLimitMs : NoExchangeDoubtMs);
    return true;
}

bool Link::clearToSend()
{
    if (lineUnusable())
        return false;
    if (com1.isOpen())
        dropStaleInput();
    return settle();
}

void Link::frameGoingOut(int frameBytes, int replyBytes, int timeLimitMs)
{
    m_frameBytes = frameBytes;
    m_replyBytes = replyBytes;
    m_lastLimitMs = timeLimitMs;
    m_extraBytes = false;
    m_doubtful = false;
    m_tooSoon = false;
    m_completedNs = -1;
    m_sentNs = m_lastFrameNs = nowNs();
    m_eventsAtSend = m_events;
    m_sentAfterQuiet = m_quietReached;
    m_quietReached = false;
}

void Link::learnPace(qint64 elapsedNs, qint64 thresholdNs)
{
    if (m_pace != Pace::Unknown)
        return;
    if (elapsedNs < thresholdNs)
        m_pace = Pace::Unpaced;
    else if (++m_paceEvidence >= PaceEvidenceNeeded)
        m_pace = Pace::Paced;
}

CmdResult Link::judgeReply(CmdResult classified)
{
    if (classified != CmdResult::Ack && classified != CmdResult::Refused) {
        noteSuspect(m_lastLimitMs);
        return classified;
    }
    if (m_extraBytes) {
        noteSuspect(m_lastLimitMs);
        m_doubtful = true;
        return CmdResult::NoReply;
    }
    // Frame and reply cross a real line one after the other, ten bit times a
    // byte; a little is allowed for a fast clock and a peer that answers as
    // its last byte is still going out.
    const int baud = qMax(1, com1.baudRate());
    const qint64 wireNs = qint64(m_frameBytes + m_replyBytes) * 10 * 1'000'000'000LL / baud;
    const qint64 thresholdNs = wireNs * 9 / 10 - 600'000;
    if (m_pace == Pace::Paced && m_completedNs < thresholdNs) {
        if (m_sentAfterQuiet) {
            // Nothing was owed any more, so this reply is the frame's own:
            // the line only looked paced (a slow machine, an emulated port).
            m_pace = Pace::Unpaced;
            return classified;
        }
        noteSuspect(m_lastLimitMs);
        m_doubtful = true;
        m_tooSoon = true;
        return CmdResult::NoReply;
    }
    learnPace(m_completedNs, thresholdNs);
    m_replyTimesNs[m_replyCount++ % m_replyTimesNs.size()] = m_completedNs;
    m_allReplyTimesNs.push_back(m_completedNs);
    return classified;
}

int Link::recentReplyMs() const
{
    const qint64 longest = *std::max_element(m_replyTimesNs.begin(), m_replyTimesNs.end());
    return int((longest + NsPerMs - 1) / NsPerMs);
}

bool Link::recentReplyStandsOut() const
{
    if (m_allReplyTimesNs.size() < 2)
        return false;
    std::vector<qint64> times = m_allReplyTimesNs;
    const auto middle = times.begin() + qsizetype(times.size() - 1) / 2;
    std::nth_element(times.begin(), middle, times.end());
    const qint64 longest = *std::max_element(m_replyTimesNs.begin(), m_replyTimesNs.end());
    return longest > 2 * *middle + 10 * NsPerMs;
}

void Link::forgetReplyTimes()
{
    forgetRecentReplies();
    m_allReplyTimesNs.clear();
}

void Link::listen(int ms)
{
    ensureOpen();
    if (!com1.isOpen() || ms <= 0)
        return;
    QTimer over;
    over.setTimerType(Qt::PreciseTimer);
    over.setSingleShot(true);
    bool done = false;
    connect(&over, &QTimer::timeout, this, [&] { done = true; });
    over.start(ms);
    while (!done && com1.isOpen())
        yieldEvents();
}

bool Link::settle(int minimumQuietMs)
{
    if (lineUnusable())
        return false;
    if (!m_suspect && minimumQuietMs <= 0)
        return true;
    const qint64 doubtNs = m_suspect ? qint64(m_doubtMs) * NsPerMs : 0;
    const qint64 minimumNs = qint64(qMax(0, minimumQuietMs)) * NsPerMs;
    const qint64 notBefore = m_suspect ? m_lastFrameNs + 2 * doubtNs : 0;
    ensureOpen();
    if (!com1.isOpen())
        return false;

    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setSingleShot(true);
    connect(&tick, &QTimer::timeout, this, [] {});
    m_settling = true;
    const qint64 start = nowNs();
    const qint64 giveUpAt = qMax(start, notBefore) + BabbleFactor * qMax(doubtNs, minimumNs);
    bool quiet = false;
    for (;;) {
        // A port closed for a while may hand over what arrived meanwhile.
        if (com1.discardInput() > 0)
            m_lastRxNs = nowNs();
        // The doubt counts from the last frame or byte; a minimum quiet time
        // (a drain) from now.
        const qint64 doubtQuietAt = qMax(m_lastFrameNs, m_lastRxNs) + doubtNs;
        const qint64 drainedAt = qMax(start, m_lastRxNs) + minimumNs;
        const qint64 readyAt = qMax(qMax(doubtQuietAt, drainedAt), notBefore);
        const qint64 now = nowNs();
        if (now >= readyAt) {
            quiet = true;
            break;
        }
        if (now >= giveUpAt || m_portLost || !com1.isOpen())
            break;
        const qint64 wake = qMin(readyAt, giveUpAt);
        tick.start(int(qMax<qint64>(1, (wake - now + NsPerMs - 1) / NsPerMs)));
        yieldEvents();
    }
    m_settling = false;
    if (quiet) {
        m_quietReached = m_suspect;
        m_suspect = false;
        m_doubtMs = 0;
    } else {
        m_unusable = true;
    }
    return quiet;
}
