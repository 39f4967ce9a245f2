#include "link/Link.h"

#include <QCoreApplication>
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
    while (LinkTag == LinkState::Wait)
        yieldEvents();
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
