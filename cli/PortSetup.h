#pragma once
// Which port the update uses, proven usable by one open and close, the way
// the window's start-up does it, but saying what failed.

#include <QString>

class Link;
struct Configuration;

struct PortRequest {
    int number = 0;     // 1..255 overrides the configured number; 0: configured
    QString device;     // a device path, bypassing numbers
};

struct PortReady {
    bool ok = false;
    QString failure;          // what failed, for the user
    QString hint;             // what to do about a lack of permission, "" otherwise
};

PortReady preparePort(Link &link, const Configuration &config, const PortRequest &request);
