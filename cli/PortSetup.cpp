#include "PortSetup.h"

#include <QFileInfo>

#include "app/core/StartUp.h"
#include "image/FilePaths.h"
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

PortReady preparePort(Link &link, const Configuration &config, const PortRequest &request)
{
    StartUpResult proof;
    if (request.number == 0 && request.device.isEmpty()) {
        if (!QFileInfo(config.filePath()).isFile())
            return failed(link, QStringLiteral("%1 not found: give --port N or --device PATH").arg(config.filePath()));
        proof = runStartUp(link, config);
    } else if (!pathIsExact(config.folder)) {
        return failed(link, QStringLiteral("the name of the folder %1 is not valid UTF-8").arg(config.folder));
    } else {
        proof = provePort(link, {request.number, request.device, config.linkFolders});
    }
    return proof.ok ? PortReady{true, {}, {}} : failed(link, proof.failure);
}
