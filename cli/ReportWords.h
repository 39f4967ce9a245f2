#pragma once
// The update's report in the contract's words: its exit status and stage word.

#include <iterator>

#include "FlashContract.h"
#include "bootloader/Update.h"

static_assert(std::size(StageWords) == int(UpdateStage::Reset) + 1,
              "one stage word per UpdateStage, in its order");

inline QLatin1String stageWord(UpdateStage stage)
{
    return StageWords[int(stage)];
}

static_assert(std::size(DoubtMeanings) == trust::CauseCount, "one doubt word per cause, in its order");

inline const DoubtMeaning &doubtMeaning(trust::Cause cause)
{
    return DoubtMeanings[int(cause)];
}

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
    case UpdateOutcome::Unproven: return ExitUnproven;
    }
    return ExitWriteFailed;
}
