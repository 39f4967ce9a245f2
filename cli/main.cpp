// torvex-flash: updates one indicator from the command line with the same
// sequence as the window; several may run at once, one per port.

#include <QCoreApplication>

#include "Arguments.h"
#include "Console.h"
#include "InfoCommand.h"
#include "PortCommands.h"
#include "RunRecord.h"
#include "UpdateCommand.h"
#include "app/core/StartUp.h"
#include "app/core/StopSignals.h"

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("torvex-flash"));
    QCoreApplication::setApplicationVersion(programVersion());
    ignoreBrokenPipe();
    StopSignals stops;

    Options opts;
    const int refused = parseArguments(QCoreApplication::arguments(), opts);
    // Every way out passes the record's end.
    RunRecord record(opts.json, opts.logFile);
    if (refused >= 0)
        return record.end(refused, nullptr, opts.usageError);
    const Configuration config = readConfiguration(opts.configDir);
    // Laboratory builds are admitted by --lab and by ModeProg=1 alike.
    opts.lab = opts.lab || config.progMode;
    int status;
    if (opts.listPorts)
        status = listPorts(config);
    else if (opts.setPort)
        status = setPort(opts.setPort, opts.image, config);
    else if (opts.info)
        status = showInfo(opts);
    else
        status = update(opts, config, stops, record);
    return record.end(status);
}
