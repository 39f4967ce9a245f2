#pragma once
// Which port the update uses, proven usable by one open and close, the way
// the window's start-up does it, but saying what failed.

#include <QString>

class Link;

struct PortRequest {
    QString configDir;  // the configuration file and the comN links
    int number = 0;     // 1..255 overrides the configured number; 0: configured
    QString device;     // a device path, bypassing numbers
};

struct PortReady {
    bool ok = false;
    bool progMode = false;    // [MODE] ModeProg of the configuration file
    QString failure;          // what failed, for the user
    QString hint;             // what to do about a lack of permission, "" otherwise
};

PortReady preparePort(Link &link, const PortRequest &request);

// Laboratory builds admitted by the configuration file in configDir.
bool configuredProgMode(const QString &configDir);
