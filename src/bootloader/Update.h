#pragma once
// The whole firmware update behind "UPDATE PROGRAM".

#include <QtGlobal>

#include "bootloader/UpdateView.h"

class Link;
struct ImageSelection;

enum class UpdateOutcome {
    Ok,                // every block written, write mode ended, reset acknowledged
    NoFile,            // nothing selected, or the selected file cannot be read
    NoConnection,      // identify not acknowledged
    EraseFailed,
    WriteModeFailed,   // write-mode command not acknowledged
    WriteFailed,       // a block failed three attempts (or the image could not be read)
    EndWriteRefused,   // all blocks written, end of write mode not acknowledged
    ResetFailed,       // written, but the reset was not acknowledged
    Interrupted,       // a stop was requested; no frame was started after it
};

struct UpdateReport {
    UpdateOutcome outcome = UpdateOutcome::NoFile;
    bool endWriteRefused = false;  // also set when the reset went through
    bool portFailed = false;       // the port could not be opened at some point
    bool portLost = false;         // the device vanished or hung up during the update
    int blocks = 0;                // blocks acknowledged
    int retries = 0;               // repeated block attempts
    UpdateStage stage = UpdateStage::WakeUp;  // the stage the update ended in
    qint64 sent = 0;               // image bytes acknowledged
    qint64 total = 0;              // image bytes to send
};

UpdateReport cmdProgram_Click(UpdateView &view, Link &link, ImageSelection &selection);

// "wake-up", "identify", "erase", "write mode", "write", "end of write", "reset".
QString stageName(UpdateStage stage);

inline constexpr int WriteModeTimeMs = 200;
inline constexpr int BlockTimeMs = 2000;
inline constexpr int EndWriteTimeMs = 300;
inline constexpr int ResetTimeMs = 300;
inline constexpr int BlockAttempts = 3;
// Before the last block, before the end of write and after it the line is
// watched three times as long as recent replies took, and at least this long: a
// copied or shifted reply shows within milliseconds.
inline constexpr int EndListenMs = 20;
// How often the last block and the end of write are tried on a line that
// keeps turning suspect.
inline constexpr int EndRounds = 3;
