#include "app/gui/ImageFields.h"

#include <QLabel>
#include <QLineEdit>

#include "app/gui/Dialogs.h"
#include "image/FileSelection.h"

namespace {

QLabel *label(QWidget *window, const char *name, const QString &text, const QString &toolTip = {})
{
    auto *l = new QLabel(text, window);
    l->setObjectName(QLatin1String(name));
    l->setToolTip(toolTip);
    l->setFocusPolicy(Qt::NoFocus);
    // Fields read from an image are shown as they are, never as markup.
    l->setTextFormat(Qt::PlainText);
    return l;
}

}  // namespace

ImageFields::ImageFields(QWidget *window, std::function<void(bool)> programEnabled)
    : file(new QLineEdit(window)),
      versionCaption(label(window, "Label2", QStringLiteral("Version:"))),
      version(label(window, "lblFileVersion", QString::fromLatin1(NoValue), QStringLiteral("Version of selected file"))),
      sizeCaption(label(window, "Label3", QStringLiteral("Size:"))),
      size(label(window, "lblFileSize", QString::fromLatin1(NoValue), QStringLiteral("Size of selected file"))),
      lab(label(window, "lblLabVersion", QStringLiteral("Lab. Version !!"))),
      m_window(window),
      m_programEnabled(std::move(programEnabled))
{
    file->setObjectName(QStringLiteral("txtFile"));
    file->setReadOnly(true);
    file->setToolTip(QStringLiteral("Program file"));
    QFont bold = lab->font();
    bold.setBold(true);
    lab->setFont(bold);
    lab->setAlignment(Qt::AlignCenter);
    lab->setAutoFillBackground(true);
    QPalette colours = lab->palette();
    colours.setColor(QPalette::Window, QColor(255, 0, 0));
    colours.setColor(QPalette::WindowText, QColor(255, 255, 0));
    lab->setPalette(colours);
    lab->hide();
}

std::optional<QString> ImageFields::chooseFile(const FileDialogRequest &request)
{
    return askForImage(m_window, request);
}

void ImageFields::showMessage(const QString &text, BoxIcon icon)
{
    showBox(m_window, text, icon);
}

QString ImageFields::fileText() const { return file->text(); }
void ImageFields::setFileText(const QString &path) { file->setText(path); }
QString ImageFields::fileSizeText() const { return size->text(); }
void ImageFields::setFileSizeText(const QString &text) { size->setText(text); }
void ImageFields::setFileVersionText(const QString &text) { version->setText(text); }
void ImageFields::setLabVisible(bool visible) { lab->setVisible(visible); }
void ImageFields::setProgramEnabled(bool enabled) { m_programEnabled(enabled); }
