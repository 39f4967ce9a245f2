#pragma once
// The file dialog and message box of the windows: the same texts, filters
// and title whichever window asks.

#include <QString>
#include <optional>

#include "image/SelectionView.h"

class QWidget;

// The name filter Qt's dialog takes for a "description|pattern" filter.
QString qtNameFilter(const QString &filter);

std::optional<QString> askForImage(QWidget *parent, const FileDialogRequest &request);

// Modal, one OK button, the application's title.
void showBox(QWidget *parent, const QString &text, BoxIcon icon);
