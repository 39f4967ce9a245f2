#include "PortSetup.h"

#include <QDir>
#include <QFileInfo>

#include "app/core/ArchivoIni.h"
#include "app/core/StartUp.h"
#include "image/FileSelection.h"
#include "link/Link.h"

namespace {

PortReady failed(const Link &link, const QString &why)
{
    PortReady r;
    r.failure = why;
    if (lacksPermission(link.com1))
        r.hint = permissionHint(link.com1.deviceName());
    return r;
}

}  // namespace

bool configuredProgMode(const QString &configDir)
{
    return progModeFromText(funReadIni(configDir, QString::fromLatin1(IniFileName),
                                       QStringLiteral("MODE"), QStringLiteral("ModeProg")));
}

PortReady preparePort(Link &link, const PortRequest &request)
{
    const QString ini = QDir(request.configDir).filePath(QString::fromLatin1(IniFileName));
    if (request.number == 0 && request.device.isEmpty()) {
        if (!QFileInfo(ini).isFile())
            return failed(link, QStringLiteral("%1 not found: give --port N or --device PATH").arg(ini));
        const StartUpResult r = runStartUp(link, request.configDir);
        if (!r.ok)
            return failed(link, r.failure);
        return {true, r.ProgMode, {}, {}};
    }

    if (!pathIsExact(request.configDir))
        return failed(link, QStringLiteral("the name of the folder %1 is not valid UTF-8").arg(request.configDir));
    link.com1.setLinkDirectory(request.configDir);
    const bool named = request.device.isEmpty() ? link.com1.setCommPort(request.number)
                                                : link.com1.setDevice(request.device);
    if (!named || !configurePort(link))
        return failed(link, QStringLiteral("port %1 names no serial device").arg(request.number));
    if (!link.com1.open())
        return failed(link, openFailureText(link.com1, request.configDir));
    link.com1.close();
    return {true, configuredProgMode(request.configDir), {}, {}};
}
