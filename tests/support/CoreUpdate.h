#pragma once
// An update driven through the core as the window drives it: the link
// started up against the rig's indicator, the image chosen in the dialog.

#include "bootloader/Update.h"
#include "image/FileSelection.h"
#include "link/Link.h"
#include "support/RecordingView.h"
#include "support/SimRig.h"

struct CoreUpdate {
    Link link;
    RecordingView view;
    ImageSelection selection;

    // False when start-up fails.
    bool prepare(SimRig &rig, const QByteArray &image)
    {
        if (!rig.startUp(link))
            return false;
        view.dialogAnswers.push_back(rig.writeImage(image));
        cmdSelFile_Click(view, selection);
        return true;
    }
    UpdateReport run() { return cmdProgram_Click(view, link, selection); }
};
