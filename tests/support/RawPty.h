#pragma once
// A bare pseudo-terminal for tests of the receive path: the test plays the
// far end on the master side.

#include <QByteArray>
#include <QString>

class RawPty {
public:
    RawPty();
    ~RawPty();
    bool ok() const { return m_master >= 0; }
    int masterFd() const { return m_master; }
    QString slavePath() const { return m_slavePath; }
    bool send(const QByteArray &bytes);
    QByteArray receive(int timeoutMs);  // whatever arrives within the time
    void hangUp();                      // close both ends, like a pulled cable

private:
    int m_master = -1;
    int m_slaveHold = -1;
    QString m_slavePath;
};
