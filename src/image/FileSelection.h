#pragma once
// The image chosen for the next update, and the "Select File" command.

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <cstdint>
#include <optional>

class SelectionView;

struct ImageSelection {
    QString dialogFileName;    // last choice of the file dialog; the update opens this
    std::int32_t FileSize = 0;
    bool ProgMode = false;     // laboratory builds admitted
    QString lastFolder;        // folder of the last image chosen: the dialog opens there
    QByteArray image;          // the file's bytes when read already: the update writes these
};

inline constexpr const char *NoValue = "----------";

// Shows the dialog, checks the chosen image and updates the file display.
void cmdSelFile_Click(SelectionView &view, ImageSelection &selection);

enum class SelectOutcome {
    Unreadable,  // not a regular readable file, or too large: nothing changed
    Rejected,    // refused with a message box
    Accepted,
};

// Checks the image at path and shows it, as after the dialog's choice.
SelectOutcome checkAndShowImage(SelectionView &view, ImageSelection &selection,
                                const QString &path);

enum class ImageVerdict;
// Shows an image already checked, as checkAndShowImage does after its checks.
SelectOutcome showCheckedImage(SelectionView &view, ImageSelection &selection, const QString &path,
                               ImageVerdict verdict, const QString &version, qint64 size);
