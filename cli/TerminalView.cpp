#include "TerminalView.h"

#include <QRegularExpression>

#include "Console.h"

namespace {

// The one status line the sequence rewrites: "Writing program to flash  (sent/total)".
bool parseProgress(const QString &line, qint64 &sent, qint64 &total)
{
    static const QRegularExpression re(QStringLiteral("\\((\\d+)/(\\d+)\\)$"));
    const auto m = re.match(line);
    if (!m.hasMatch())
        return false;
    sent = m.captured(1).toLongLong();
    total = m.captured(2).toLongLong();
    return total > 0;
}

}  // namespace

void TerminalView::setStatusText(const QString &text)
{
    if (m_lines.restarts(text))
        cutPartial();
    m_lines.take(text, [this](const QString &line, bool alreadyOut) { finishLine(line, alreadyOut); });
    showPartial(m_lines.partial());
}

void TerminalView::showMessage(const QString &text, BoxIcon)
{
    cutPartial();
    writeErr(QStringLiteral("error: ") + text + QLatin1Char('\n'));
}

void TerminalView::EnableButtons()
{
    cutPartial();
}

void TerminalView::finishLine(const QString &line, bool alreadyOut)
{
    m_decile = 0;
    if (alreadyOut && m_drawnWidth == 0)
        return;
    if (m_interactive && m_drawnWidth > 0) {
        draw(line);
        m_drawnWidth = 0;
        writeOut(QStringLiteral("\n"));
        return;
    }
    writeOut(line + QLatin1Char('\n'));
}

void TerminalView::showPartial(const QString &line)
{
    if (!m_lines.partialPending())
        return;
    qint64 sent = 0, total = 0;
    const bool progress = parseProgress(line, sent, total);
    if (progress && sent == 0) {
        m_progressClock.start();
        m_decile = 0;
    }
    if (!m_interactive) {
        // A log file gets a progress line per tenth; the last one comes as a finished line.
        const int decile = progress ? int(sent * 10 / total) : 0;
        if (progress && sent < total && decile > m_decile) {
            m_decile = decile;
            m_lines.markPartialOut();
            writeOut(line + QLatin1Char('\n'));
        }
        return;
    }
    // A redraw per block would cost more than the block on a slow terminal.
    if (progress && sent > 0 && sent < total && m_sinceDraw.isValid() && m_sinceDraw.elapsed() < 100)
        return;
    draw(progress ? decorated(line, sent, total) : line);
}

// Lets out the unfinished line, so that a message follows what led to it.
void TerminalView::cutPartial()
{
    if (!m_lines.partialPending())
        return;
    const QString partial = m_lines.partial();
    if (m_interactive) {
        draw(partial);
        writeOut(QStringLiteral("\n"));
        m_drawnWidth = 0;
    } else {
        writeOut(partial + QLatin1Char('\n'));
    }
    m_lines.markPartialOut();
}

QString TerminalView::decorated(const QString &line, qint64 sent, qint64 total)
{
    constexpr int BarWidth = 14;  // the whole line stays within 80 columns
    const int filled = int(sent * BarWidth / total);
    QString text = line + QStringLiteral(" [") + QString(filled, QLatin1Char('#'))
                 + QString(BarWidth - filled, QLatin1Char('-')) + QStringLiteral("] ")
                 + QString::number(sent * 100 / total).rightJustified(3) + QStringLiteral(" %");
    const qint64 ms = m_progressClock.isValid() ? m_progressClock.elapsed() : 0;
    if (ms > 0 && sent > 0)
        text += QStringLiteral("  %1 B/s").arg(sent * 1000 / ms);
    return text;
}

void TerminalView::draw(const QString &text)
{
    // Blanks rather than an escape sequence clear the rest: any console understands them.
    const int pad = qMax(0, m_drawnWidth - int(text.size()));
    writeOut(QLatin1Char('\r') + text + QString(pad, QLatin1Char(' ')));
    m_drawnWidth = int(text.size());
    m_sinceDraw.start();
}
