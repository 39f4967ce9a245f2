#include "EndNotes.h"

#include "ReportWords.h"
#include "app/core/StopSignals.h"
#include "link/CommPort.h"

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

QString portFailureText(const UpdateReport &report, const CommPort &port, const QString &portName)
{
    if (exitCodeFor(report) == ExitPortLost)
        return QStringLiteral("port lost: %1 (%2): %3")
            .arg(portName, port.deviceName(),
                 port.lastErrorString().isEmpty() ? QStringLiteral("the device is gone") : port.lastErrorString());
    if (report.portFailed && report.outcome != UpdateOutcome::Ok)
        return QStringLiteral("%1 could not be opened again: %2").arg(port.deviceName(), port.lastErrorString());
    return {};
}

QString doubtNote(const UpdateReport &report)
{
    if (!report.doubt || report.outcome == UpdateOutcome::Ok || report.outcome == UpdateOutcome::Interrupted)
        return {};
    const DoubtMeaning &d = doubtMeaning(report.doubt->cause);
    QString what = QString::fromLatin1(d.meaning);
    if (report.outcome == UpdateOutcome::Unproven)
        what += QStringLiteral(", so a reply taken earlier may have been another frame's; the flash may not hold "
                               "the image");
    return QStringLiteral("torvex-flash: the line (%1, during %2): %3. What to do: %4.\n")
        .arg(d.cause, stageWord(stageOf(report.doubt->frame)), what, QLatin1String(d.action));
}
