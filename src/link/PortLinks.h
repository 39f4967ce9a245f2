#pragma once
// The comN links a technician maps ports with: making one, and saying which
// link a port number used or why it named nothing. Texts only; the front ends
// print them.

#include <QString>
#include <QStringList>

struct PortLinkChange {
    bool ok = false;
    QString link;         // the comN path made or meant
    QString target;       // what it points to, as it was written
    QString previous;     // the target it had before, "" when it is new
    QString failure;      // why nothing was made
    QString rootCommand;  // the command that makes it as root, when rights were missing
    QString rootFolder;   // the folder that needs root
};

// Makes or replaces comN so that port `number` names `device`: where a comN
// link is already found in linkFolders, else in the last of them (beside the
// configuration file's real location). The device must be a character
// device; a path under /dev/serial/by-id is kept as given, since it survives
// re-plugging.
PortLinkChange setPortLink(int number, const QString &device, const QStringList &linkFolders);

// Where port `number` was looked for and what it named, in one line: the
// link and its target, or the folders searched and the numbered fallback.
QString portOriginText(int number, const QStringList &linkFolders);

// Why port `number` names no existing device: a dangling comN link, or no
// link at all and no numbered fallback device either.
QString portMissingText(int number, const QStringList &linkFolders);

// `text` as one word for a POSIX shell.
QString shellQuoted(const QString &text);
