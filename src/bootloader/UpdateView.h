#pragma once
// What the update sequence needs of its window, beyond the file display.

#include <QString>

#include "image/SelectionView.h"

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
};

inline void appendStatus(UpdateView &view, const QString &text)
{
    view.setStatusText(view.statusText() + text);
}
