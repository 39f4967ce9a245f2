#pragma once
// One table of whole updates against the simulated indicator, run by the
// core (test_update), the window (test_window) and torvex-flash (test_cli):
// what the indicator does, and what each front end must show for it.

#include <QStringList>
#include <vector>

#include "bootloader/Update.h"

struct Scenario {
    QString name;
    QStringList indicator;  // simulator behaviour: see indicator() in SimRig.h
    int size;               // image bytes
    UpdateOutcome outcome;
    int exitCode;           // torvex-flash's
    QStringList boxes;      // message texts in order; a leading '!' marks the error icon
    QString status;         // the status text, lines ending in "\n", erase dots folded to one
    QStringList wire;       // everything the indicator received, as wireOf() tokens
    bool flashed;           // the indicator holds the image afterwards
    bool slow = false;      // waits out time limits: runs beside the rest (see rowRunsHere)
};

const std::vector<Scenario> &scenarios();

// For a _data() function: an int column "scenario" and a row per scenario
// that runs here and that `wanted` accepts.
void addScenarioRows(bool (*wanted)(const Scenario &) = nullptr);

// For scenario(): the row's scenario with its indicator started in `rig`;
// nullptr where this pass runs no row.
struct SimRig;
const Scenario *rowScenario(SimRig &rig);

// The erase's dots folded to one; CR LF made "\n".
QString foldStatus(QString status);

// Rows that wait out time limits run in ctest entries of their own, side by
// side with the rest: TORVEX_SLOW=k/n runs only the slow rows whose running
// number is k modulo n; without it only the quick rows run.
bool rowRunsHere(bool slow);
bool slowShard();
// For init(): a slow shard runs only the functions whose rows are sharded.
#define skipOutsideScenariosInSlowShards()                                         \
    if (slowShard() && qstrcmp(QTest::currentTestFunction(), "scenario") != 0      \
        && qstrcmp(QTest::currentTestFunction(), "neverFalseSuccess") != 0)        \
    QSKIP("runs in the quick pass")
