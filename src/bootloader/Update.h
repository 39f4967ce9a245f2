#pragma once
// The whole firmware update behind "UPDATE PROGRAM".

#include <QtGlobal>
#include <optional>

#include "bootloader/UpdateView.h"
#include "link/LineTrust.h"

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
    Unproven,          // past write mode, an extra reply on the line undid a
                       // reply that nothing can prove again (the erase, write
                       // mode, the end of write): the flash may not hold the image
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
    // The line's doubt behind the outcome: the one that decided it, else the
    // last one the update met (a retried block's time-out, say).
    std::optional<trust::Doubt> doubt;
};

UpdateReport cmdProgram_Click(UpdateView &view, Link &link, ImageSelection &selection);

// The stage a frame belongs to.
UpdateStage stageOf(trust::Frame frame);

inline constexpr int WriteModeTimeMs = 200;
inline constexpr int BlockTimeMs = 2000;
inline constexpr int EndWriteTimeMs = 300;
inline constexpr int ResetTimeMs = 300;
inline constexpr int BlockAttempts = 3;
