#include "support/FlashRun.h"

#include <QProcess>
#include <grp.h>
#include <unistd.h>

FlashRun runFlash(const QStringList &args, bool unprivileged)
{
    QProcess p;
    // Root may write anywhere: a folder without the right needs another user.
    if (unprivileged && ::geteuid() == 0)
        p.setChildProcessModifier([] {
            if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)
                ::_exit(125);
        });
    p.start(QStringLiteral(TORVEX_FLASH_BIN), args);
    FlashRun r;
    if (!p.waitForFinished(120000)) {
        p.kill();
        p.waitForFinished();
        r.err = QStringLiteral("did not end");
        return r;
    }
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.output = p.readAllStandardOutput();
    r.out = QString::fromLocal8Bit(r.output).split(QLatin1Char('\n'));
    r.out.removeLast();
    r.err = QString::fromLocal8Bit(p.readAllStandardError());
    return r;
}
