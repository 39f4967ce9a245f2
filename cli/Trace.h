#pragma once
// torvex-flash --trace: every byte on the line, one time-stamped line per
// write or read, on standard error.

#include <QByteArray>

#include "link/CommPort.h"
#include "link/LineTrust.h"

void traceBytes(CommPort::Direction direction, const QByteArray &bytes, qint64 ns);
// A suspect event, with its cause, on the link's clock.
void traceDoubt(const trust::Doubt &doubt);
