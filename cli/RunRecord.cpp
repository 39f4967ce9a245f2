#include "RunRecord.h"

#include "Console.h"
#include "UpdateLog.h"

RunRecord::RunRecord(bool json, const QString &logFile)
    : m_json(json),
      m_logFile(logFile),
      m_startedUtc(QDateTime::currentDateTimeUtc()),
      m_events(json ? [this](const QJsonObject &e) { m_lines.write(e); } : UpdateEvents::Sink())
{
}

int RunRecord::end(int status, const UpdateReport *report, const QString &error)
{
    if (m_ended || !wanted())
        return status;
    m_ended = true;
    const QJsonObject event = m_events.end(status, report, error);
    if (!m_logFile.isEmpty())
        if (const QString failed = appendUpdateLog(m_logFile, event, m_startedUtc); !failed.isEmpty())
            writeErr(QStringLiteral("error: update log %1: %2\n").arg(m_logFile, failed));
    return status;
}
