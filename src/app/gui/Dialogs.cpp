#include "app/gui/Dialogs.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QStringList>

#include "app/core/StartUp.h"

QString qtNameFilter(const QString &filter)
{
    QStringList out;
    const QStringList parts = filter.split(QLatin1Char('|'));
    for (int i = 0; i + 1 < parts.size(); i += 2)
        out << parts[i];
    return out.join(QStringLiteral(";;"));
}

std::optional<QString> askForImage(QWidget *parent, const FileDialogRequest &request)
{
    QFileDialog dialog(parent);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setDefaultSuffix(request.defaultSuffix);
    dialog.setNameFilter(qtNameFilter(request.filter));
    if (!request.directory.isEmpty())
        dialog.setDirectory(request.directory);
    dialog.selectFile(request.fileName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().constFirst();
}

void showBox(QWidget *parent, const QString &text, BoxIcon icon)
{
    QMessageBox box(icon == BoxIcon::Error ? QMessageBox::Critical : QMessageBox::NoIcon,
                    QString::fromLatin1(AppTitle), text, QMessageBox::Ok, parent);
    box.exec();
}
