#pragma once
// The program's two output streams. Everything is flushed at once so that a
// log taking both streams (2>&1) keeps their order.

#include <QString>

void writeOut(const QString &text);
void writeErr(const QString &text);

// True when standard output is a terminal, where a line may be redrawn in place.
bool stdoutIsTerminal();

// A broken pipe on standard output must not end an update half-way.
void ignoreBrokenPipe();
// Said once, on standard error in every mode, when Ctrl-C has to wait for the erase.
void sayWaitingForErase();
