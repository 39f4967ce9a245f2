#pragma once
// The command line of torvex-flash: its options read, and the names given
// there that cannot be used as given.

#include <QString>
#include <QStringList>

#include "app/core/StartUp.h"

struct Options {
    QString image;        // IMAGE, or the PATH of --set-port
    QString configDir;
    PortRequest port;
    bool lab = false;
    bool info = false;
    bool trace = false;
    bool listPorts = false;
    int setPort = 0;      // N of --set-port N PATH
    bool json = false;    // also set when the command line is refused, if it asked for it
    QString logFile;      // likewise
    QString usageError;   // why the command line was refused
};

// Fills opts; returns -1 to go on, or the status to end with (--help and
// --version print their text and end with 0).
int parseArguments(const QStringList &arguments, Options &opts);

// Arguments are decoded as UTF-8: other bytes cannot name the file any more.
// True, with the reason on standard error, when `path` is such a name; `what`
// says what the user should rename.
bool refuseInexactName(const QString &path, const char *what);
