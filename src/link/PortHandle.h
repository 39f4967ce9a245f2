#pragma once
// Calls on the native handle of an open port that Qt does not offer.

#include <QString>
#include <QtGlobal>

#include "link/PortNaming.h"

// Bytes the driver holds that Qt has not read yet.
qint64 bytesInDriver(qintptr handle);

// A process told twice to stop ends at once, from its signal handler. What
// it still owes the device it holds open is kept here so that the handler
// can settle it: the driver flags as they were before the open, and Qt's
// lock file. releaseHeldPortNow() is async-signal-safe.
void holdPortForRelease(qintptr handle, const QString &device, const LowLatencyState &flags);
void forgetHeldPort();
void releaseHeldPortNow();
