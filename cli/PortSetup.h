#pragma once
// Which port the update uses, proven usable by the start-up every front end
// shares, said in the command line's words.

#include <QString>

#include "app/core/StartUp.h"

class Link;

struct PortReady {
    bool ok = false;
    QString failure;          // what failed, for the user
    QString hint;             // what to do about a lack of permission, "" otherwise
};

PortReady preparePort(Link &link, const Configuration &config, const PortRequest &request);
