#include "image/FileSelection.h"

#include <QFile>
#include <QFileInfo>
#include <limits>

#include "image/FilePaths.h"
#include "image/ImageFile.h"
#include "image/SelectionView.h"

namespace {

void resetDisplay(SelectionView &view, ImageSelection &selection)
{
    view.setProgramEnabled(false);
    view.setFileText(QString());
    selection.FileSize = 0;
    view.setFileSizeText(QString::fromLatin1(NoValue));
    view.setFileVersionText(QString::fromLatin1(NoValue));
    view.setLabVisible(false);
}

}  // namespace

SelectOutcome checkAndShowImage(SelectionView &view, ImageSelection &selection,
                                const QString &path)
{
    if (!imageFileSize(path))
        return SelectOutcome::Unreadable;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return SelectOutcome::Unreadable;
    ImageVerdict verdict;
    QString version;
    try {
        verdict = classifyImage(file, selection.ProgMode);
        version = funFileVersion(file);
    } catch (const ImageReadError &) {
        return SelectOutcome::Unreadable;
    }
    return showCheckedImage(view, selection, path, verdict, version, file.size());
}

SelectOutcome showCheckedImage(SelectionView &view, ImageSelection &selection, const QString &path,
                               ImageVerdict verdict, const QString &version, qint64 size)
{
    if (size > std::numeric_limits<std::int32_t>::max())
        return SelectOutcome::Unreadable;

    switch (verdict) {
    case ImageVerdict::WrongModel:
    case ImageVerdict::WrongBootLevel:
        view.showMessage(verdictMessage(verdict), BoxIcon::Error);
        resetDisplay(view, selection);
        return SelectOutcome::Rejected;
    case ImageVerdict::LabRefused:
        view.setLabVisible(false);
        view.setProgramEnabled(false);
        view.showMessage(verdictMessage(verdict), BoxIcon::Error);
        return SelectOutcome::Rejected;
    case ImageVerdict::Accepted:
    case ImageVerdict::AcceptedLab:
        break;
    }
    view.setLabVisible(verdict == ImageVerdict::AcceptedLab);
    view.setFileText(path);
    view.setProgramEnabled(true);
    selection.FileSize = std::int32_t(size);
    view.setFileSizeText(QString::number(size));
    view.setFileVersionText(version);
    return SelectOutcome::Accepted;
}

void cmdSelFile_Click(SelectionView &view, ImageSelection &selection)
{
    selection.dialogFileName.clear();
    const auto chosen = view.chooseFile({QString(), QStringLiteral("bin"),
                                         QStringLiteral(" Fichero binario(*.bin)|*.bin"),
                                         selection.lastFolder});
    if (!chosen)
        return;
    selection.dialogFileName = *chosen;
    selection.lastFolder = QFileInfo(*chosen).absolutePath();
    checkAndShowImage(view, selection, *chosen);
}
