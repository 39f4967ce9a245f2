#pragma once
// The record a run leaves for programs: its events on standard output with
// --json, and its one end event, there and in the update log with --log.
// Whichever way the run ends, the end event is written exactly once.

#include <QDateTime>
#include <QString>

#include "JsonLines.h"
#include "UpdateEvents.h"

class RunRecord {
public:
    RunRecord(bool json, const QString &logFile);

    // Events are made only for --json and --log.
    bool wanted() const { return m_json || !m_logFile.isEmpty(); }
    UpdateEvents &events() { return m_events; }

    // Writes the end event unless one was written; returns status.
    int end(int status, const UpdateReport *report = nullptr, const QString &error = {});

private:
    bool m_json;
    QString m_logFile;
    QDateTime m_startedUtc;
    JsonLines m_lines;
    UpdateEvents m_events;
    bool m_ended = false;
};
