#pragma once
// The port commands of torvex-flash: listing the ports, and linking a port
// number to a device.

#include <QString>

struct Configuration;

int listPorts(const Configuration &config);

// Makes or replaces the link comN for port `number`; exit status 0 when made,
// ExitPortUnusable when not, with what to do instead on standard error.
int setPort(int number, const QString &device, const Configuration &config);
