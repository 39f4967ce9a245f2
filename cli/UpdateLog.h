#pragma once
// The update log: one JSON object per line, appended by every process that
// updates an indicator, possibly several at the same moment.

#include <QDateTime>
#include <QJsonObject>
#include <QString>

// Appends event, with the start time and the host added, as one line in one
// write to a file opened for appending, so that lines of concurrent writers
// never interleave. Returns "" or what failed.
QString appendUpdateLog(const QString &path, QJsonObject event, const QDateTime &startedUtc);
