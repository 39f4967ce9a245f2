#pragma once
// The sink of --json: one compact UTF-8 line per event on standard output.
// Progress lines are held back up to 50 ms and go out together, so that a
// program watching many updates is woken a few times a second per update
// rather than once per block; any other event goes out at once with them.

#include <QByteArray>
#include <QJsonObject>
#include <QTimer>

class JsonLines {
public:
    JsonLines();
    ~JsonLines() { flush(); }
    void write(const QJsonObject &event);
    void flush();

private:
    QByteArray m_pending;
    QTimer m_timer;
};
