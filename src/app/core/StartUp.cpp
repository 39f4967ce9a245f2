#include "app/core/StartUp.h"

#include "app/core/ArchivoIni.h"
#include "image/FileSelection.h"
#include "link/Link.h"

#include <QFileInfo>

QString versionText(int major, int minor, int patch)
{
    return QStringLiteral("%1.%2.%3").arg(major).arg(minor).arg(patch);
}

QString programVersion()
{
    return versionText(TORVEX_VERSION_MAJOR, TORVEX_VERSION_MINOR, TORVEX_VERSION_PATCH);
}

QString windowCaption()
{
    return QStringLiteral("Bootloader TorvexII. Ver.") + programVersion();
}

bool configurePort(Link &link)
{
    if (!link.com1.setSettings(QStringLiteral("115200,N,8,1")))
        return false;
    link.com1.setInputLen(0);
    link.com1.setRThreshold(1);
    link.com1.setSThreshold(1);
    return true;
}

StartUpResult runStartUp(Link &link, const QString &exeDir)
{
    StartUpResult result;
    const QString file = QString::fromLatin1(IniFileName);
    if (!pathIsExact(exeDir)) {
        result.failure = QStringLiteral("the name of the folder %1 is not valid UTF-8: its configuration "
                                        "cannot be read; move the program to another folder")
                             .arg(exeDir);
        return result;
    }
    const QString commNum = funReadIni(exeDir, file, QStringLiteral("SERIAL"), QStringLiteral("CommNum"));
    const auto port = portNumberFromText(commNum);
    if (commNum.isEmpty()) {
        result.failure = QStringLiteral("no [SERIAL] CommNum in %1/%2").arg(exeDir, file);
        return result;
    }
    if (!port) {
        result.failure = QStringLiteral("CommNum \"%1\" is outside 0 to 255").arg(commNum);
        return result;
    }
    link.com1.setLinkDirectory(exeDir);
    if (!link.com1.setCommPort(*port) || !configurePort(link)) {
        result.failure = QStringLiteral("port %1 names no serial device").arg(*port);
        return result;
    }
    if (!link.com1.open()) {
        result.failure = QStringLiteral("%1: %2").arg(link.com1.deviceName(), link.com1.lastErrorString());
        result.permission = lacksPermission(link.com1);
        return result;
    }
    link.com1.close();
    result.ProgMode = progModeFromText(
        funReadIni(exeDir, file, QStringLiteral("MODE"), QStringLiteral("ModeProg")));
    result.ok = true;
    return result;
}

bool lacksPermission(const CommPort &port)
{
    if (port.lastError() != QSerialPort::PermissionError)
        return false;
    const QFileInfo device(port.deviceName());
    return !device.exists() || !device.isReadable() || !device.isWritable();
}

QString startUpFailureNote(const StartUpResult &result)
{
    QString note = QStringLiteral("%1: cannot start: %2\n").arg(QString::fromLatin1(AppTitle), result.failure);
    if (result.permission)
        note += QStringLiteral("hint: %1\n").arg(permissionHint());
    return note;
}
