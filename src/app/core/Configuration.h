#pragma once
// The program's settings, read once at start from BootLoaderTorvexII.ini and
// handed to whatever needs them; nothing reads the file again.

#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>

struct Configuration {
    QString folder;           // where the file is looked for: the program's own, or one given
    bool folderExact = true;  // the folder's name is exact (see pathIsExact); else nothing was read
    bool fileFound = false;   // the file exists
    QString fileNote;         // the file, and its real location or "(missing)", for notes
    QString commNum;          // [SERIAL] CommNum as written; "" when missing
    bool progMode = false;    // [MODE] ModeProg is 1: laboratory builds admitted
    QStringList linkFolders;  // where comN links are looked up, in this order

    QString filePath() const;                     // folder/BootLoaderTorvexII.ini
    std::optional<std::uint8_t> portNumber() const;  // nullopt outside 0..255
};

// Reads the file in `folder`, checking the folder once for everyone. Nothing
// is read from a folder whose name is not exact: it might name another one.
Configuration readConfiguration(const QString &folder);

// The folder itself, then, elsewhere than Windows, the real location of the
// configuration file there: an installed configuration is a link to
// /etc/bootloadertorvexii/, where the administrator maps the ports.
QStringList portLinkFolders(const QString &folder);
