#include "support/FlashRun.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <memory>
#include <grp.h>
#include <unistd.h>

FlashRun runFlash(const QStringList &args, bool unprivileged)
{
    QProcess p;
    QString program = QStringLiteral(TORVEX_FLASH_BIN);
    std::unique_ptr<QTemporaryDir> copy;
    // Root may write anywhere: a folder without the right needs another user.
    if (unprivileged && ::geteuid() == 0) {
        // That user may not enter the build tree (a clone in a mktemp -d
        // folder): it runs a copy of the program from a folder it may.
        const auto everyone = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup
                            | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther;
        copy = std::make_unique<QTemporaryDir>();
        program = copy->filePath(QStringLiteral("torvex-flash"));
        if (!QFile::setPermissions(copy->path(), everyone) || !QFile::copy(QStringLiteral(TORVEX_FLASH_BIN), program)
            || !QFile::setPermissions(program, everyone))
            return {};
        p.setChildProcessModifier([] {
            if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)
                ::_exit(125);
        });
    }
    p.start(program, args);
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
