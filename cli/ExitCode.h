#pragma once
// torvex-flash's exit status: part of its interface, scripts depend on the numbers.

#include "bootloader/Update.h"

enum ExitCode : int {
    ExitOk = 0,               // written, write mode ended, reset acknowledged
    ExitUsage = 1,            // bad command line
    ExitImageRefused = 2,     // image refused or unreadable: nothing sent
    ExitPortUnusable = 3,     // the port cannot be opened
    ExitNoConnection = 4,     // identify or write mode not acknowledged
    ExitEraseFailed = 5,
    ExitWriteFailed = 6,      // a block failed its three attempts
    ExitEndWriteRefused = 7,  // written and reset, but the end of write mode was refused
    ExitResetRefused = 8,     // written, the reset not acknowledged
    ExitPortLost = 9,         // the device vanished or hung up during the update
    ExitInterrupted = 130,    // stopped by a signal: 128 + its number (SIGINT here)
};

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
