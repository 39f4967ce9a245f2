#pragma once
// Start-up against the configured serial port, shared by every front end.

#include <QString>

#include "app/core/Configuration.h"

class CommPort;
class Link;

inline constexpr const char *AppTitle = "BootLoaderTorvexII";
inline constexpr const char *StartUpFailureText =
    "No se puede abrir el port serie.\r\n"
    "Comprobar fichero .ini o cerrar el programa que utilice el puerto.";

// "1.1.0" from the build's version parts: decimal, no sign, no padding.
QString versionText(int major, int minor, int patch);
QString programVersion();
QString windowCaption();  // "Bootloader TorvexII. Ver." + version

// Which port a front end asks for: the configured one, or one it names.
struct PortRequest {
    int number = 0;   // 1..255 overrides the configured number; 0: configured
    QString device;   // a device path, bypassing numbers
    bool named() const { return number != 0 || !device.isEmpty(); }
};

struct StartUpResult {
    bool ok = false;
    QString failure;  // what went wrong, for logs; the user sees StartUpFailureText
    bool permission = false;  // the device exists but this user may not open it
    QString device;           // the device the port number named
    QString config;           // the configuration file read, and its real location
    QString origin;           // the comN link or numbered device the port came from
    bool configMissing = false;  // the configured port was asked for, and there is no configuration file
};

// QSerialPort also reports a port locked by another program as a permission
// error; only a device this user may not open deserves the group hint.
bool lacksPermission(const CommPort &port);

// Why the port could not be opened: a missing device is explained by the
// comN links looked for, anything else by the device and Qt's reason.
QString openFailureText(const CommPort &port);

// The reason start-up failed, the configuration file and the link it used,
// and the group hint where it helps, as lines for standard error.
QString startUpFailureNote(const StartUpResult &result);

// The port for a configuration and a request, configured, opened and closed
// once as a proof: the one start-up of every front end. The configured port
// number is checked first; the result names the configuration file.
StartUpResult runStartUp(Link &link, const Configuration &config, const PortRequest &request = {});

// The line settings and thresholds every front end applies to its port.
bool configurePort(Link &link);
