#pragma once
// The update's status text as lines for a stream. The sequence starts the
// text afresh, appends to it, or rebuilds its progress line from a saved
// prefix; every finished line comes out once, and the unfinished one may be
// let out early (before a message, at the end) without coming out twice.

#include <QString>

class StatusLines {
public:
    // Whether `text` starts the status afresh rather than continuing it.
    bool restarts(const QString &text) const { return !text.startsWith(QStringView(m_status).left(m_done)); }

    // Takes the new text: finished(line, alreadyOut) for each newly finished
    // line, alreadyOut when it was let out while unfinished.
    template <typename F>
    void take(const QString &text, F finished)
    {
        if (restarts(text)) {
            m_done = 0;
            m_out.clear();
        }
        m_status = text;
        for (qsizetype eol; (eol = m_status.indexOf(QLatin1String("\r\n"), m_done)) >= 0;) {
            const QString line = m_status.mid(m_done, eol - m_done);
            // An empty line (no version for a model other than KD7) is a line of its own.
            const bool out = !m_out.isEmpty() && line == m_out;
            m_out.clear();
            m_done = eol + 2;
            finished(line, out);
        }
    }

    QString status() const { return m_status; }
    QString partial() const { return m_status.mid(m_done); }
    // Whether the unfinished line is there and has not been let out as it stands.
    bool partialPending() const { return !partial().isEmpty() && partial() != m_out; }
    void markPartialOut() { m_out = partial(); }

private:
    QString m_status;
    qsizetype m_done = 0;  // length of the status already out as whole lines
    QString m_out;         // unfinished line already let out
};
