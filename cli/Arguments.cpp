#include "Arguments.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>

#include "Console.h"
#include "ReportWords.h"
#include "image/FilePaths.h"

namespace {

void describe(QCommandLineParser &p)
{
    p.setApplicationDescription(QStringLiteral(
        "       torvex-flash --info [--lab] IMAGE\n"
        "       torvex-flash --list-ports\n"
        "       torvex-flash --set-port N PATH\n"
        "Writes the firmware IMAGE into a Torvex-II indicator on a serial port.\n"
        "The port is the one configured in BootLoaderTorvexII.ini beside the program\n"
        "(see --config), unless --port or --device names another."));
    p.addPositionalArgument(QStringLiteral("IMAGE"), QStringLiteral("Firmware image (*.bin)."));
}

const QCommandLineOption PortOption({QStringLiteral("p"), QStringLiteral("port")},
    QStringLiteral("Port number N (1..255): link comN in the configuration directory or "
                   "beside the configuration file's real location, else /dev/ttyS<N-1> "
                   "(COMN on Windows)."), QStringLiteral("N"));
const QCommandLineOption DeviceOption({QStringLiteral("d"), QStringLiteral("device")},
    QStringLiteral("Serial device to use, by path."), QStringLiteral("PATH"));
const QCommandLineOption ConfigOption({QStringLiteral("c"), QStringLiteral("config")},
    QStringLiteral("Directory of BootLoaderTorvexII.ini and the comN links (default: the "
                   "program's own directory)."), QStringLiteral("DIR"));
const QCommandLineOption LabOption(QStringLiteral("lab"),
    QStringLiteral("Admit laboratory builds, as ModeProg=1 does."));
const QCommandLineOption InfoOption({QStringLiteral("i"), QStringLiteral("info")},
    QStringLiteral("Describe IMAGE and whether it would be accepted; send nothing."));
const QCommandLineOption TraceOption({QStringLiteral("t"), QStringLiteral("trace")},
    QStringLiteral("Every byte written (>) and received (<), time-stamped, on standard error."));
const QCommandLineOption ListPortsOption({QStringLiteral("l"), QStringLiteral("list-ports")},
    QStringLiteral("List the machine's serial devices and the comN links."));
const QCommandLineOption SetPortOption(QStringLiteral("set-port"),
    QStringLiteral("Link port N to the serial device PATH, given instead of IMAGE: make or "
                   "replace the link comN where port N is looked up, new links beside the "
                   "configuration file's real location. Name the adapter by its "
                   "/dev/serial/by-id/... path, which survives re-plugging. Exit status 0 "
                   "when linked, 3 when not (why, and the command for root, on standard error)."),
    QStringLiteral("N"));
const QCommandLineOption JsonOption(QStringLiteral("json"),
    QStringLiteral("Progress as JSON, one event per line, on standard output."));
const QCommandLineOption LogOption(QStringLiteral("log"),
    QStringLiteral("Append one JSON line describing the update to FILE."), QStringLiteral("FILE"));

int refuse(Options &opts, const QString &why)
{
    opts.usageError = why;
    writeErr(QStringLiteral("torvex-flash: %1\nTry torvex-flash --help.\n").arg(why));
    return ExitUsage;
}

// 1..255, or 0.
int portNumber(const QString &text)
{
    bool ok = false;
    const int n = text.toInt(&ok);
    return ok && n >= 1 && n <= 255 ? n : 0;
}

}  // namespace

int parseArguments(const QStringList &arguments, Options &opts)
{
    QCommandLineParser p;
    describe(p);
    const QCommandLineOption help = p.addHelpOption();
    const QCommandLineOption version = p.addVersionOption();
    p.addOptions({PortOption, DeviceOption, ConfigOption, LabOption, InfoOption, TraceOption, ListPortsOption,
                  SetPortOption, JsonOption, LogOption});

    const bool parsed = p.parse(arguments);
    // A refused command line still ends with the end event it asked for.
    opts.json = p.isSet(JsonOption);
    opts.logFile = p.value(LogOption);
    if (!parsed)
        return refuse(opts, p.errorText());
    if (p.isSet(help) || p.isSet(version)) {
        opts.json = false;
        opts.logFile.clear();
        writeOut(p.isSet(help) ? p.helpText() + exitStatusHelp()
                               : QStringLiteral("torvex-flash %1\n").arg(programVersion()));
        return ExitOk;
    }
    if (p.isSet(LogOption) && opts.logFile.isEmpty())
        return refuse(opts, QStringLiteral("--log takes a file name"));
    opts.configDir = p.isSet(ConfigOption) ? QDir(p.value(ConfigOption)).absolutePath()
                                           : QCoreApplication::applicationDirPath();
    opts.listPorts = p.isSet(ListPortsOption);
    opts.info = p.isSet(InfoOption);
    // Their end events describe an update: the other commands have none.
    if ((opts.json || !opts.logFile.isEmpty()) && (opts.listPorts || opts.info || p.isSet(SetPortOption)))
        return refuse(opts, QStringLiteral("--json and --log go with an update only"));
    if (opts.listPorts)
        return -1;
    if (p.isSet(SetPortOption)) {
        opts.setPort = portNumber(p.value(SetPortOption));
        if (!opts.setPort)
            return refuse(opts, QStringLiteral("--set-port takes a number from 1 to 255"));
        if (p.positionalArguments().size() != 1)
            return refuse(opts, QStringLiteral("--set-port N takes the serial device's PATH, "
                                               "for example /dev/serial/by-id/usb-..."));
        opts.image = p.positionalArguments().constFirst();
        return -1;
    }
    if (p.isSet(PortOption) && p.isSet(DeviceOption))
        return refuse(opts, QStringLiteral("--port and --device exclude each other"));
    if (p.isSet(PortOption) && !(opts.port.number = portNumber(p.value(PortOption))))
        return refuse(opts, QStringLiteral("--port takes a number from 1 to 255"));
    opts.port.device = p.value(DeviceOption);
    if (p.isSet(DeviceOption) && opts.port.device.isEmpty())
        return refuse(opts, QStringLiteral("--device takes a path"));
    if (p.positionalArguments().size() != 1)
        return refuse(opts, QStringLiteral("give exactly one IMAGE"));
    opts.image = p.positionalArguments().constFirst();
    opts.lab = p.isSet(LabOption);
    opts.trace = p.isSet(TraceOption);
    return -1;
}

bool refuseInexactName(const QString &path, const char *what)
{
    if (pathIsExact(path))
        return false;
    writeErr(QStringLiteral("error: the name %1 is not valid UTF-8 and cannot be opened as given: "
                            "rename the %2 or its folder\n").arg(path, QString::fromLatin1(what)));
    return true;
}
