#include "link/PortLinks.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include "link/PortNaming.h"

QString shellQuoted(const QString &text)
{
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_./:+@%=,-]+$"));
    if (plain.match(text).hasMatch())
        return text;
    QString quoted = text;
    return QLatin1Char('\'') + quoted.replace(QLatin1Char('\''), QLatin1String("'\\''")) + QLatin1Char('\'');
}

#ifdef Q_OS_WIN

PortLinkChange setPortLink(int number, const QString &, const QStringList &)
{
    PortLinkChange c;
    c.failure = QStringLiteral("on Windows port %1 is COM%1 and needs no link").arg(number);
    return c;
}

QString portOriginText(int number, const QStringList &)
{
    return QStringLiteral("port %1 is COM%1").arg(number);
}

QString portMissingText(int number, const QStringList &)
{
    return QStringLiteral("COM%1 does not exist").arg(number);
}

#else

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString linkName(int number)
{
    return QStringLiteral("com%1").arg(number);
}

// The comN link that port `number` goes through, "" when there is none.
QString activeLink(int number, const QStringList &linkFolders)
{
    for (const QString &dir : linkFolders) {
        const QString path = QDir(dir).filePath(linkName(number));
        if (QFileInfo(path).isSymLink())
            return path;
    }
    return {};
}

QString folders(const QStringList &linkFolders)
{
    return linkFolders.join(QStringLiteral(" or "));
}

QString fallback(int number)
{
    return QStringLiteral("/dev/ttyS%1").arg(number - 1);
}

QString kindOf(const struct stat &st)
{
    if (S_ISDIR(st.st_mode))
        return QStringLiteral("a folder");
    if (S_ISREG(st.st_mode))
        return QStringLiteral("a regular file");
    if (S_ISBLK(st.st_mode))
        return QStringLiteral("a block device");
    return QStringLiteral("not a device");
}

}  // namespace

PortLinkChange setPortLink(int number, const QString &device, const QStringList &linkFolders)
{
    PortLinkChange c;
    c.target = QDir::cleanPath(QDir(QDir::currentPath()).absoluteFilePath(device));
    c.link = activeLink(number, linkFolders);
    if (c.link.isEmpty() && !linkFolders.isEmpty())
        c.link = QDir(linkFolders.constLast()).filePath(linkName(number));
    if (c.link.isEmpty()) {
        c.failure = QStringLiteral("no folder to make the link com%1 in").arg(number);
        return c;
    }
    const QString folder = QFileInfo(c.link).absolutePath();

    // Linked to itself the port would name nothing.
    const QFileInfo given(c.target);
    if (given.fileName() == linkName(number)
        && QDir(given.absolutePath()).canonicalPath() == QDir(folder).canonicalPath()) {
        c.failure = QStringLiteral("%1 is the link %2 itself: name the adapter's device").arg(device, c.link);
        return c;
    }
    struct stat st {};
    if (::stat(QFile::encodeName(c.target).constData(), &st) != 0) {
        c.failure = QStringLiteral("%1: %2 (is the adapter plugged in? torvex-flash --list-ports shows "
                                   "the ports found)").arg(c.target, QString::fromLocal8Bit(std::strerror(errno)));
        return c;
    }
    if (!S_ISCHR(st.st_mode)) {
        c.failure = QStringLiteral("%1 is not a serial device: it is %2, not a character device")
                        .arg(c.target, kindOf(st));
        return c;
    }
    const QFileInfo existing(c.link);
    if (existing.isSymLink()) {
        c.previous = existing.symLinkTarget();
    } else if (existing.exists()) {
        c.failure = QStringLiteral("%1 exists and is not a link: move it away first").arg(c.link);
        return c;
    }

    // A link made under another name and renamed over comN replaces it in one
    // step: a port opened meanwhile finds the old device or the new one.
    const QString fresh = QDir(folder).filePath(QStringLiteral(".%1.new%2").arg(linkName(number)).arg(::getpid()));
    ::unlink(QFile::encodeName(fresh).constData());
    int error = 0;
    if (::symlink(QFile::encodeName(c.target).constData(), QFile::encodeName(fresh).constData()) != 0)
        error = errno;
    else if (::rename(QFile::encodeName(fresh).constData(), QFile::encodeName(c.link).constData()) != 0) {
        error = errno;
        ::unlink(QFile::encodeName(fresh).constData());
    }
    if (error == 0) {
        c.ok = true;
        return c;
    }
    c.failure = QStringLiteral("cannot make %1: %2").arg(c.link, QString::fromLocal8Bit(std::strerror(error)));
    if (error == EACCES || error == EPERM) {
        c.rootFolder = folder;
        c.rootCommand = QStringLiteral("ln -sfn %1 %2").arg(shellQuoted(c.target), shellQuoted(c.link));
    }
    return c;
}

QString portOriginText(int number, const QStringList &linkFolders)
{
    const QString link = activeLink(number, linkFolders);
    if (link.isEmpty())
        return QStringLiteral("port %1: no %2 link in %3; the numbered device %4 was used")
            .arg(number).arg(linkName(number), folders(linkFolders), fallback(number));
    return QStringLiteral("port %1: link %2 -> %3").arg(number).arg(link, QFileInfo(link).symLinkTarget());
}

QString portMissingText(int number, const QStringList &linkFolders)
{
    const QString link = activeLink(number, linkFolders);
    if (!link.isEmpty())
        return QStringLiteral("%1 is a dangling link: its target %2 does not exist (adapter unplugged or "
                              "renamed? torvex-flash --list-ports shows the ports found)")
            .arg(link, QFileInfo(link).symLinkTarget());
    return QStringLiteral("no %1 link found in %2, and the numbered fallback device %3 does not exist "
                          "either: link the port to its adapter with torvex-flash --set-port %4 "
                          "/dev/serial/by-id/...")
        .arg(linkName(number), folders(linkFolders), fallback(number)).arg(number);
}

#endif
