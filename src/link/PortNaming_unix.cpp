#include "link/PortNaming.h"

#include <QtGlobal>
#ifndef Q_OS_WIN

#include <QDir>
#include <QFileInfo>

#include "app/core/ArchivoIni.h"

#include <sys/ioctl.h>
#if __has_include(<linux/serial.h>)
#include <linux/serial.h>
#define TORVEX_HAVE_SERIAL_STRUCT 1
#endif

QStringList portLinkDirectories(const QString &linkDirectory)
{
    QStringList dirs{linkDirectory};
    const QFileInfo ini(QDir(linkDirectory).filePath(QString::fromLatin1(IniFileName)));
    const QString real = ini.canonicalFilePath();
    if (!real.isEmpty()) {
        const QString realDir = QFileInfo(real).absolutePath();
        if (realDir != QFileInfo(linkDirectory).canonicalFilePath())
            dirs << realDir;
    }
    return dirs;
}

QString portLinkTarget(int number, const QString &linkDirectory)
{
    if (number <= 0)
        return {};
    for (const QString &dir : portLinkDirectories(linkDirectory)) {
        const QFileInfo link(QDir(dir).filePath(QStringLiteral("com%1").arg(number)));
        if (link.isSymLink()) {
            // Open by the real device path so the lock file is the one any other
            // program opening that device would take.
            const QString real = link.canonicalFilePath();
            return real.isEmpty() ? link.symLinkTarget() : real;
        }
    }
    return {};
}

QString portDeviceName(int number, const QString &linkDirectory)
{
    if (number <= 0)
        return {};
    const QString linked = portLinkTarget(number, linkDirectory);
    return linked.isEmpty() ? QStringLiteral("/dev/ttyS%1").arg(number - 1) : linked;
}

namespace {

#ifdef TORVEX_HAVE_SERIAL_STRUCT
constexpr int LowLatencyFlag = ASYNC_LOW_LATENCY;

bool driverFlags(qintptr handle, int &flags)
{
    serial_struct ss{};
    if (::ioctl(int(handle), TIOCGSERIAL, &ss) != 0)
        return false;
    flags = ss.flags;
    return true;
}

bool setDriverFlags(qintptr handle, int flags)
{
    serial_struct ss{};
    if (::ioctl(int(handle), TIOCGSERIAL, &ss) != 0)
        return false;
    ss.flags = flags;
    return ::ioctl(int(handle), TIOCSSERIAL, &ss) == 0;
}
#else
constexpr int LowLatencyFlag = 0;
bool driverFlags(qintptr, int &) { return false; }
bool setDriverFlags(qintptr, int) { return false; }
#endif

}  // namespace

SerialFlagCalls serialFlagCalls{driverFlags, setDriverFlags};

void enableLowLatency(qintptr handle, LowLatencyState &state)
{
    state.changed = false;
    int flags = 0;
    if (!serialFlagCalls.get(handle, flags))
        return;  // pseudo-terminals and some drivers have no such settings
    state.savedFlags = flags;
    if (LowLatencyFlag == 0 || (flags & LowLatencyFlag))
        return;
    state.changed = serialFlagCalls.set(handle, flags | LowLatencyFlag);
}

void restoreLowLatency(qintptr handle, LowLatencyState &state)
{
    if (state.changed)
        serialFlagCalls.set(handle, state.savedFlags);
    state.changed = false;
}

QString permissionHint()
{
    return QStringLiteral("access to serial devices is usually granted by membership of the "
                          "group 'dialout' (sudo usermod -aG dialout $USER, then log in again)");
}

#endif
