#pragma once
// torvex-flash run as a separate program, as a script or the station runs it.

#include <QByteArray>
#include <QStringList>

struct FlashRun {
    int code = -1;     // the exit status; -1 when it crashed or did not end
    QByteArray output; // standard output as written
    QStringList out;   // the same as lines
    QString err;
};

// unprivileged: as the user nobody when run as root. A program that fails to
// end is killed and reported as such rather than left behind.
FlashRun runFlash(const QStringList &args, bool unprivileged = false);
