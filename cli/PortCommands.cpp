#include "PortCommands.h"

#include <QDir>

#include "Console.h"
#include "ExitCode.h"
#include "link/PortDiscovery.h"

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

