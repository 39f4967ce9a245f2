#include "EventView.h"

#include "Console.h"

void EventView::imageTaken(const QByteArray &image)
{
    m_events.start();
    if (m_echo)
        m_echo->imageTaken(image);
}

void EventView::showMessage(const QString &text, BoxIcon icon)
{
    cutPartial();
    m_events.message(text, icon);
    if (m_echo)
        m_echo->showMessage(text, icon);
}

void EventView::setFileText(const QString &path)
{
    m_file = path;
    if (m_echo)
        m_echo->setFileText(path);
}

void EventView::setFileSizeText(const QString &text)
{
    m_size = text;
    if (m_echo)
        m_echo->setFileSizeText(text);
}

void EventView::setFileVersionText(const QString &text)
{
    if (m_echo)
        m_echo->setFileVersionText(text);
}

void EventView::setLabVisible(bool visible)
{
    if (m_echo)
        m_echo->setLabVisible(visible);
}

void EventView::setStatusText(const QString &text)
{
    m_lines.take(text, [this](const QString &line, bool alreadyOut) {
        if (!alreadyOut)
            m_events.status(line);
    });
    if (m_echo)
        m_echo->setStatusText(text);
}

// The unfinished line goes out before a box, as the window shows it then.
void EventView::cutPartial()
{
    if (!m_lines.partialPending())
        return;
    m_events.status(m_lines.partial());
    m_lines.markPartialOut();
}

void EventView::EnableButtons()
{
    cutPartial();
    if (m_echo)
        m_echo->EnableButtons();
}

void EventView::stageStarted(UpdateStage stage)
{
    m_events.stage(stage);
    if (m_echo)
        m_echo->stageStarted(stage);
}

void EventView::indicatorIdentified(const IndicatorFacts &facts)
{
    m_events.indicator(facts);
    if (m_echo)
        m_echo->indicatorIdentified(facts);
}

void EventView::blockAcknowledged(qint64 sent, qint64 total, int retries)
{
    m_events.progress(sent, total, retries);
    if (m_echo)
        m_echo->blockAcknowledged(sent, total, retries);
}

void EventView::stopDeferred(UpdateStage stage)
{
    m_events.waiting(stage);
    if (m_echo)
        m_echo->stopDeferred(stage);
    else
        sayWaitingForErase();
}
