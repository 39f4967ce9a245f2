#include "bootloader/BootLoaderFuncs.h"

#include <QTime>
#include <QTimer>

#include "bootloader/UpdateView.h"
#include "link/Link.h"
#include "protocol/frames.h"

namespace {

void writeRepeated(Link &link, const QByteArray &piece, int times)
{
    for (int i = 0; i < times; ++i)
        link.com1.output(piece);
}

int clockSecond()
{
    return QTime::currentTime().msecsSinceStartOfDay() / 1000;
}

}  // namespace

QString replyChars(const Link &link, int from, int count)
{
    QString s;
    for (int i = from; i < from + count; ++i)
        s += QChar(link.RxBuffer[size_t(i)]);
    return s;
}

void funEnterBootLoader(Link &link)
{
    link.ensureOpen();
    writeRepeated(link, QByteArrayLiteral("BL\r"), 3);
    link.com1.close();
}

void funResyncLink(Link &link)
{
    // Back to back with the wake-up: doubt an earlier update left is waited
    // out before that, and doubt this resync raises before the identify.
    if (link.lineUnusable()) {
        link.com1.close();
        return;
    }
    link.ensureOpen();
    writeRepeated(link, QByteArrayLiteral("\r"), 20);
    funSendBlock(link, {}, 0, 0, ResyncTimeMs, trust::Frame::Resync);
    if (!link.lineUnusable()) {
        link.ensureOpen();
        writeRepeated(link, QByteArrayLiteral("\r"), 20);
    }
    link.com1.close();
}

QString chipNameFor(const QString &manufacturer, const QString &device)
{
    if (manufacturer == QLatin1String("0020")) {
        if (device == QLatin1String("2249"))
            return QStringLiteral("M29W160EB");
        if (device == QLatin1String("22CB"))
            return QStringLiteral("M29W320DB");
    }
    return QStringLiteral("???????");
}

bool funIdentify(Link &link, QString &chipName)
{
    const CmdResult r = funSendCommand(link, 'I', 0, 0, proto::IdentifyReplyLength,
                                       IdentifyTimeMs, true);
    if (r != CmdResult::Ack)
        return false;
    const auto hexAt = [&](int from) {
        return QString::fromLatin1(proto::funNibblesToHex(replyChars(link, from, 4).toLatin1()));
    };
    chipName = chipNameFor(hexAt(2), hexAt(6));
    return true;
}

CmdResult funEraseFlash(Link &link, UpdateView &statusBox)
{
    if (funSendCommand(link, 'E', proto::GuardValue, 0, proto::ShortReplyLength, EraseTimeMs, false)
        != CmdResult::Ack)
        return CmdResult::NoReply;  // nothing went out

    // The wait blocks until an event arrives; this timer makes one arrive
    // just after each change of the clock's second, so the dots keep time.
    QTimer secondTick;
    secondTick.setTimerType(Qt::PreciseTimer);
    secondTick.setSingleShot(true);
    const auto armTick = [&] {
        secondTick.start(1001 - QTime::currentTime().msecsSinceStartOfDay() % 1000);
    };
    QObject::connect(&secondTick, &QTimer::timeout, armTick);
    armTick();

    int kept = clockSecond();
    bool stopNoted = false;
    // A stop still waits for the erase to end: its reply, left on the line,
    // would be taken for the reply to the next run's erase.
    while (link.LinkTag == LinkState::Wait) {
        if (clockSecond() != kept) {
            appendStatus(statusBox, QStringLiteral("."));
            kept = clockSecond();
        }
        if (link.stopRequested() && !stopNoted) {
            stopNoted = true;
            statusBox.stopDeferred(UpdateStage::Erase);
        }
        Link::yieldEvents();
    }
    secondTick.stop();
    link.com1.close();
    return finishExchange(link, proto::ShortReplyLength);
}
