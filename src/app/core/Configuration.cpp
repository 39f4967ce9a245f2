#include "app/core/Configuration.h"

#include <QDir>
#include <QFileInfo>

#include "app/core/ArchivoIni.h"
#include "image/FilePaths.h"

QString Configuration::filePath() const
{
    return QDir(folder).filePath(QString::fromLatin1(IniFileName));
}

std::optional<std::uint8_t> Configuration::portNumber() const
{
    return portNumberFromText(commNum);
}

Configuration readConfiguration(const QString &folder)
{
    Configuration c;
    c.folder = folder;
    c.linkFolders = portLinkFolders(folder);
    c.folderExact = pathIsExact(folder);
    if (!c.folderExact)
        return c;
    const QFileInfo file(c.filePath());
    c.fileFound = file.isFile();
    c.fileNote = file.filePath();
    if (file.isSymLink())
        c.fileNote += QStringLiteral(" -> ") + file.symLinkTarget();
    else if (!file.exists())
        c.fileNote += QStringLiteral(" (missing)");
    const QByteArray content = readIniFile(folder, QString::fromLatin1(IniFileName));
    c.commNum = readIniValue(content, QStringLiteral("SERIAL"), QStringLiteral("CommNum"));
    c.progMode = progModeFromText(readIniValue(content, QStringLiteral("MODE"), QStringLiteral("ModeProg")));
    return c;
}

QStringList portLinkFolders(const QString &folder)
{
#ifdef Q_OS_WIN
    Q_UNUSED(folder)
    return {};  // port N is COMN there
#else
    QStringList folders{folder};
    const QString real = QFileInfo(QDir(folder).filePath(QString::fromLatin1(IniFileName))).canonicalFilePath();
    if (!real.isEmpty()) {
        const QString realFolder = QFileInfo(real).absolutePath();
        if (realFolder != QFileInfo(folder).canonicalFilePath())
            folders << realFolder;
    }
    return folders;
#endif
}
