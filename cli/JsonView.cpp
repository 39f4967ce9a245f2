#include "JsonView.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <cstdio>

#include "Console.h"
#include "ImageInfo.h"

JsonLines::JsonLines()
{
    m_timer.setSingleShot(true);
    m_timer.setInterval(50);
    QObject::connect(&m_timer, &QTimer::timeout, [this] { flush(); });
}

void JsonLines::write(const QJsonObject &event)
{
    m_pending += QJsonDocument(event).toJson(QJsonDocument::Compact) + '\n';
    if (event.value(QLatin1String("event")) != QLatin1String("progress"))
        flush();
    else if (!m_timer.isActive())
        m_timer.start();
}

void JsonLines::flush()
{
    m_timer.stop();
    if (m_pending.isEmpty())
        return;
    std::fwrite(m_pending.constData(), 1, size_t(m_pending.size()), stdout);
    std::fflush(stdout);
    m_pending.clear();
}

QString outcomeWord(int exitCode)
{
    switch (exitCode) {
    case 0: return QStringLiteral("ok");
    case 1: return QStringLiteral("usage");
    case 2: return QStringLiteral("image-refused");
    case 3: return QStringLiteral("port-unusable");
    case 4: return QStringLiteral("no-connection");
    case 5: return QStringLiteral("erase-failed");
    case 6: return QStringLiteral("write-failed");
    case 7: return QStringLiteral("end-write-refused");
    case 8: return QStringLiteral("reset-refused");
    case 9: return QStringLiteral("port-lost");
    default: return exitCode > 128 ? QStringLiteral("interrupted") : QStringLiteral("failed");
    }
}

JsonView::JsonView(UpdateView *echo, Sink sink) : m_echo(echo), m_sink(std::move(sink))
{
    m_clock.start();
}

void JsonView::send(QJsonObject event)
{
    event.insert(QStringLiteral("t"), double(m_clock.elapsed()) / 1000.0);
    if (m_sink)
        m_sink(event);
}

void JsonView::describeRun(const QString &port, const QString &image)
{
    m_start = {{QStringLiteral("port"), port}, {QStringLiteral("image"), QFileInfo(image).absoluteFilePath()}};
}

void JsonView::started(const QString &port, const QString &device)
{
    m_start.insert(QStringLiteral("port"), port);
    m_start.insert(QStringLiteral("device"), device);
}

void JsonView::imageTaken(const QByteArray &image)
{
    // The bytes the update writes, whatever the file holds by now.
    m_start.insert(QStringLiteral("sha256"),
                   QString::fromLatin1(QCryptographicHash::hash(image, QCryptographicHash::Sha256).toHex()));
    if (const auto facts = imageFactsOf(image, true)) {
        m_start.insert(QStringLiteral("size"), facts->size);
        m_start.insert(QStringLiteral("version"), facts->version);
        m_start.insert(QStringLiteral("model"), facts->model);
        m_start.insert(QStringLiteral("lab"), facts->lab);
    }
    QJsonObject event = m_start;
    event.insert(QStringLiteral("event"), QStringLiteral("start"));
    event.insert(QStringLiteral("time"), QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs));
    send(event);
}

QJsonObject JsonView::finished(int exitCode, const UpdateReport *report, const QString &error)
{
    QJsonObject event = m_start;
    event.insert(QStringLiteral("event"), QStringLiteral("end"));
    event.insert(QStringLiteral("outcome"), outcomeWord(exitCode));
    event.insert(QStringLiteral("exit"), exitCode);
    event.insert(QStringLiteral("duration"), double(m_clock.elapsed()) / 1000.0);
    if (report) {
        event.insert(QStringLiteral("stage"), stageName(report->stage));
        event.insert(QStringLiteral("sent"), report->sent);
        event.insert(QStringLiteral("total"), report->total);
    }
    event.insert(QStringLiteral("blocks"), report ? report->blocks : 0);
    event.insert(QStringLiteral("retries"), report ? report->retries : 0);
    event.insert(QStringLiteral("indicator"), m_indicator);
    if (!m_message.isEmpty())
        event.insert(QStringLiteral("message"), m_message);
    if (!error.isEmpty())
        event.insert(QStringLiteral("error"), error);
    send(event);
    event.remove(QStringLiteral("t"));
    return event;
}

void JsonView::showMessage(const QString &text, BoxIcon icon)
{
    cutPartial();
    m_message = text;
    send({{QStringLiteral("event"), QStringLiteral("message")}, {QStringLiteral("text"), text},
          {QStringLiteral("icon"), icon == BoxIcon::Error ? QStringLiteral("error") : QStringLiteral("none")}});
    if (m_echo)
        m_echo->showMessage(text, icon);
}

void JsonView::setFileText(const QString &path)
{
    m_file = path;
    if (m_echo)
        m_echo->setFileText(path);
}

void JsonView::setFileSizeText(const QString &text)
{
    m_size = text;
    if (m_echo)
        m_echo->setFileSizeText(text);
}

void JsonView::setFileVersionText(const QString &text)
{
    m_version = text;
    if (m_echo)
        m_echo->setFileVersionText(text);
}

void JsonView::setLabVisible(bool visible)
{
    m_lab = visible;
    if (m_echo)
        m_echo->setLabVisible(visible);
}

void JsonView::setStatusText(const QString &text)
{
    m_lines.take(text, [this](const QString &line, bool alreadyOut) {
        if (!alreadyOut)
            send({{QStringLiteral("event"), QStringLiteral("status")}, {QStringLiteral("text"), line}});
    });
    if (m_echo)
        m_echo->setStatusText(text);
}

// The unfinished line goes out before a box, as the window shows it then.
void JsonView::cutPartial()
{
    if (!m_lines.partialPending())
        return;
    send({{QStringLiteral("event"), QStringLiteral("status")}, {QStringLiteral("text"), m_lines.partial()}});
    m_lines.markPartialOut();
}

void JsonView::EnableButtons()
{
    cutPartial();
    if (m_echo)
        m_echo->EnableButtons();
}

void JsonView::stageStarted(UpdateStage stage)
{
    send({{QStringLiteral("event"), QStringLiteral("stage")}, {QStringLiteral("stage"), stageName(stage)}});
    if (m_echo)
        m_echo->stageStarted(stage);
}

void JsonView::indicatorIdentified(const IndicatorFacts &facts)
{
    const QJsonObject about{{QStringLiteral("model"), facts.model},
                            {QStringLiteral("version"), facts.version},
                            {QStringLiteral("chip"), facts.chip}};
    m_indicator = about;
    QJsonObject event = about;
    event.insert(QStringLiteral("event"), QStringLiteral("indicator"));
    send(event);
    if (m_echo)
        m_echo->indicatorIdentified(facts);
}

void JsonView::blockAcknowledged(qint64 sent, qint64 total, int retries)
{
    send({{QStringLiteral("event"), QStringLiteral("progress")}, {QStringLiteral("sent"), sent},
          {QStringLiteral("total"), total}, {QStringLiteral("retries"), retries}});
    if (m_echo)
        m_echo->blockAcknowledged(sent, total, retries);
}

void JsonView::stopDeferred(UpdateStage stage)
{
    // Said once, on standard error in every mode: a person pressed Ctrl-C.
    send({{QStringLiteral("event"), QStringLiteral("waiting")}, {QStringLiteral("stage"), stageName(stage)}});
    writeErr(QStringLiteral("waiting for the indicator to finish erasing; press Ctrl-C again to quit now\n"));
    if (m_echo)
        m_echo->stopDeferred(stage);
}
