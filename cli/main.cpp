// torvex-flash: updates one indicator from the command line with the same
// sequence as the window; several may run at once, one per port.

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>

#include "Console.h"
#include "ReportWords.h"
#include "ImageInfo.h"
#include "EventView.h"
#include "JsonLines.h"
#include "PortCommands.h"
#include "PortSetup.h"
#include "TerminalView.h"
#include "UpdateLog.h"
#include "app/core/StartUp.h"
#include "app/core/StopSignals.h"
#include "image/FilePaths.h"
#include "image/FileSelection.h"
#include "link/Link.h"

namespace {

struct Options {
    QString image;
    QString configDir;
    PortRequest port;
    bool lab = false;
    bool info = false;
    bool trace = false;
    bool listPorts = false;
    int setPort = 0;  // N of --set-port N PATH; the PATH is `image`
    bool json = false;
    QString logFile;
};

int usageError(const QString &why)
{
    writeErr(QStringLiteral("torvex-flash: %1\nTry torvex-flash --help.\n").arg(why));
    return ExitUsage;
}

// Fills opts; returns -1 to go on, or the status to end with.
int parseArguments(const QStringList &arguments, Options &opts)
{
    QCommandLineParser p;
    p.setApplicationDescription(QStringLiteral(
        "       torvex-flash --info [--lab] IMAGE\n"
        "       torvex-flash --list-ports\n"
        "       torvex-flash --set-port N PATH\n"
        "Writes the firmware IMAGE into a Torvex-II indicator on a serial port.\n"
        "The port is the one configured in BootLoaderTorvexII.ini beside the program\n"
        "(see --config), unless --port or --device names another."));
    const QCommandLineOption help = p.addHelpOption();
    const QCommandLineOption version = p.addVersionOption();
    const QCommandLineOption port({QStringLiteral("p"), QStringLiteral("port")},
        QStringLiteral("Port number N (1..255): link comN in the configuration directory or "
                       "beside the configuration file's real location, else /dev/ttyS<N-1> "
                       "(COMN on Windows)."), QStringLiteral("N"));
    const QCommandLineOption device({QStringLiteral("d"), QStringLiteral("device")},
        QStringLiteral("Serial device to use, by path."), QStringLiteral("PATH"));
    const QCommandLineOption config({QStringLiteral("c"), QStringLiteral("config")},
        QStringLiteral("Directory of BootLoaderTorvexII.ini and the comN links (default: the "
                       "program's own directory)."), QStringLiteral("DIR"));
    const QCommandLineOption lab(QStringLiteral("lab"),
        QStringLiteral("Admit laboratory builds, as ModeProg=1 does."));
    const QCommandLineOption info({QStringLiteral("i"), QStringLiteral("info")},
        QStringLiteral("Describe IMAGE and whether it would be accepted; send nothing."));
    const QCommandLineOption trace({QStringLiteral("t"), QStringLiteral("trace")},
        QStringLiteral("Every byte written (>) and received (<), time-stamped, on standard error."));
    const QCommandLineOption listPorts({QStringLiteral("l"), QStringLiteral("list-ports")},
        QStringLiteral("List the machine's serial devices and the comN links."));
    const QCommandLineOption setPort(QStringLiteral("set-port"),
        QStringLiteral("Link port N to the serial device PATH, given instead of IMAGE: make or "
                       "replace the link comN where port N is looked up, new links beside the "
                       "configuration file's real location. Name the adapter by its "
                       "/dev/serial/by-id/... path, which survives re-plugging. Exit status 0 "
                       "when linked, 3 when not (why, and the command for root, on standard error)."),
        QStringLiteral("N"));
    const QCommandLineOption json(QStringLiteral("json"),
        QStringLiteral("Progress as JSON, one event per line, on standard output."));
    const QCommandLineOption log(QStringLiteral("log"),
        QStringLiteral("Append one JSON line describing the update to FILE."), QStringLiteral("FILE"));
    p.addOptions({port, device, config, lab, info, trace, listPorts, setPort, json, log});
    p.addPositionalArgument(QStringLiteral("IMAGE"), QStringLiteral("Firmware image (*.bin)."));

    if (!p.parse(arguments))
        return usageError(p.errorText());
    if (p.isSet(help)) {
        writeOut(p.helpText() + exitStatusHelp());
        return ExitOk;
    }
    if (p.isSet(version)) {
        writeOut(QStringLiteral("torvex-flash %1\n").arg(programVersion()));
        return ExitOk;
    }
    opts.configDir = p.isSet(config) ? QDir(p.value(config)).absolutePath()
                                     : QCoreApplication::applicationDirPath();
    opts.listPorts = p.isSet(listPorts);
    if (opts.listPorts)
        return -1;
    if (p.isSet(setPort)) {
        bool ok = false;
        opts.setPort = p.value(setPort).toInt(&ok);
        if (!ok || opts.setPort < 1 || opts.setPort > 255)
            return usageError(QStringLiteral("--set-port takes a number from 1 to 255"));
        if (p.positionalArguments().size() != 1)
            return usageError(QStringLiteral("--set-port N takes the serial device's PATH, "
                                             "for example /dev/serial/by-id/usb-..."));
        opts.image = p.positionalArguments().constFirst();
        return -1;
    }
    if (p.isSet(port) && p.isSet(device))
        return usageError(QStringLiteral("--port and --device exclude each other"));
    if (p.isSet(port)) {
        bool ok = false;
        opts.port.number = p.value(port).toInt(&ok);
        if (!ok || opts.port.number < 1 || opts.port.number > 255)
            return usageError(QStringLiteral("--port takes a number from 1 to 255"));
    }
    opts.port.device = p.value(device);
    if (p.isSet(device) && opts.port.device.isEmpty())
        return usageError(QStringLiteral("--device takes a path"));
    if (p.positionalArguments().size() != 1)
        return usageError(QStringLiteral("give exactly one IMAGE"));
    opts.image = p.positionalArguments().constFirst();
    opts.lab = p.isSet(lab);
    opts.info = p.isSet(info);
    opts.trace = p.isSet(trace);
    opts.json = p.isSet(json);
    opts.logFile = p.value(log);
    if (p.isSet(log) && opts.logFile.isEmpty())
        return usageError(QStringLiteral("--log takes a file name"));
    return -1;
}

// Arguments are decoded as UTF-8: other bytes cannot name the file any more.
bool refuseInexactPath(const QString &path, const char *what = "file")
{
    if (pathIsExact(path))
        return false;
    writeErr(QStringLiteral("error: the name %1 is not valid UTF-8 and cannot be opened as given: "
                            "rename the %2 or its folder\n").arg(path, QString::fromLatin1(what)));
    return true;
}

int showInfo(const Options &opts, const Configuration &config)
{
    if (refuseInexactPath(opts.image))
        return ExitImageRefused;
    const bool progMode = opts.lab || config.progMode;
    const auto bytes = readImage(opts.image);
    const auto f = bytes ? imageFactsOf(*bytes, progMode) : std::nullopt;
    if (!f) {
        writeErr(QStringLiteral("error: cannot read %1: not a readable regular file of at most 2 GiB\n")
                     .arg(opts.image));
        return ExitImageRefused;
    }
    const qint64 wire = wireBytes(f->size);
    const bool accepted = verdictMessage(f->verdict).isEmpty();
    QString text;
    const auto row = [&](const char *name, const QString &value) {
        text += QString::fromLatin1(name).leftJustified(14) + value + QLatin1Char('\n');
    };
    row("File:", opts.image);
    row("Version:", printableField(f->version));
    row("Model:", printableField(f->model));
    row("Boot loader:", printableField(f->bootLevel));
    row("Build tag:", QLatin1Char('"') + printableField(f->tag) + QLatin1Char('"'));
    row("Lab build:", f->lab ? QStringLiteral("yes") : QStringLiteral("no"));
    row("Size:", QStringLiteral("%1 bytes").arg(f->size));
    row("Blocks:", QStringLiteral("%1 of at most 98 bytes").arg(blockCount(f->size)));
    row("Wire time:", QStringLiteral("%1 s (%2 bytes at %3 baud 8N1, erase not included)")
                          .arg(wireSeconds(wire), 0, 'f', 3).arg(wire).arg(WireBaud));
    row("Accepted:", accepted ? QStringLiteral("yes")
                              : QStringLiteral("no: ") + verdictMessage(f->verdict));
    writeOut(text);
    return accepted ? ExitOk : ExitImageRefused;
}

void traceBytes(CommPort::Direction direction, const QByteArray &bytes, qint64 ns)
{
    if (bytes.isEmpty())
        return;
    writeErr(QStringLiteral("%1 %2 %3\n")
                 .arg(double(ns) / 1e9, 11, 'f', 6)
                 .arg(direction == CommPort::Direction::Out ? QLatin1Char('>') : QLatin1Char('<'))
                 .arg(QString::fromLatin1(bytes.toHex(' '))));
}

// One line for a technician whose update was stopped by a signal.
QString interruptionNote(const UpdateReport &report, int signalNumber)
{
    QString where;
    switch (report.stage) {
    case UpdateStage::WakeUp: where = QStringLiteral("while waking the boot loader"); break;
    case UpdateStage::Identify: where = QStringLiteral("while identifying the indicator"); break;
    case UpdateStage::Erase: where = QStringLiteral("while the flash was being erased"); break;
    case UpdateStage::WriteMode: where = QStringLiteral("while entering write mode"); break;
    case UpdateStage::Write:
        where = QStringLiteral("while writing, %1 of %2 bytes acknowledged").arg(report.sent).arg(report.total);
        break;
    case UpdateStage::EndWrite: where = QStringLiteral("while ending write mode, all blocks written"); break;
    case UpdateStage::Reset: where = QStringLiteral("before the reset, all blocks written"); break;
    }
    const bool early = report.stage == UpdateStage::WakeUp || report.stage == UpdateStage::Identify;
    return QStringLiteral("torvex-flash: stopped by %1 %2; the indicator %3 left in its boot loader "
                          "and needs a new update.\n")
        .arg(StopSignals::signalName(signalNumber), where,
             early ? QStringLiteral("may be") : QStringLiteral("is"));
}

int update(const Options &opts, const Configuration &config, StopSignals &stops)
{
    // Tracing interleaves with the output: no line redrawn in place then.
    TerminalView terminal(stdoutIsTerminal() && !opts.trace);
    JsonLines lines;
    UpdateEvents events(opts.json ? [&lines](const QJsonObject &e) { lines.write(e); } : UpdateEvents::Sink());
    EventView reporter(opts.json ? nullptr : &terminal, events);
    // Events are only made for --json and --log.
    const bool reported = opts.json || !opts.logFile.isEmpty();
    UpdateView &view = reported ? static_cast<UpdateView &>(reporter) : terminal;
    events.describeRun(opts.port.number ? QStringLiteral("com%1").arg(opts.port.number) : opts.port.device,
                       opts.image);
    const QDateTime startedUtc = QDateTime::currentDateTimeUtc();
    // Every way out: the end event and the update log's line.
    const auto end = [&](int status, const UpdateReport *report, const QString &error = {}) {
        if (!reported)
            return status;
        const QJsonObject event = events.end(status, report, error);
        if (!opts.logFile.isEmpty())
            if (const QString failed = appendUpdateLog(opts.logFile, event, startedUtc); !failed.isEmpty())
                writeErr(QStringLiteral("error: update log %1: %2\n").arg(opts.logFile, failed));
        return status;
    };
    ImageSelection selection;
    selection.ProgMode = opts.lab || config.progMode;
    selection.dialogFileName = opts.image;
    if (refuseInexactPath(opts.image))
        return ExitImageRefused;
    // The file is read once: its facts and the update's bytes come from this read.
    const auto bytes = readImage(opts.image);
    const auto facts = bytes ? imageFactsOf(*bytes, selection.ProgMode) : std::nullopt;
    if (!facts) {
        writeErr(QStringLiteral("error: cannot read %1: not a readable regular file of at most 2 GiB\n")
                     .arg(opts.image));
        return end(ExitImageRefused, nullptr, QStringLiteral("image unreadable"));
    }
    if (showCheckedImage(view, selection, opts.image, facts->verdict, facts->version, facts->size)
        == SelectOutcome::Rejected)
        return end(ExitImageRefused, nullptr);
    selection.image = *bytes;

    if (!opts.port.device.isEmpty() && refuseInexactPath(opts.port.device, "device link"))
        return end(ExitPortUnusable, nullptr, QStringLiteral("device name not valid UTF-8"));
    Link link;
    QObject::connect(&stops, &StopSignals::stopRequested, &link, &Link::requestStop);
    if (stops.received())
        return end(stops.exitStatus(), nullptr);
    if (opts.trace)
        link.com1.setTracer(traceBytes);
    const PortReady port = preparePort(link, config, opts.port);
    if (!port.ok) {
        writeErr(QStringLiteral("error: port unusable: %1\n").arg(port.failure));
        if (!port.hint.isEmpty())
            writeErr(QStringLiteral("hint: %1\n").arg(port.hint));
        return end(ExitPortUnusable, nullptr, port.failure);
    }
    events.portReady(link.com1.commPort() ? QStringLiteral("com%1").arg(link.com1.commPort()) : opts.port.device,
                     link.com1.deviceName());
    // Only a run that reaches the indicator reports the image.
    events.imageChecked(*facts);
    if (!opts.json)
        writeOut(QStringLiteral("Image %1: version %2, %3 bytes%4\nPort %5\n")
                 .arg(opts.image, printableField(facts->version), QString::number(facts->size),
                      facts->verdict == ImageVerdict::AcceptedLab ? QStringLiteral(", laboratory build") : QString(),
                      link.com1.deviceName()));

    const UpdateReport report = cmdProgram_Click(view, link, selection);
    link.com1.close();
    if (report.outcome == UpdateOutcome::Interrupted) {
        writeErr(interruptionNote(report, stops.received()));
        return end(stops.exitStatus(), &report);
    }
    QString lost;
    const QString portName = link.com1.commPort() ? QStringLiteral("com%1").arg(link.com1.commPort()) : opts.port.device;
    if (exitCodeFor(report) == ExitPortLost) {
        lost = QStringLiteral("port lost: %1 (%2): %3")
                   .arg(portName, link.com1.deviceName(),
                        link.com1.lastErrorString().isEmpty() ? QStringLiteral("the device is gone")
                                                              : link.com1.lastErrorString());
        writeErr(QStringLiteral("error: %1\n").arg(lost));
    } else if (report.portFailed && report.outcome != UpdateOutcome::Ok) {
        lost = QStringLiteral("%1 could not be opened again: %2").arg(link.com1.deviceName(), link.com1.lastErrorString());
        writeErr(QStringLiteral("error: %1\n").arg(lost));
    }
    return end(exitCodeFor(report), &report, lost);
}

}  // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("torvex-flash"));
    QCoreApplication::setApplicationVersion(programVersion());
    ignoreBrokenPipe();
    StopSignals stops;

    Options opts;
    if (const int status = parseArguments(QCoreApplication::arguments(), opts); status >= 0)
        return status;
    const Configuration config = readConfiguration(opts.configDir);
    if (opts.listPorts)
        return listPorts(config);
    if (opts.setPort)
        return setPort(opts.setPort, opts.image, config);
    if (opts.info)
        return showInfo(opts, config);
    return update(opts, config, stops);
}
