#pragma once
// Platform facts about serial devices: which device a port number names, and
// the driver settings applied around open and close. One implementation file
// per platform.

#include <QString>
#include <QStringList>

// The device that port `number` names; "" for 0 or when nothing can be named.
// Elsewhere than Windows a link `com<number>` in linkDirectory wins over the
// fallback /dev/ttyS<number-1>.
QString portDeviceName(int number, const QString &linkDirectory);

// Serial devices the machine offers, and the comN links in linkDirectory, for listings.
QStringList comLinks(const QString &linkDirectory);

// Called right after a successful open / right before close with the native
// handle: asks the driver to hand short replies over at once (USB adapters
// otherwise hold them back for milliseconds) and restores its flags after.
struct LowLatencyState {
    bool changed = false;
    int savedFlags = 0;
};
void enableLowLatency(qintptr handle, LowLatencyState &state);
void restoreLowLatency(qintptr handle, LowLatencyState &state);

// A hint for a port that could not be opened for lack of permission.
QString permissionHint();
