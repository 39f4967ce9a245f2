#pragma once
// The serial ports of this machine, listed once for every front end: the comN
// links of the configuration, /dev/serial/by-id, and the ttyUSB,
// ttyACM and ttyS devices present. A device reached under several names is
// listed once, under its most telling name, with the others as aliases.

#include <QList>
#include <QString>
#include <QStringList>

struct DiscoveredPort {
    enum class Kind { ComLink, ById, Device };
    Kind kind = Kind::Device;
    QString name;         // "com3", "usb-FTDI_FT232R_A1B2-if00-port0", "/dev/ttyUSB0"
    int number = 0;       // N of a comN link; 0 otherwise
    QString device;       // the real device (links resolved); "" for a dangling link
    QString target;       // what a link points to (absolute); "" for a device
    QString description;  // what the system knows of the device, may be ""
    QStringList aliases;  // other names of the same device
};

// Where devices are looked for besides the comN links: the system's folders,
// or a test's own tree.
struct PortPlaces {
    QString byId = QStringLiteral("/dev/serial/by-id");
    QString devices = QStringLiteral("/dev");  // its ttyUSB* and ttyACM*
};

// linkFolders: where comN links are looked up, in order; the first one wins.
QList<DiscoveredPort> discoverPorts(const QStringList &linkFolders, const PortPlaces &places = {});

// Adds a port to the list, or its name to the aliases of the port already
// listed for the same device; a name that is the device itself adds nothing.
void addDiscoveredPort(QList<DiscoveredPort> &ports, const DiscoveredPort &port);

// One line of a port list: "com3 -> /dev/ttyUSB0  (description)  also other-names",
// a dangling link said to be one.
QString portListLine(const DiscoveredPort &port);
