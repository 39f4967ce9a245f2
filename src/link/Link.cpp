#include "link/Link.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>

#include "protocol/frames.h"

Link::Link(QObject *parent) : QObject(parent)
{
    // Coarse timers may fire early by up to 5 %: a 200 ms limit must be 200 ms.
    tmrCom.setTimerType(Qt::PreciseTimer);
    tmrCom.setSingleShot(true);
    tmrCom.setInterval(0);
    connect(&com1, &CommPort::OnComm, this, &Link::com1_OnComm);
    connect(&tmrCom, &QTimer::timeout, this, &Link::tmrCom_Timer);
}

void Link::com1_OnComm(int kind)
{
    if (kind != comEvReceive)
        return;
    const QByteArray block = com1.input();
    if (m_settling) {
        m_lineActive = m_lineActive || !block.isEmpty();
        return;
    }
    const int k = int(block.size());
    int count = RxCount;
    for (int i = 0; i < k && count < RxBufferSize; ++i)
        RxBuffer[size_t(count++)] = std::uint8_t(block[i]);
    // Bytes beyond the buffer's end are dropped; the count stops at its size.
    RxCount = std::int16_t(count);
    if (RxCount >= RxExpected)
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

void Link::expectLateReply(int timeLimitMs)
{
    m_lateWindowMs = qMax(m_lateWindowMs, timeLimitMs);
}

void Link::settle(int minimumQuietMs)
{
    const int quietMs = qMax(m_lateWindowMs, minimumQuietMs);
    m_lateWindowMs = 0;
    if (quietMs <= 0 || m_stopRequested)
        return;
    ensureOpen();
    if (!com1.isOpen())
        return;

    QTimer quiet;
    quiet.setTimerType(Qt::PreciseTimer);
    quiet.setSingleShot(true);
    QElapsedTimer spent;
    spent.start();
    bool quietReached = false;
    connect(&quiet, &QTimer::timeout, this, [&] { quietReached = true; });
    m_settling = true;
    m_lineActive = false;
    com1.discardInput();
    quiet.start(quietMs);
    while (!quietReached && !m_stopRequested && com1.isOpen()) {
        yieldEvents();
        if (m_lineActive && spent.elapsed() < 4 * qint64(quietMs)) {
            m_lineActive = false;
            quiet.start(quietMs);
        }
    }
    m_settling = false;
    com1.discardInput();
}

bool Link::funCheckReply(int L) const
{
    return proto::checkReply(RxBuffer.data(), RxBufferSize, L);
}

void Link::ensureOpen()
{
    if (!com1.isOpen() && !com1.open())
        m_portFailed = true;
}
