#pragma once
// What torvex-flash says on standard error when an update ends early: the
// lines a technician reads beside the window's boxes.

#include <QString>

#include "bootloader/Update.h"

class CommPort;

// One line for an update stopped by a signal: where it stopped, and that
// the indicator needs a new update.
QString interruptionNote(const UpdateReport &report, int signalNumber);

// Why the port failed during the update (without "error: "), or "" when it
// did not: lost, or not opened again. portName: "comN" or the device given.
QString portFailureText(const UpdateReport &report, const CommPort &port, const QString &portName);

// What the line did, when a doubt of the line decided how the update ended
// (or helped it fail), and what to do; "" otherwise.
QString doubtNote(const UpdateReport &report);
