#include "Trace.h"

#include "Console.h"

void traceBytes(CommPort::Direction direction, const QByteArray &bytes, qint64 ns)
{
    if (bytes.isEmpty())
        return;
    writeErr(QStringLiteral("%1 %2 %3\n")
                 .arg(double(ns) / 1e9, 11, 'f', 6)
                 .arg(direction == CommPort::Direction::Out ? QLatin1Char('>') : QLatin1Char('<'))
                 .arg(QString::fromLatin1(bytes.toHex(' '))));
}
