#include "bootloader/Update.h"

#include <QFile>
#include <array>
#include <cstdint>

#include "bootloader/BootLoaderFuncs.h"
#include "bootloader/UpdateView.h"
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
    report.outcome = link.stopRequested() ? UpdateOutcome::Interrupted : outcome;
    report.portFailed = link.portFailed();
    view.EnableButtons();
    return report;
}

void enterStage(UpdateView &view, UpdateReport &report, UpdateStage stage)
{
    report.stage = stage;
    view.stageStarted(stage);
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
    link.clearPortFailed();
    // An earlier update's late replies are dropped by the first exchange.
    link.forgetLateReply();
    view.DisableButtons();

    // A file that cannot be opened (a later selection was cancelled or failed
    // while an earlier file is still shown) is treated like no file at all,
    // before the status text is touched or anything is sent.
    QFile image(selection.dialogFileName);
    const auto size = imageFileSize(selection.dialogFileName);
    if (view.fileText().isEmpty() || !size || !image.open(QIODevice::ReadOnly)) {
        view.showMessage(QStringLiteral("First select a valid file"), BoxIcon::Error);
        return finish(view, link, report, UpdateOutcome::NoFile);
    }
    view.setStatusText(QString());

    QString version;
    try {
        version = funFileVersion(image);
    } catch (const ImageReadError &) {
        version = QString::fromLatin1(NoValue);
    }
    selection.FileSize = std::int32_t(*size);
    view.setFileSizeText(QString::number(*size));
    view.setFileVersionText(version);
    image.seek(0);
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
    const QString total = QString::number(toSend);
    while (sent < toSend) {
        if (link.stopRequested())
            return finish(view, link, report, UpdateOutcome::Interrupted);
        view.setStatusText(saved + QLatin1Char('(') + QString::number(sent) + QLatin1Char('/')
                           + total + QLatin1Char(')'));
        const int length = int(qMin<qint64>(proto::MaxBlockLength, toSend - sent));
        // A file that shrank since it was opened must not be padded and
        // reported as written: it fails like a block the indicator refused.
        const bool complete = image.read(reinterpret_cast<char *>(blockData.data()), length) == length;
        CmdResult r = CmdResult::NoReply;
        // Retries go out at once; a late reply to an earlier attempt of the
        // same block acknowledges the same bytes.
        for (int attempt = 0; complete && attempt < BlockAttempts && r != CmdResult::Ack
                              && !link.stopRequested(); ++attempt) {
            if (attempt > 0)
                ++report.retries;
            r = funSendBlock(link, blockData, length, sequence, BlockTimeMs);
        }
        ++sequence;
        if (link.stopRequested())
            return finish(view, link, report, UpdateOutcome::Interrupted);
        // Whatever an earlier attempt still sends must be gone before the next frame.
        link.settle();
        if (r != CmdResult::Ack) {
            view.showMessage(QStringLiteral("Error al escribir en flash"), BoxIcon::None);
            image.close();
            appendStatus(view, CRLF);
            appendStatus(view, QStringLiteral("Write Fail!!."));
            appendStatus(view, CRLF);
            enterStage(view, report, UpdateStage::EndWrite);
            if (!link.stopRequested())
                funResyncLink(link);
            endWriteMode(link, view, report, blockData);
            return finish(view, link, report, UpdateOutcome::WriteFailed);
        }
        ++report.blocks;
        sent += length;
        report.sent = sent;
        view.blockAcknowledged(sent, toSend, report.retries);
    }
    view.setStatusText(saved + QLatin1Char('(') + total + QLatin1Char('/') + total
                       + QLatin1Char(')'));

    enterStage(view, report, UpdateStage::EndWrite);
    endWriteMode(link, view, report, blockData);
    if (link.stopRequested())
        return finish(view, link, report, UpdateOutcome::Interrupted);
    link.settle();
    appendStatus(view, CRLF);
    appendStatus(view, QStringLiteral("Program update Ok."));
    appendStatus(view, CRLF);
    appendStatus(view, QStringLiteral("Reseting indicator."));
    appendStatus(view, CRLF);

    enterStage(view, report, UpdateStage::Reset);
    if (link.stopRequested())
        return finish(view, link, report, UpdateOutcome::Interrupted);
    const CmdResult reset = funSendCommand(link, 'S', proto::GuardValue, 0,
                                           proto::ShortReplyLength, ResetTimeMs, true);
    UpdateOutcome outcome = report.endWriteRefused ? UpdateOutcome::EndWriteRefused : UpdateOutcome::Ok;
    if (reset != CmdResult::Ack && !link.stopRequested()) {
        view.showMessage(QStringLiteral("Fail reseting indicator."), BoxIcon::Error);
        outcome = UpdateOutcome::ResetFailed;
    }
    image.close();
    return finish(view, link, report, outcome);
}
