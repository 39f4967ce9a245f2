#pragma once
// The image part of a window: the file field, the version and size labels
// with their captions, and the laboratory label, as the file selection fills
// them. Each window places the widgets itself.

#include <functional>

#include "image/SelectionView.h"

class QLabel;
class QLineEdit;
class QWidget;

class ImageFields : public SelectionView {
public:
    // The widgets become children of `window`, which also parents the dialog
    // and the boxes; `programEnabled` is told whether the image may be written.
    ImageFields(QWidget *window, std::function<void(bool)> programEnabled);

    QLineEdit *const file;
    QLabel *const versionCaption;
    QLabel *const version;
    QLabel *const sizeCaption;
    QLabel *const size;
    QLabel *const lab;

    std::optional<QString> chooseFile(const FileDialogRequest &request) override;
    void showMessage(const QString &text, BoxIcon icon) override;
    QString fileText() const override;
    void setFileText(const QString &path) override;
    QString fileSizeText() const override;
    void setFileSizeText(const QString &text) override;
    void setFileVersionText(const QString &text) override;
    void setLabVisible(bool visible) override;
    void setProgramEnabled(bool enabled) override;

private:
    QWidget *m_window;
    std::function<void(bool)> m_programEnabled;
};
