#include "link/PortHandle.h"

#ifdef Q_OS_UNIX

#include <QFile>
#include <QFileInfo>
#include <csignal>
#include <cstring>
#include <sys/ioctl.h>
#include <unistd.h>
#if __has_include(<linux/serial.h>)
#include <linux/serial.h>
#define TORVEX_HAVE_SERIAL_STRUCT 1
#endif

namespace {

struct HeldPort {
    volatile sig_atomic_t fd = -1;
    volatile sig_atomic_t restoreFlags = 0;
    int savedFlags = 0;
    char lockPath[512] = {};
};
HeldPort g_held;

// Where Qt puts the lock file of a device: the first of these folders that
// already holds it or may be written, "LCK.." and the name below /dev.
QString lockFileOf(const QString &device)
{
    static const char *const dirs[] = {"/var/lock", "/etc/locks", "/var/spool/locks", "/var/spool/uucp",
                                       "/tmp", "/var/tmp", "/var/lock/lockdev", "/run/lock"};
    QString name = device.startsWith(QLatin1String("/dev/")) ? device.mid(5) : device;
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    for (const char *dir : dirs) {
        const QString path = QString::fromLatin1(dir) + QStringLiteral("/LCK..") + name;
        const QFileInfo info(QString::fromLatin1(dir));
        if (info.isReadable() && (QFile::exists(path) || info.isWritable()))
            return path;
    }
    return {};
}

}  // namespace

qint64 bytesInDriver(qintptr handle)
{
    int n = 0;
    return ::ioctl(int(handle), FIONREAD, &n) == 0 ? n : 0;
}

void holdPortForRelease(qintptr handle, const QString &device, const LowLatencyState &flags)
{
    g_held.fd = -1;
    const QByteArray lock = QFile::encodeName(lockFileOf(device));
    const size_t n = qMin(size_t(lock.size()), sizeof g_held.lockPath - 1);
    std::memcpy(g_held.lockPath, lock.constData(), n);
    g_held.lockPath[n] = '\0';
    g_held.savedFlags = flags.savedFlags;
    g_held.restoreFlags = flags.changed ? 1 : 0;
    g_held.fd = int(handle);
}

void forgetHeldPort()
{
    g_held.fd = -1;
}

void releaseHeldPortNow()
{
    const int fd = g_held.fd;
    if (fd < 0)
        return;
#ifdef TORVEX_HAVE_SERIAL_STRUCT
    if (g_held.restoreFlags) {
        serial_struct ss{};
        if (::ioctl(fd, TIOCGSERIAL, &ss) == 0) {
            ss.flags = g_held.savedFlags;
            ::ioctl(fd, TIOCSSERIAL, &ss);
        }
    }
#endif
    if (g_held.lockPath[0])
        ::unlink(g_held.lockPath);
    g_held.fd = -1;
}

#else

qint64 bytesInDriver(qintptr) { return 0; }
void holdPortForRelease(qintptr, const QString &, const LowLatencyState &) {}
void forgetHeldPort() {}
void releaseHeldPortNow() {}

#endif
