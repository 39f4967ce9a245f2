#pragma once
// A bare pseudo-terminal for tests of the receive path: the test plays the
// far end on the master side, also from inside the waits of the code under
// test (through the event loop).

#include <QByteArray>
#include <QObject>
#include <QString>

class QSocketNotifier;

class RawPty : public QObject {
public:
    RawPty();
    ~RawPty() override;
    bool ok() const { return m_master >= 0; }
    QString slavePath() const { return m_slavePath; }
    int slaveFd() const { return m_slaveHold; }  // our own handle: the line settings are shared
    bool send(const QByteArray &bytes);
    void hangUp();  // close both ends, like a pulled cable

    // Everything the port under test wrote, gathered while events are processed;
    // `reply` goes back once `afterBytes` have come.
    QByteArray received;
    void replyAfter(int afterBytes, const QByteArray &reply);

private:
    int m_master = -1;
    int m_slaveHold = -1;
    QString m_slavePath;
    QSocketNotifier *m_notifier = nullptr;
    QByteArray m_reply;
    int m_replyAfter = -1;
};
