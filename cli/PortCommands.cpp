#include "PortCommands.h"

#include <QDir>
#include <QFileInfo>

#include "Console.h"
#include "ReportWords.h"
#include "app/core/Configuration.h"
#include "link/PortDiscovery.h"
#include "link/PortLinks.h"

int listPorts(const Configuration &config)
{
    QString text;
    const QList<DiscoveredPort> ports = discoverPorts(config.linkFolders);
    for (const DiscoveredPort &port : ports)
        text += portListLine(port) + QLatin1Char('\n');
    if (ports.isEmpty())
        text = QStringLiteral("No serial ports found (nor comN links in %1).\n")
                   .arg(QDir::toNativeSeparators(config.folder));
    writeOut(text);
    return ExitOk;
}

int setPort(int number, const QString &device, const Configuration &config)
{
    const PortLinkChange c = setPortLink(number, device, config.linkFolders);
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
    const auto configured = config.portNumber();
    if (!config.commNum.isEmpty() && configured && *configured != number)
        text += QStringLiteral("Note: %1 names port %2 (CommNum=%3): use --port %4, or set CommNum=%4 there.\n")
                    .arg(config.filePath()).arg(*configured).arg(config.commNum).arg(number);
    writeOut(text);
    return ExitOk;
}
