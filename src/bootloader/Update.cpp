#include "bootloader/Update.h"

#include <QBuffer>
#include <QFile>
#include <algorithm>
#include <array>
#include <cstdint>

#include "bootloader/BootLoaderFuncs.h"
#include "bootloader/UpdateView.h"
#include "image/FilePaths.h"
#include "image/FileSelection.h"
#include "image/ImageFile.h"
#include "link/Exchange.h"
#include "link/Link.h"
#include "protocol/frames.h"

namespace {

const QString CRLF = QStringLiteral("\r\n");

bool modelIsServed(const Link &link)
{
    return link.RxBuffer[18] == 'K' && link.RxBuffer[19] == 'D' && link.RxBuffer[20] == '7';
}

CmdResult endWriteMode(Link &link, UpdateView &view, UpdateReport &report,
                       std::array<std::uint8_t, RxBufferSize> &blockData)
{
    const CmdResult r = funSendBlock(link, blockData, 0, 0, EndWriteTimeMs);
    if (r != CmdResult::Ack && !link.stopRequested()) {
        report.endWriteRefused = true;
        view.showMessage(QStringLiteral("Error al salir del modo escritura flash"), BoxIcon::None);
    }
    return r;
}

UpdateReport finish(UpdateView &view, Link &link, UpdateReport report, UpdateOutcome outcome)
{
    // A stop, like any end, leaves no reply owed on the line: the next run
    // would take it for its own.
    link.awaitOwedReplies();
    report.outcome = link.stopRequested() ? UpdateOutcome::Interrupted : outcome;
    report.portFailed = link.portFailed();
    report.portLost = link.portLost();
    view.EnableButtons();
    return report;
}

void enterStage(UpdateView &view, UpdateReport &report, UpdateStage stage)
{
    report.stage = stage;
    view.stageStarted(stage);
}


QString progress(const QString &saved, qint64 sent, const QString &total)
{
    return saved + QLatin1Char('(') + QString::number(sent) + QLatin1Char('/') + total + QLatin1Char(')');
}

// Up to three attempts; the exchange engine waits out a suspect line before
// each, so a retry's reply cannot be an earlier attempt's.
CmdResult sendBlock(Link &link, UpdateReport &report, std::span<const std::uint8_t> block, int length,
                    std::uint8_t sequence)
{
    CmdResult r = CmdResult::NoReply;
    for (int attempt = 0; attempt < BlockAttempts && r != CmdResult::Ack && !link.stopRequested()
                          && !link.lineUnusable(); ++attempt) {
        if (attempt > 0)
            ++report.retries;
        r = funSendBlock(link, block, length, sequence, BlockTimeMs);
    }
    return r;
}

UpdateReport writeFailed(UpdateView &view, Link &link, UpdateReport &report,
                         std::array<std::uint8_t, RxBufferSize> &blockData)
{
    view.showMessage(QStringLiteral("Error al escribir en flash"), BoxIcon::None);
    appendStatus(view, CRLF);
    appendStatus(view, QStringLiteral("Write Fail!!."));
    appendStatus(view, CRLF);
    enterStage(view, report, UpdateStage::EndWrite);
    if (!link.stopRequested())
        funResyncLink(link);
    endWriteMode(link, view, report, blockData);
    return finish(view, link, report, UpdateOutcome::WriteFailed);
}

enum class Ending {
    Acknowledged,     // last block and end of write acknowledged on a clean line
    NotAcknowledged,  // last block acknowledged on a clean line; end of write not
    LastBlockInDoubt,
    Stopped,
};

// A reply that is not the indicator's (a copy, a line repeating one) comes
// back at its own pace, about as long after a frame as recent replies took:
// a watch of three times that shows it. A recent reply far slower than the rest may
// itself have been such a stand-in for a busy indicator: then the watch lasts
// a block's time limit, and a line that stays quiet clears that doubt.
void watch(Link &link)
{
    const bool standsOut = link.recentReplyStandsOut();
    const quint64 before = link.suspectEvents();
    link.listen(standsOut ? BlockTimeMs : qBound(EndListenMs, 3 * link.recentReplyMs(), BlockTimeMs));
    if (standsOut && link.suspectEvents() == before)
        link.forgetRecentReplies();
}

// Neither the end-of-write frame nor the reset carries a sequence number, so
// a reply shifted by one would turn a lost last block into a success. The
// last block's acknowledgement stands only if nothing follows it before the
// end frame goes out, and nothing but the end's own reply follows that: a
// shifted sequence shows its reply over within milliseconds. Otherwise the
// line is waited out (by the engine) and the last block goes again with its
// sequence number; the indicator writes it again while write mode is on, and
// refuses it once the end frame has been taken, when nothing can be proven.
Ending endWrite(UpdateView &view, Link &link, UpdateReport &report, std::array<std::uint8_t, RxBufferSize> &blockData,
                int lastLength, std::uint8_t lastSequence, const QString &saved, qint64 toSend, const QString &total)
{
    for (int round = 1;; ++round) {
        const quint64 mark = link.eventsAtLastSend();
        watch(link);
        if (link.stopRequested())
            return Ending::Stopped;
        if (link.suspectEvents() == mark) {
            const CmdResult r = funSendBlock(link, blockData, 0, 0, EndWriteTimeMs);
            const quint64 afterEnd = link.suspectEvents();
            if (r == CmdResult::Ack || r == CmdResult::Refused) {
                watch(link);
                if (link.stopRequested())
                    return Ending::Stopped;
                if (link.suspectEvents() == afterEnd)
                    return r == CmdResult::Ack ? Ending::Acknowledged : Ending::NotAcknowledged;
            } else if (!link.lastReplyDoubtful()) {
                // No reply, or a garbled one: what failed is the end, not the block.
                return link.stopRequested() ? Ending::Stopped : Ending::NotAcknowledged;
            }
        }
        if (round == EndRounds || link.lineUnusable() || link.stopRequested())
            return link.stopRequested() ? Ending::Stopped : Ending::LastBlockInDoubt;
        view.setStatusText(progress(saved, toSend - lastLength, total));
        ++report.retries;
        if (sendBlock(link, report, blockData, lastLength, lastSequence) != CmdResult::Ack)
            return link.stopRequested() ? Ending::Stopped : Ending::LastBlockInDoubt;
        view.setStatusText(progress(saved, toSend, total));
    }
}

}  // namespace

QString stageName(UpdateStage stage)
{
    switch (stage) {
    case UpdateStage::WakeUp: return QStringLiteral("wake-up");
    case UpdateStage::Identify: return QStringLiteral("identify");
    case UpdateStage::Erase: return QStringLiteral("erase");
    case UpdateStage::WriteMode: return QStringLiteral("write mode");
    case UpdateStage::Write: return QStringLiteral("write");
    case UpdateStage::EndWrite: return QStringLiteral("end of write");
    case UpdateStage::Reset: return QStringLiteral("reset");
    }
    return {};
}

UpdateReport cmdProgram_Click(UpdateView &view, Link &link, ImageSelection &selection)
{
    UpdateReport report;
    link.beginUpdate();
    view.DisableButtons();

    // The image is read once, here or by the caller: what is written,
    // reported and hashed are the same bytes, whatever happens to the file
    // meanwhile. A file that cannot
    // be read (a later selection was cancelled or failed while an earlier
    // file is still shown) is treated like no file at all, before the status
    // text is touched or anything is sent.
    QFile file(selection.dialogFileName);
    const auto size = imageFileSize(selection.dialogFileName);
    QByteArray image = selection.image;
    if (image.isEmpty() && !view.fileText().isEmpty() && size && file.open(QIODevice::ReadOnly))
        image = file.readAll();
    file.close();
    if (image.isEmpty() || (selection.image.isEmpty() && image.size() != *size)) {
        view.showMessage(QStringLiteral("First select a valid file"), BoxIcon::Error);
        return finish(view, link, report, UpdateOutcome::NoFile);
    }
    view.setStatusText(QString());

    QBuffer snapshot(&image);
    snapshot.open(QIODevice::ReadOnly);
    selection.FileSize = std::int32_t(image.size());
    view.setFileSizeText(QString::number(image.size()));
    view.setFileVersionText(funFileVersion(snapshot));
    view.imageTaken(image);
    if (link.stopRequested())
        return finish(view, link, report, UpdateOutcome::Interrupted);

    enterStage(view, report, UpdateStage::WakeUp);
    funEnterBootLoader(link);
    if (!link.stopRequested())
        funResyncLink(link);
    enterStage(view, report, UpdateStage::Identify);
    QString chipName;
    const bool identified = funIdentify(link, chipName);
    if (link.stopRequested())
        return finish(view, link, report, UpdateOutcome::Interrupted);
    if (!identified) {
        view.showMessage(QStringLiteral("Can't connect with indicator."), BoxIcon::Error);
        return finish(view, link, report, UpdateOutcome::NoConnection);
    }

    view.setStatusText(QStringLiteral("Connection with indicator Ok.") + QStringLiteral(" Flash:")
                       + chipName + CRLF);
    if (modelIsServed(link)) {
        appendStatus(view, QStringLiteral("Indicator software version: "));
        for (int i = 10; i <= 17; ++i)
            appendStatus(view, QString(QChar(link.RxBuffer[size_t(i)])));
    }
    view.indicatorIdentified({replyChars(link, 18, 3), replyChars(link, 10, 8), chipName});
    appendStatus(view, CRLF);
    appendStatus(view, QStringLiteral("Erasing flash ."));
    view.setBusyPointer();

    enterStage(view, report, UpdateStage::Erase);
    if (funEraseFlash(link, view) != CmdResult::Ack) {
        if (link.stopRequested())
            return finish(view, link, report, UpdateOutcome::Interrupted);
        appendStatus(view, QStringLiteral(".. Fail !"));
        view.showMessage(QStringLiteral("Fail erasing the flash"), BoxIcon::Error);
        return finish(view, link, report, UpdateOutcome::EraseFailed);
    }
    if (link.stopRequested())
        return finish(view, link, report, UpdateOutcome::Interrupted);
    appendStatus(view, CRLF);
    appendStatus(view, QStringLiteral("Flash erase finished ok."));
    appendStatus(view, CRLF);
    appendStatus(view, QStringLiteral("Writing program to flash  "));

    const qint64 toSend = view.fileSizeText().toLongLong();
    report.total = toSend;
    enterStage(view, report, UpdateStage::WriteMode);
    const CmdResult writeMode = funSendCommand(link, 'W', 0, 0, proto::ShortReplyLength,
                                               WriteModeTimeMs, true);
    const QString saved = view.statusText();
    if (writeMode != CmdResult::Ack) {
        if (link.stopRequested())
            return finish(view, link, report, UpdateOutcome::Interrupted);
        view.showMessage(QStringLiteral("Can't connect with indicator."), BoxIcon::Error);
        return finish(view, link, report, UpdateOutcome::WriteModeFailed);
    }

    enterStage(view, report, UpdateStage::Write);
    link.forgetReplyTimes();
    link.ensureOpen();
    std::array<std::uint8_t, RxBufferSize> blockData{};
    std::uint8_t sequence = 0;
    qint64 sent = 0;
    int length = 0;
    const QString total = QString::number(toSend);
    while (sent < toSend) {
        if (link.stopRequested())
            return finish(view, link, report, UpdateOutcome::Interrupted);
        view.setStatusText(progress(saved, sent, total));
        length = int(qMin<qint64>(proto::MaxBlockLength, toSend - sent));
        std::copy_n(image.constData() + sent, length, reinterpret_cast<char *>(blockData.data()));
        // Middle blocks are guarded by the indicator's sequence check; the
        // last one is not: a copy of the reply before it must show first.
        if (sent + length == toSend)
            watch(link);
        const CmdResult r = sendBlock(link, report, blockData, length, sequence);
        ++sequence;
        if (link.stopRequested())
            return finish(view, link, report, UpdateOutcome::Interrupted);
        if (r != CmdResult::Ack)
            return writeFailed(view, link, report, blockData);
        ++report.blocks;
        sent += length;
        report.sent = sent;
        view.blockAcknowledged(sent, toSend, report.retries);
    }
    view.setStatusText(progress(saved, toSend, total));

    enterStage(view, report, UpdateStage::EndWrite);
    const Ending ending = endWrite(view, link, report, blockData, length, std::uint8_t(sequence - 1), saved,
                                   toSend, total);
    if (ending == Ending::Stopped)
        return finish(view, link, report, UpdateOutcome::Interrupted);
    if (ending == Ending::LastBlockInDoubt) {
        report.blocks = qMax(0, report.blocks - 1);
        report.sent = toSend - length;
        view.setStatusText(progress(saved, report.sent, total));
        return writeFailed(view, link, report, blockData);
    }
    if (ending == Ending::NotAcknowledged) {
        report.endWriteRefused = true;
        view.showMessage(QStringLiteral("Error al salir del modo escritura flash"), BoxIcon::None);
    }
    appendStatus(view, CRLF);
    appendStatus(view, QStringLiteral("Program update Ok."));
    appendStatus(view, CRLF);
    appendStatus(view, QStringLiteral("Reseting indicator."));
    appendStatus(view, CRLF);

    enterStage(view, report, UpdateStage::Reset);
    if (link.stopRequested())
        return finish(view, link, report, UpdateOutcome::Interrupted);
    // The reset is acknowledged on a clean line or not at all: the engine
    // waits out any doubt before it, and a doubtful reply counts as none.
    const CmdResult reset = funSendCommand(link, 'S', proto::GuardValue, 0,
                                           proto::ShortReplyLength, ResetTimeMs, true);
    UpdateOutcome outcome = report.endWriteRefused ? UpdateOutcome::EndWriteRefused : UpdateOutcome::Ok;
    if (reset != CmdResult::Ack && !link.stopRequested()) {
        view.showMessage(QStringLiteral("Fail reseting indicator."), BoxIcon::Error);
        outcome = UpdateOutcome::ResetFailed;
    }
    return finish(view, link, report, outcome);
}
