#pragma once
// What the file selection needs of its window. The window, the command line
// and the tests each provide one.

#include <QString>
#include <optional>

enum class BoxIcon { None, Error };

struct FileDialogRequest {
    QString fileName;      // preset file name
    QString defaultSuffix; // appended when the user types a name without one
    QString filter;        // description|pattern
    QString directory;     // folder shown first; "" for the dialog's own choice
};

class SelectionView {
public:
    virtual ~SelectionView() = default;

    // Modal file-open dialog; nullopt when cancelled, else the full path.
    virtual std::optional<QString> chooseFile(const FileDialogRequest &request) = 0;
    // Modal message box with an OK button, titled with the application name.
    virtual void showMessage(const QString &text, BoxIcon icon) = 0;

    virtual QString fileText() const = 0;
    virtual void setFileText(const QString &path) = 0;
    virtual QString fileSizeText() const = 0;
    virtual void setFileSizeText(const QString &text) = 0;
    virtual void setFileVersionText(const QString &text) = 0;
    virtual void setLabVisible(bool visible) = 0;
    virtual void setProgramEnabled(bool enabled) = 0;
};
