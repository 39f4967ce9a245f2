#include "PortCommands.h"

#include <QDir>
#include <QFileInfo>

#include "Console.h"
#include "ExitCode.h"
#include "app/core/ArchivoIni.h"
#include "link/PortDiscovery.h"
#include "link/PortLinks.h"

int listPorts(const QString &configDir)
{
    QString text;
    const QList<DiscoveredPort> ports = discoverPorts(configDir);
    for (const DiscoveredPort &port : ports)
        text += portListLine(port) + QLatin1Char('\n');
    if (ports.isEmpty())
        text = QStringLiteral("No serial ports found (nor comN links in %1).\n")
                   .arg(QDir::toNativeSeparators(configDir));
    writeOut(text);
    return ExitOk;
}

int setPort(int number, const QString &device, const QString &configDir)
{
    const PortLinkChange c = setPortLink(number, device, configDir);
    if (!c.ok) {
        writeErr(QStringLiteral("error: port %1 not linked: %2\n").arg(number).arg(c.failure));
        if (!c.rootCommand.isEmpty())
            writeErr(QStringLiteral("The folder %1 needs root. As root (sudo, or su - first), run:\n    %2\n")
                         .arg(c.rootFolder, c.rootCommand));
        return ExitPortUnusable;
    }
    const QString real = QFileInfo(c.target).canonicalFilePath();
    QString text = QStringLiteral("Port %1: %2 -> %3").arg(number).arg(c.link, c.target);
    if (real != c.target)
        text += QStringLiteral(" (now %1)").arg(real);
    if (!c.previous.isEmpty())
        text += QStringLiteral(", was -> %1").arg(c.previous);
    text += QLatin1Char('\n');
    // A link the configured port does not use is worth a word.
    const QString commNum = funReadIni(configDir, QString::fromLatin1(IniFileName), QStringLiteral("SERIAL"),
                                       QStringLiteral("CommNum"));
    const auto configured = portNumberFromText(commNum);
    if (!commNum.isEmpty() && configured && *configured != number)
        text += QStringLiteral("Note: %1 names port %2 (CommNum=%3): use --port %4, or set CommNum=%4 there.\n")
                    .arg(QDir(configDir).filePath(QString::fromLatin1(IniFileName)))
                    .arg(*configured).arg(commNum).arg(number);
    writeOut(text);
    return ExitOk;
}
