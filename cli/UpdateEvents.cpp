#include "UpdateEvents.h"

#include <QDateTime>
#include <QFileInfo>

#include "ReportWords.h"

UpdateEvents::UpdateEvents(Sink sink) : m_sink(std::move(sink))
{
    m_clock.start();
}

void UpdateEvents::send(QJsonObject event)
{
    event.insert(field::T, double(m_clock.elapsed()) / 1000.0);
    if (m_sink)
        m_sink(event);
}

void UpdateEvents::describeRun(const QString &port, const QString &image)
{
    m_start = {{field::Port, port}, {field::Image, QFileInfo(image).absoluteFilePath()}};
}

void UpdateEvents::portReady(const QString &port, const QString &device)
{
    m_start.insert(field::Port, port);
    m_start.insert(field::Device, device);
}

void UpdateEvents::imageChecked(const ImageFacts &facts)
{
    m_start.insert(field::Sha256, facts.sha256);
    m_start.insert(field::Size, facts.size);
    m_start.insert(field::Version, facts.version);
    m_start.insert(field::Model, facts.model);
    m_start.insert(field::Lab, facts.lab);
}

void UpdateEvents::start()
{
    QJsonObject e = m_start;
    e.insert(field::Event, event::Start);
    e.insert(field::Time, QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs));
    send(e);
}

void UpdateEvents::stage(UpdateStage stage)
{
    send({{field::Event, event::Stage}, {field::Stage, stageWord(stage)}});
}

void UpdateEvents::indicator(const IndicatorFacts &facts)
{
    const QJsonObject about{{field::Model, facts.model}, {field::Version, facts.version}, {field::Chip, facts.chip}};
    m_indicator = about;
    QJsonObject e = about;
    e.insert(field::Event, event::Indicator);
    send(e);
}

void UpdateEvents::progress(qint64 sent, qint64 total, int retries)
{
    send({{field::Event, event::Progress}, {field::Sent, sent}, {field::Total, total}, {field::Retries, retries}});
}

void UpdateEvents::status(const QString &line)
{
    send({{field::Event, event::Status}, {field::Text, line}});
}

void UpdateEvents::message(const QString &text, BoxIcon icon)
{
    m_message = text;
    send({{field::Event, event::Message}, {field::Text, text},
          {field::Icon, icon == BoxIcon::Error ? QStringLiteral("error") : QStringLiteral("none")}});
}

void UpdateEvents::waiting(UpdateStage stage)
{
    send({{field::Event, event::Waiting}, {field::Stage, stageWord(stage)}});
}

void UpdateEvents::doubt(const trust::Doubt &doubt)
{
    send({{field::Event, event::Doubt}, {field::Cause, doubtMeaning(doubt.cause).cause},
          {field::Stage, stageWord(stageOf(doubt.frame))}});
}

QJsonObject UpdateEvents::end(int exitCode, const UpdateReport *report, const QString &error)
{
    QJsonObject e = m_start;
    e.insert(field::Event, event::End);
    e.insert(field::Outcome, outcomeWord(exitCode));
    e.insert(field::Exit, exitCode);
    e.insert(field::Duration, double(m_clock.elapsed()) / 1000.0);
    if (report) {
        e.insert(field::Stage, stageWord(report->stage));
        e.insert(field::Sent, report->sent);
        e.insert(field::Total, report->total);
        if (report->doubt) {
            e.insert(field::Doubt, doubtMeaning(report->doubt->cause).cause);
            e.insert(field::DoubtStage, stageWord(stageOf(report->doubt->frame)));
        }
    }
    e.insert(field::Blocks, report ? report->blocks : 0);
    e.insert(field::Retries, report ? report->retries : 0);
    e.insert(field::Indicator, m_indicator);
    if (!m_message.isEmpty())
        e.insert(field::Message, m_message);
    if (!error.isEmpty())
        e.insert(field::Error, error);
    send(e);
    e.remove(field::T);
    return e;
}
