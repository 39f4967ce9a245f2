#pragma once
// The port commands of torvex-flash: listing the ports.

#include <QString>

int listPorts(const QString &configDir);

