#include "link/PortLinks.h"

#include <QDir>
#include <QFileInfo>

#include "link/PortNaming.h"

#ifdef Q_OS_WIN

QString portOriginText(int number, const QString &)
{
    return QStringLiteral("port %1 is COM%1").arg(number);
}

QString portMissingText(int number, const QString &)
{
    return QStringLiteral("COM%1 does not exist").arg(number);
}

#else

namespace {

QString linkName(int number)
{
    return QStringLiteral("com%1").arg(number);
}

// The comN link that port `number` goes through, "" when there is none.
QString activeLink(int number, const QString &linkDirectory)
{
    for (const QString &dir : portLinkDirectories(linkDirectory)) {
        const QString path = QDir(dir).filePath(linkName(number));
        if (QFileInfo(path).isSymLink())
            return path;
    }
    return {};
}

QString folders(const QString &linkDirectory)
{
    return portLinkDirectories(linkDirectory).join(QStringLiteral(" or "));
}

QString fallback(int number)
{
    return QStringLiteral("/dev/ttyS%1").arg(number - 1);
}

}  // namespace

QString portOriginText(int number, const QString &linkDirectory)
{
    const QString link = activeLink(number, linkDirectory);
    if (link.isEmpty())
        return QStringLiteral("port %1: no %2 link in %3; the numbered device %4 was used")
            .arg(number).arg(linkName(number), folders(linkDirectory), fallback(number));
    return QStringLiteral("port %1: link %2 -> %3").arg(number).arg(link, QFileInfo(link).symLinkTarget());
}

QString portMissingText(int number, const QString &linkDirectory)
{
    const QString link = activeLink(number, linkDirectory);
    if (!link.isEmpty())
        return QStringLiteral("%1 is a dangling link: its target %2 does not exist (adapter unplugged or "
                              "renamed? torvex-flash --list-ports shows the ports found)")
            .arg(link, QFileInfo(link).symLinkTarget());
    return QStringLiteral("no %1 link found in %2, and the numbered fallback device %3 does not exist "
                          "either")
        .arg(linkName(number), folders(linkDirectory), fallback(number));
}

#endif
