#pragma once
// What the update sequence needs of its window, beyond the file display.

#include <QByteArray>
#include <QString>

#include "image/SelectionView.h"

enum class UpdateStage { WakeUp, Identify, Erase, WriteMode, Write, EndWrite, Reset };

// What the identify reply says of the indicator, as raw characters.
struct IndicatorFacts {
    QString model;    // reply bytes 18..20
    QString version;  // reply bytes 10..17
    QString chip;     // the flash chip's name, "???????" when unknown
};

class UpdateView : public SelectionView {
public:
    // The status text is the update's log; lines end in CR LF.
    virtual QString statusText() const = 0;
    virtual void setStatusText(const QString &text) = 0;
    // Hourglass from the erase on; EnableButtons restores the arrow.
    virtual void setBusyPointer() = 0;
    // Disable program, select, exit, in this order.
    virtual void DisableButtons() = 0;
    // Default pointer first, then enable program, select, exit, in this order.
    virtual void EnableButtons() = 0;

    // Optional reports for front ends that show more than the window does.
    virtual void stageStarted(UpdateStage) {}
    virtual void indicatorIdentified(const IndicatorFacts &) {}
    // A stop was asked for while the indicator still owes a long reply (the
    // erase): the update waits for it before it ends.
    virtual void stopDeferred(UpdateStage) {}
    // Before the wake-up, the update waits until a line that an earlier
    // update left in doubt has gone quiet (true), and is done waiting (false).
    virtual void lineWait(bool waiting) { Q_UNUSED(waiting) }
    // The image as it is written, read once at the start of the update.
    virtual void imageTaken(const QByteArray &) {}
    // After each acknowledged block: image bytes acknowledged so far, of total.
    virtual void blockAcknowledged(qint64 sent, qint64 total, int retries)
    {
        Q_UNUSED(sent) Q_UNUSED(total) Q_UNUSED(retries)
    }
};

inline void appendStatus(UpdateView &view, const QString &text)
{
    view.setStatusText(view.statusText() + text);
}
