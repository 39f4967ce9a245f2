#include "link/PortDiscovery.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QSerialPortInfo>
#include <algorithm>

#include "link/PortNaming.h"

namespace {

QString about(const QSerialPortInfo &port)
{
    QStringList parts;
    for (const QString &s : {port.description(), port.manufacturer(), port.serialNumber()})
        if (!s.isEmpty() && !parts.contains(s))
            parts << s;
    if (port.hasVendorIdentifier() && port.hasProductIdentifier())
        parts << QStringLiteral("%1:%2").arg(port.vendorIdentifier(), 4, 16, QLatin1Char('0'))
                                        .arg(port.productIdentifier(), 4, 16, QLatin1Char('0'));
    return parts.join(QStringLiteral(", "));
}

// Natural order: ttyUSB2 before ttyUSB10, com2 before com10.
bool naturalLess(const QString &a, const QString &b)
{
    static const QRegularExpression tail(QStringLiteral("^(.*?)(\\d+)$"));
    const auto ma = tail.match(a), mb = tail.match(b);
    if (ma.hasMatch() && mb.hasMatch() && ma.captured(1) == mb.captured(1))
        return ma.captured(2).toLongLong() < mb.captured(2).toLongLong();
    return a < b;
}

}  // namespace

void addDiscoveredPort(QList<DiscoveredPort> &ports, const DiscoveredPort &port)
{
    if (!port.device.isEmpty()) {
        for (DiscoveredPort &listed : ports) {
            if (listed.device != port.device)
                continue;
            if (port.name != listed.device && port.name != listed.name && !listed.aliases.contains(port.name))
                listed.aliases << port.name;
            return;
        }
    }
    ports << port;
}

QString portListLine(const DiscoveredPort &port)
{
    QString text = port.name;
    if (port.device.isEmpty())
        text += QStringLiteral(" -> %1 (dangling link: %1 does not exist)").arg(port.target);
    else if (port.device != port.name)
        text += QStringLiteral(" -> ") + port.device;
    if (!port.description.isEmpty())
        text += QStringLiteral("  (") + port.description + QLatin1Char(')');
    if (!port.aliases.isEmpty())
        text += QStringLiteral("  also ") + port.aliases.join(QStringLiteral(", "));
    return text;
}

QList<DiscoveredPort> discoverPorts(const QStringList &linkFolders, const PortPlaces &places)
{
    QList<DiscoveredPort> out;
    const auto add = [&out](const DiscoveredPort &p) { addDiscoveredPort(out, p); };

    // comN links first: they are the names the technician's configuration uses.
    QList<DiscoveredPort> links;
    for (const QString &dir : linkFolders) {
        const QFileInfoList entries = QDir(dir).entryInfoList({QStringLiteral("com*")}, QDir::System | QDir::Files);
        for (const QFileInfo &fi : entries) {
            bool ok = false;
            const int n = fi.fileName().mid(3).toInt(&ok);
            if (!fi.isSymLink() || !ok || n < 1 || n > 255)
                continue;
            if (std::any_of(links.cbegin(), links.cend(), [n](const DiscoveredPort &p) { return p.number == n; }))
                continue;  // the first directory wins, as when the port is opened
            DiscoveredPort p;
            p.kind = DiscoveredPort::Kind::ComLink;
            p.name = fi.fileName();
            p.number = n;
            p.device = fi.canonicalFilePath();
            p.target = fi.symLinkTarget();
            links << p;
        }
    }
    std::sort(links.begin(), links.end(), [](const auto &a, const auto &b) { return a.number < b.number; });
    for (const DiscoveredPort &p : links)
        add(p);

    const QDir byId(places.byId);
    for (const QFileInfo &fi : byId.entryInfoList(QDir::System | QDir::Files, QDir::Name)) {
        DiscoveredPort p;
        p.kind = DiscoveredPort::Kind::ById;
        p.name = fi.fileName();
        p.device = fi.canonicalFilePath();
        p.target = fi.symLinkTarget();
        if (!p.device.isEmpty())
            add(p);
    }

    // ttyS nodes exist whether or not a UART sits behind them: only those the
    // system reports as present count.
    QStringList devices;
    QHash<QString, QString> descriptions;
    for (const QSerialPortInfo &port : QSerialPortInfo::availablePorts()) {
        devices << port.systemLocation();
        descriptions.insert(port.systemLocation(), about(port));
    }
    for (const QFileInfo &fi : QDir(places.devices).entryInfoList(
             {QStringLiteral("ttyUSB*"), QStringLiteral("ttyACM*")}, QDir::System))
        if (!devices.contains(fi.absoluteFilePath()))
            devices << fi.absoluteFilePath();
    std::sort(devices.begin(), devices.end(), naturalLess);
    for (const QString &d : devices) {
#ifndef Q_OS_WIN
        const QString name = QFileInfo(d).fileName();
        if (!name.startsWith(QLatin1String("ttyUSB")) && !name.startsWith(QLatin1String("ttyACM"))
            && !name.startsWith(QLatin1String("ttyS")))
            continue;
#endif
        DiscoveredPort p;
        p.name = d;
        // As the links' devices are: the same adapter by its by-id name is one.
        const QString real = QFileInfo(d).canonicalFilePath();
        p.device = real.isEmpty() ? d : real;
        add(p);
    }

    for (DiscoveredPort &p : out)
        if (!p.device.isEmpty())
            p.description = descriptions.value(p.device, descriptions.value(p.name));
    return out;
}
