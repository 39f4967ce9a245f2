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
    report.doubt = link.trust().deciding();
    if (!report.doubt && !link.trust().doubts().empty())
        report.doubt = link.trust().doubts().back();
    view.EnableButtons();
    return report;
}

void enterStage(UpdateView &view, UpdateReport &report, UpdateStage stage)
{
    report.stage = stage;
    view.stageStarted(stage);
}

bool unproven(const Link &link)
{
    return link.trust().verdict() == trust::Verdict::Unproven;
}

QString progress(const QString &saved, qint64 sent, const QString &total)
{
    return saved + QLatin1Char('(') + QString::number(sent) + QLatin1Char('/') + total + QLatin1Char(')');
}

// Up to three attempts; the exchange engine waits out a doubted line before
// each, so a retry's reply cannot be an earlier attempt's.
CmdResult sendBlock(Link &link, UpdateReport &report, std::span<const std::uint8_t> block, int length,
                    std::uint8_t sequence)
{
    CmdResult r = CmdResult::NoReply;
    for (int attempt = 0; attempt < BlockAttempts && r != CmdResult::Ack && !link.stopRequested()
                          && !link.lineUnusable() && !unproven(link); ++attempt) {
        if (attempt > 0)
            ++report.retries;
        r = funSendBlock(link, block, length, sequence, BlockTimeMs);
    }
    return r;
}

void showWriteFail(UpdateView &view)
{
    view.showMessage(QStringLiteral("Error al escribir en flash"), BoxIcon::None);
    appendStatus(view, CRLF);
    appendStatus(view, QStringLiteral("Write Fail!!."));
    appendStatus(view, CRLF);
}

UpdateReport writeFailed(UpdateView &view, Link &link, UpdateReport &report,
                         std::array<std::uint8_t, RxBufferSize> &blockData, UpdateOutcome outcome)
{
    showWriteFail(view);
    enterStage(view, report, UpdateStage::EndWrite);
    // Back to back, as the resync is specified: a doubt left by the failure
    // is the next update's to wait out, before its wake-up.
    link.setQuietWaits(false);
    if (!link.stopRequested())
        funResyncLink(link);
    endWriteMode(link, view, report, blockData);
    link.setQuietWaits(true);
    return finish(view, link, report, outcome);
}

enum class Ending {
    Acknowledged,     // end of write acknowledged, and nothing undid a take since
    NotAcknowledged,  // refused or unanswered; nothing undid a take
    Unproven,         // an extra reply undid the last block's or the end's reply
    Stopped,
};

struct EndProof {
    Ending ending;
    std::optional<trust::Doubt> spoiltBy;  // the doubt that left it unproven
};

// The end of write, proven: nothing but the reset may follow it (a block
// sent now could land outside write mode), so it is judged only once the
// line has shown whether a reply was taken in another's place. A doubted end
// (no reply, a damaged one) is waited out here, before "Program update Ok."
// is shown, rather than before the reset; a clean one is watched a whole
// recent reply time, long enough for the reply the end displaced, or the
// next repeat of a line repeating one, to show.
EndProof proveEnd(Link &link, std::array<std::uint8_t, RxBufferSize> &blockData)
{
    const CmdResult r = funSendBlock(link, blockData, 0, 0, EndWriteTimeMs);
    if (!link.stopRequested() && !unproven(link)) {
        if (link.trust().suspect())
            link.settle();
        else if (r == CmdResult::Ack || r == CmdResult::Refused)
            link.watch(link.trust().watchAfterEnd());
    }
    if (link.stopRequested())
        return {Ending::Stopped, {}};
    if (unproven(link))
        return {Ending::Unproven, link.trust().deciding()};
    return {r == CmdResult::Ack ? Ending::Acknowledged : Ending::NotAcknowledged, {}};
}

}  // namespace

UpdateStage stageOf(trust::Frame frame)
{
    switch (frame) {
    case trust::Frame::None:
    case trust::Frame::Resync: return UpdateStage::WakeUp;
    case trust::Frame::Identify: return UpdateStage::Identify;
    case trust::Frame::Erase: return UpdateStage::Erase;
    case trust::Frame::WriteMode: return UpdateStage::WriteMode;
    case trust::Frame::Block: return UpdateStage::Write;
    case trust::Frame::EndWrite: return UpdateStage::EndWrite;
    case trust::Frame::Reset: return UpdateStage::Reset;
    }
    return UpdateStage::WakeUp;
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
    if (link.trust().suspect()) {
        // The wake-up and the resync go back to back: replies an earlier
        // update left owed are waited out before either.
        view.setStatusText(QStringLiteral("Waiting for the line to go quiet: the last update left replies owed."));
        view.lineWait(true);
        const bool quiet = link.settle();
        view.lineWait(false);
        view.setStatusText(QString());
        if (link.stopRequested())
            return finish(view, link, report, UpdateOutcome::Interrupted);
        if (!quiet) {
            // A line that never goes quiet is sent nothing, not even the wake-up.
            view.showMessage(QStringLiteral("Can't connect with indicator."), BoxIcon::Error);
            return finish(view, link, report, UpdateOutcome::NoConnection);
        }
    }
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
    link.ensureOpen();
    std::array<std::uint8_t, RxBufferSize> blockData{};
    std::uint8_t sequence = 0;
    qint64 sent = 0;
    int length = 0, previousLength = 0, pullBacks = 0;
    const QString total = QString::number(toSend);
    while (sent < toSend) {
        if (link.stopRequested())
            return finish(view, link, report, UpdateOutcome::Interrupted);
        view.setStatusText(progress(saved, sent, total));
        length = int(qMin<qint64>(proto::MaxBlockLength, toSend - sent));
        if (sent + length == toSend) {
            // Middle blocks are guarded by the indicator's sequence check; the
            // last one is not: a reply still on its way must land before it.
            link.watch(link.trust().watchBeforeLastBlock());
            if (link.trust().verdict() == trust::Verdict::Void && previousLength > 0 && pullBacks < BlockAttempts) {
                // The block before was answered twice: it goes again.
                ++pullBacks;
                ++report.retries;
                --report.blocks;
                --sequence;
                sent -= previousLength;
                report.sent = sent;
                continue;
            }
        }
        std::copy_n(image.constData() + sent, length, reinterpret_cast<char *>(blockData.data()));
        CmdResult r = sendBlock(link, report, blockData, length, sequence);
        // No later block guards the last one: an acknowledgement far slower
        // than the writing's usual may have stood in for a block that never
        // arrived. Asked again, the indicator writes it (again) and answers
        // at its own pace.
        for (int asked = 1; sent + length == toSend && r == CmdResult::Ack && asked < BlockAttempts
                            && link.trust().lastReplyStandsOut() && !link.stopRequested(); ++asked) {
            ++report.retries;
            r = sendBlock(link, report, blockData, length, sequence);
        }
        ++sequence;
        if (link.stopRequested())
            return finish(view, link, report, UpdateOutcome::Interrupted);
        if (unproven(link))
            return writeFailed(view, link, report, blockData, UpdateOutcome::Unproven);
        if (r != CmdResult::Ack)
            return writeFailed(view, link, report, blockData, UpdateOutcome::WriteFailed);
        ++report.blocks;
        sent += length;
        previousLength = length;
        report.sent = sent;
        view.blockAcknowledged(sent, toSend, report.retries);
    }
    view.setStatusText(progress(saved, toSend, total));

    enterStage(view, report, UpdateStage::EndWrite);
    const EndProof proof = proveEnd(link, blockData);
    const Ending ending = proof.ending;
    if (ending == Ending::Stopped)
        return finish(view, link, report, UpdateOutcome::Interrupted);
    if (ending == Ending::Unproven) {
        // Past the end of write nothing can be sent again: the update fails
        // as a write does, and says why.
        showWriteFail(view);
        report = finish(view, link, report, UpdateOutcome::Unproven);
        report.doubt = proof.spoiltBy;
        return report;
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
    // An extra reply with the reset's undoes it, and reaches back to the end
    // of write: the outcome is then unproven.
    const CmdResult reset = funSendCommand(link, 'S', proto::GuardValue, 0,
                                           proto::ShortReplyLength, ResetTimeMs, true);
    UpdateOutcome outcome = report.endWriteRefused ? UpdateOutcome::EndWriteRefused : UpdateOutcome::Ok;
    if (reset != CmdResult::Ack && !link.stopRequested()) {
        view.showMessage(QStringLiteral("Fail reseting indicator."), BoxIcon::Error);
        outcome = unproven(link) ? UpdateOutcome::Unproven : UpdateOutcome::ResetFailed;
    }
    return finish(view, link, report, outcome);
}
