#pragma once
// The far end of a RawPty, answering inside the waits of the code under test
// (it runs on the same thread, through the event loop).

#include <QObject>
#include <QSocketNotifier>
#include <functional>

#include "support/RawPty.h"

class ScriptedPeer : public QObject {
    Q_OBJECT
public:
    explicit ScriptedPeer(RawPty &pty);
    ~ScriptedPeer() override;
    int masterFd() const;

    QByteArray received;  // everything the port under test has written
    // Called after new bytes arrive; may answer with pty.send().
    std::function<void(ScriptedPeer &)> onData;
    RawPty &pty;

    // Reply once `afterBytes` bytes have been received in total.
    void replyAfter(int afterBytes, const QByteArray &reply);

private:
    QSocketNotifier *m_notifier = nullptr;
};
