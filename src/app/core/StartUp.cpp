#include "app/core/StartUp.h"

#include "app/core/ArchivoIni.h"
#include "link/Link.h"
#include "link/PortLinks.h"

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

namespace {

StartUpResult provePort(Link &link, const PortSettings &port)
{
    StartUpResult result;
    if (!link.com1.setPort(port) || !configurePort(link)) {
        result.failure = QStringLiteral("port %1 names no serial device").arg(port.number);
        return result;
    }
    if (port.number > 0)
        result.origin = portOriginText(port.number, port.linkFolders);
    if (!link.com1.open()) {
        result.failure = openFailureText(link.com1);
        result.permission = lacksPermission(link.com1);
        result.device = link.com1.deviceName();
        return result;
    }
    link.com1.close();
    result.ok = true;
    return result;
}

}  // namespace

StartUpResult runStartUp(Link &link, const Configuration &config, const PortRequest &request)
{
    StartUpResult result;
    // The comN links are looked up in the folder even for a named port.
    if (!config.folderExact) {
        result.failure = request.named()
            ? QStringLiteral("the name of the folder %1 is not valid UTF-8").arg(config.folder)
            : QStringLiteral("the name of the folder %1 is not valid UTF-8: its configuration "
                             "cannot be read; move the program to another folder").arg(config.folder);
        return result;
    }
    if (request.named())
        return provePort(link, {request.number, request.device, config.linkFolders});
    result.config = config.fileNote;
    result.configMissing = !config.fileFound;
    const auto port = config.portNumber();
    if (config.commNum.isEmpty()) {
        result.failure = QStringLiteral("no [SERIAL] CommNum in %1/%2").arg(config.folder, QString::fromLatin1(IniFileName));
        return result;
    }
    if (!port) {
        result.failure = QStringLiteral("CommNum \"%1\" is outside 0 to 255").arg(config.commNum);
        return result;
    }
    StartUpResult proof = provePort(link, {*port, {}, config.linkFolders});
    proof.config = result.config;
    return proof;
}

bool lacksPermission(const CommPort &port)
{
    if (port.lastError() != QSerialPort::PermissionError)
        return false;
    const QFileInfo device(port.deviceName());
    return !device.exists() || !device.isReadable() || !device.isWritable();
}

QString openFailureText(const CommPort &port)
{
    if (port.commPort() > 0 && !QFileInfo::exists(port.deviceName()))
        return portMissingText(port.commPort(), port.portSettings().linkFolders);
    return QStringLiteral("%1: %2").arg(port.deviceName(), port.lastErrorString());
}

QString startUpFailureNote(const StartUpResult &result)
{
    QString note = QStringLiteral("%1: cannot start: %2\n").arg(QString::fromLatin1(AppTitle), result.failure);
    if (!result.config.isEmpty())
        note += QStringLiteral("configuration: %1\n").arg(result.config);
    if (!result.origin.isEmpty())
        note += result.origin + QLatin1Char('\n');
    if (result.permission)
        if (const QString hint = permissionHint(result.device); !hint.isEmpty())
            note += QStringLiteral("hint: %1\n").arg(hint);
    return note;
}
