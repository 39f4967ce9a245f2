#include "PortSetup.h"

#include "link/PortNaming.h"

PortReady preparePort(Link &link, const Configuration &config, const PortRequest &request)
{
    const StartUpResult proof = runStartUp(link, config, request);
    if (proof.ok)
        return {true, {}, {}};
    PortReady r;
    // Here the port can also be named on the command line.
    r.failure = proof.configMissing
        ? QStringLiteral("%1 not found: give --port N or --device PATH").arg(config.filePath())
        : proof.failure;
    if (proof.permission)
        r.hint = permissionHint(proof.device);
    return r;
}
