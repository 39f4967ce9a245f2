#include "UpdateLog.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSysInfo>

QString appendUpdateLog(const QString &path, QJsonObject event, const QDateTime &startedUtc)
{
    event.insert(QStringLiteral("started"), startedUtc.toString(Qt::ISODateWithMs));
    event.insert(QStringLiteral("host"), QSysInfo::machineHostName());
    const QByteArray line = QJsonDocument(event).toJson(QJsonDocument::Compact) + '\n';
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    // Unbuffered: the line reaches the file in a single write(); O_APPEND puts it at the end.
    if (!file.open(QIODevice::Append | QIODevice::Unbuffered))
        return file.errorString();
    if (file.write(line) != line.size())
        return file.errorString();
    return {};
}
