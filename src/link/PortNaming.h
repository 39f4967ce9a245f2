#pragma once
// Platform facts about serial devices: which device a port number names, and
// the driver settings applied around open and close. One implementation file
// per platform.

#include <QString>
#include <QStringList>

// The device that port `number` names; "" for 0 or when nothing can be named.
// Elsewhere than Windows a link `com<number>` in the first of linkFolders that
// holds one wins over the fallback /dev/ttyS<number-1>. Whoever read the
// configuration says which folders those are.
QString portDeviceName(int number, const QStringList &linkFolders);

// The device a link `com<number>` names; "" when there is no such link.
QString portLinkTarget(int number, const QStringList &linkFolders);

// Called right after a successful open / right before close with the native
// handle: asks the driver to hand short replies over at once (USB adapters
// otherwise hold them back for milliseconds) and restores its flags after.
struct LowLatencyState {
    bool changed = false;
    int savedFlags = 0;
};
void enableLowLatency(qintptr handle, LowLatencyState &state);
void restoreLowLatency(qintptr handle, LowLatencyState &state);

// The driver calls behind the two, false when refused. Replaceable, so that a
// test can follow the flags where a pseudo-terminal has none.
struct SerialFlagCalls {
    bool (*get)(qintptr handle, int &flags);
    bool (*set)(qintptr handle, int flags);
};
extern SerialFlagCalls serialFlagCalls;

// What decides whether this user may open a device, as far as its owner,
// group and mode tell.
struct DeviceAccess {
    QString device;
    QString mode;               // "crw-rw----"
    QString owner;
    QString group;
    QString user;
    bool groupMayUse = false;   // the group may read and write it (and is not root)
    bool inGroupNow = false;    // this process holds the group
    bool inGroupListed = false; // the user database lists the user in it (perhaps since the last login)
};
DeviceAccess deviceAccess(const QString &device);

// A hint for a device that could not be opened for lack of permission, fitted
// to what the device and the user's groups say; "" when nothing would help.
QString permissionAdvice(const DeviceAccess &access);
QString permissionHint(const QString &device);
