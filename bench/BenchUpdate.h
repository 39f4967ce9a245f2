#pragma once
#include <QString>

struct UpdateFigures {
    bool ok = false;
    double blockSeconds = 0;  // first progress line to the last
    double blockCpu = 0;      // CPU of the updater's thread meanwhile
    int blocks = 0;
    qint64 bytes = 0;
    // The updater's own time per block: from a reply's arrival to the last
    // write of the next frame (status rebuild, file read, frame building).
    double ownMedianUs = 0;
    double ownMeanUs = 0;
};

// A whole update of `size` bytes against an in-process simulator paced at
// `baud` (0: unpaced), driven through the window (offscreen) or the bare core.
UpdateFigures benchUpdate(qint64 size, unsigned baud, bool window);

// CPU of the updater's thread while it waits for an erase of `ms`.
double benchEraseCpu(int ms, double *wallSeconds);
