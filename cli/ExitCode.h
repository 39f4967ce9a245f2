#pragma once
// The exit status for an update's report.

#include "FlashContract.h"
#include "bootloader/Update.h"

inline ExitCode exitCodeFor(const UpdateReport &report)
{
    if (report.portLost && report.outcome != UpdateOutcome::Ok && report.outcome != UpdateOutcome::Interrupted)
        return ExitPortLost;
    switch (report.outcome) {
    case UpdateOutcome::Ok: return ExitOk;
    case UpdateOutcome::NoFile: return ExitImageRefused;
    // The port passed its proof at start-up, but could not be opened again.
    case UpdateOutcome::NoConnection: return report.portFailed ? ExitPortUnusable : ExitNoConnection;
    case UpdateOutcome::WriteModeFailed: return ExitNoConnection;
    case UpdateOutcome::EraseFailed: return ExitEraseFailed;
    case UpdateOutcome::WriteFailed: return ExitWriteFailed;
    case UpdateOutcome::EndWriteRefused: return ExitEndWriteRefused;
    case UpdateOutcome::ResetFailed: return ExitResetRefused;
    case UpdateOutcome::Interrupted: return ExitInterrupted;
    }
    return ExitWriteFailed;
}
