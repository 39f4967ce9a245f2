#include "Trace.h"

#include "Console.h"
#include "ReportWords.h"

void traceBytes(CommPort::Direction direction, const QByteArray &bytes, qint64 ns)
{
    if (bytes.isEmpty())
        return;
    writeErr(QStringLiteral("%1 %2 %3\n")
                 .arg(double(ns) / 1e9, 11, 'f', 6)
                 .arg(direction == CommPort::Direction::Out ? QLatin1Char('>') : QLatin1Char('<'))
                 .arg(QString::fromLatin1(bytes.toHex(' '))));
}

void traceDoubt(const trust::Doubt &doubt)
{
    const DoubtMeaning &d = doubtMeaning(doubt.cause);
    writeErr(QStringLiteral("%1 ! doubt %2 during %3: %4\n")
                 .arg(double(doubt.at) / 1e9, 11, 'f', 6)
                 .arg(d.cause, stageWord(stageOf(doubt.frame)), QLatin1String(d.meaning)));
}
