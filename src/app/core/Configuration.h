#pragma once
// The program's settings, read once at start from BootLoaderTorvexII.ini and
// handed to whatever needs them; nothing reads the file again.

#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>

struct Configuration {
    QString folder;           // where the file is looked for: the program's own, or one given
    QString commNum;          // [SERIAL] CommNum as written; "" when missing
    bool progMode = false;    // [MODE] ModeProg is 1: laboratory builds admitted
    QStringList linkFolders;  // where comN links are looked up, in this order

    QString filePath() const;                     // folder/BootLoaderTorvexII.ini
    std::optional<std::uint8_t> portNumber() const;  // nullopt outside 0..255
};

// Reads the file in `folder`. Nothing is read from a folder whose name is
// not exact (see pathIsExact): it might name another one.
Configuration readConfiguration(const QString &folder);

// The folder itself, then, elsewhere than Windows, the real location of the
// configuration file there: an installed configuration is a link to
// /etc/bootloadertorvexii/, where the administrator maps the ports.
QStringList portLinkFolders(const QString &folder);
