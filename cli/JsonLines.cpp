#include "JsonLines.h"

#include <QJsonDocument>
#include <cstdio>

#include "FlashContract.h"

JsonLines::JsonLines()
{
    m_timer.setSingleShot(true);
    m_timer.setInterval(50);
    QObject::connect(&m_timer, &QTimer::timeout, [this] { flush(); });
}

void JsonLines::write(const QJsonObject &e)
{
    m_pending += QJsonDocument(e).toJson(QJsonDocument::Compact) + '\n';
    if (e.value(field::Event) != event::Progress)
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
