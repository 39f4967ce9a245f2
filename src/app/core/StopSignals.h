#pragma once
// SIGINT, SIGTERM and SIGHUP as a Qt signal on the GUI thread: an update then
// stops between frames and the port is closed properly (lock file removed,
// driver flags restored). A second signal ends the process at once.

#include <QObject>

class QSocketNotifier;

class StopSignals : public QObject {
    Q_OBJECT
public:
    explicit StopSignals(QObject *parent = nullptr);
    ~StopSignals() override;

    // The first signal received, 0 before any.
    int received() const { return m_received; }
    // The conventional exit status for it: 128 + the signal's number.
    int exitStatus() const { return m_received ? 128 + m_received : 0; }
    static QString signalName(int signalNumber);

signals:
    void stopRequested(int signalNumber);

private:
    void readPipe();

    QSocketNotifier *m_notifier = nullptr;
    int m_received = 0;
};
