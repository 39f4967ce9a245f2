#include "link/PortNaming.h"

#include <QtGlobal>
#ifndef Q_OS_WIN

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <grp.h>
#include <pwd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>
#if __has_include(<linux/serial.h>)
#include <linux/serial.h>
#define TORVEX_HAVE_SERIAL_STRUCT 1
#endif

QString portLinkTarget(int number, const QStringList &linkFolders)
{
    if (number <= 0)
        return {};
    for (const QString &dir : linkFolders) {
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

QString portDeviceName(int number, const QStringList &linkFolders)
{
    if (number <= 0)
        return {};
    const QString linked = portLinkTarget(number, linkFolders);
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

namespace {

QString modeText(mode_t mode)
{
    QString t = S_ISCHR(mode) ? QStringLiteral("c") : S_ISDIR(mode) ? QStringLiteral("d") : QStringLiteral("-");
    const char *rwx = "rwx";
    for (int bit = 8; bit >= 0; --bit)
        t += (mode & (1u << bit)) ? QLatin1Char(rwx[(8 - bit) % 3]) : QLatin1Char('-');
    return t;
}

QString groupName(gid_t gid)
{
    const group *g = ::getgrgid(gid);
    return g ? QString::fromLocal8Bit(g->gr_name) : QString::number(gid);
}

}  // namespace

DeviceAccess deviceAccess(const QString &device)
{
    DeviceAccess a;
    a.device = device;
    struct stat st {};
    if (::stat(QFile::encodeName(device).constData(), &st) != 0)
        return a;
    a.mode = modeText(st.st_mode);
    const passwd *owner = ::getpwuid(st.st_uid);
    a.owner = owner ? QString::fromLocal8Bit(owner->pw_name) : QString::number(st.st_uid);
    a.group = groupName(st.st_gid);
    a.groupMayUse = st.st_gid != 0 && (st.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);

    a.inGroupNow = ::getegid() == st.st_gid;
    std::vector<gid_t> now(std::max(0, ::getgroups(0, nullptr)));
    now.resize(std::max(0, ::getgroups(int(now.size()), now.data())));
    a.inGroupNow = a.inGroupNow || std::find(now.begin(), now.end(), st.st_gid) != now.end();

    // The database may list groups joined after this session began.
    if (const passwd *me = ::getpwuid(::getuid())) {
        a.user = QString::fromLocal8Bit(me->pw_name);
        int n = 64;
        std::vector<gid_t> listed(n);
        if (::getgrouplist(me->pw_name, me->pw_gid, listed.data(), &n) < 0) {
            listed.resize(n);
            ::getgrouplist(me->pw_name, me->pw_gid, listed.data(), &n);
        }
        listed.resize(std::max(0, n));
        a.inGroupListed = std::find(listed.begin(), listed.end(), st.st_gid) != listed.end();
    }
    return a;
}

QString permissionAdvice(const DeviceAccess &a)
{
    if (a.mode.isEmpty())
        return {};
    const QString user = a.user.isEmpty() ? QStringLiteral("$USER") : a.user;
    if (!a.groupMayUse)
        return QStringLiteral("%1 (%2 %3 %4) may be opened by its owner %3 only, not through a group: "
                              "run the program as root, or as root give it to group dialout "
                              "(chgrp dialout %1 && chmod g+rw %1; a udev rule keeps this when the "
                              "adapter is plugged in again) and join that group")
            .arg(a.device, a.mode, a.owner, a.group);
    if (a.inGroupNow)
        return QStringLiteral("you are in group '%1', which may open %2 (%3): something else refuses it, "
                              "an access list or a security policy; ask the administrator")
            .arg(a.group, a.device, a.mode);
    if (a.inGroupListed)
        return QStringLiteral("you are in group '%1', which may open %2, but this session began before "
                              "you joined it: log out and in again (or run newgrp %1 in this terminal "
                              "and start the program from there)")
            .arg(a.group, a.device);
    return QStringLiteral("%1 belongs to group '%2' (%3), and %4 is not in it: as root run "
                          "usermod -aG %2 %4, then log out and in again")
        .arg(a.device, a.group, a.mode, user);
}

QString permissionHint(const QString &device)
{
    return permissionAdvice(deviceAccess(device));
}

#endif
