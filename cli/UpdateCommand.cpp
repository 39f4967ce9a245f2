#include "UpdateCommand.h"

#include "Arguments.h"
#include "Console.h"
#include "EndNotes.h"
#include "EventView.h"
#include "ImageLoad.h"
#include "PortSetup.h"
#include "ReportWords.h"
#include "RunRecord.h"
#include "TerminalView.h"
#include "Trace.h"
#include "app/core/StopSignals.h"
#include "image/FileSelection.h"
#include "link/Link.h"

namespace {

// How the events name a port: "comN", or the device as given.
QString portWord(int number, const QString &device)
{
    return number ? QStringLiteral("com%1").arg(number) : device;
}

}  // namespace

int update(const Options &opts, const Configuration &config, StopSignals &stops, RunRecord &record)
{
    // Tracing interleaves with the output: no line redrawn in place then.
    TerminalView terminal(stdoutIsTerminal() && !opts.trace);
    UpdateEvents &events = record.events();
    EventView reporter(opts.json ? nullptr : &terminal, events);
    UpdateView &view = record.wanted() ? static_cast<UpdateView &>(reporter) : terminal;
    events.describeRun(portWord(opts.port.number, opts.port.device), opts.image);

    ImageSelection selection;
    selection.ProgMode = opts.lab;
    selection.dialogFileName = opts.image;
    const LoadedImage image = loadImage(opts.image, selection.ProgMode);
    if (!image.failure.isEmpty())
        return record.end(ExitImageRefused, nullptr, image.failure);
    const ImageFacts &facts = image.facts;
    if (showCheckedImage(view, selection, opts.image, facts.verdict, facts.version, facts.size)
        == SelectOutcome::Rejected)
        return record.end(ExitImageRefused);
    selection.image = image.bytes;

    if (!opts.port.device.isEmpty() && refuseInexactName(opts.port.device, "device link"))
        return record.end(ExitPortUnusable, nullptr, QStringLiteral("device name not valid UTF-8"));
    Link link;
    QObject::connect(&stops, &StopSignals::stopRequested, &link, &Link::requestStop);
    if (stops.received())
        return record.end(stops.exitStatus());
    if (opts.trace)
        link.com1.setTracer(traceBytes);
    link.setDoubtObserver([&events, trace = opts.trace](const trust::Doubt &d) {
        if (trace)
            traceDoubt(d);
        events.doubt(d);
    });
    const PortReady port = preparePort(link, config, opts.port);
    if (!port.ok) {
        writeErr(QStringLiteral("error: port unusable: %1\n").arg(port.failure));
        if (!port.hint.isEmpty())
            writeErr(QStringLiteral("hint: %1\n").arg(port.hint));
        return record.end(ExitPortUnusable, nullptr, port.failure);
    }
    const QString portName = portWord(link.com1.commPort(), opts.port.device);
    events.portReady(portName, link.com1.deviceName());
    // Only a run that reaches the indicator reports the image.
    events.imageChecked(facts);
    if (!opts.json)
        writeOut(QStringLiteral("Image %1: version %2, %3 bytes%4\nPort %5\n")
                 .arg(opts.image, printableField(facts.version), QString::number(facts.size),
                      facts.verdict == ImageVerdict::AcceptedLab ? QStringLiteral(", laboratory build") : QString(),
                      link.com1.deviceName()));

    const UpdateReport report = cmdProgram_Click(view, link, selection);
    link.com1.close();
    if (report.outcome == UpdateOutcome::Interrupted) {
        writeErr(interruptionNote(report, stops.received()));
        return record.end(stops.exitStatus(), &report);
    }
    const QString failure = portFailureText(report, link.com1, portName);
    if (!failure.isEmpty())
        writeErr(QStringLiteral("error: %1\n").arg(failure));
    writeErr(doubtNote(report));
    return record.end(exitCodeFor(report), &report, failure);
}
