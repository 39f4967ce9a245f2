#include "support/ScriptedPeer.h"

#include <unistd.h>

#include <memory>

ScriptedPeer::ScriptedPeer(RawPty &p) : pty(p)
{
    m_notifier = new QSocketNotifier(masterFd(), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] {
        const QByteArray more = pty.receive(0);
        if (more.isEmpty())
            return;
        received += more;
        if (onData)
            onData(*this);
    });
}

ScriptedPeer::~ScriptedPeer() = default;

int ScriptedPeer::masterFd() const
{
    return pty.masterFd();
}

void ScriptedPeer::replyAfter(int afterBytes, const QByteArray &reply)
{
    auto sent = std::make_shared<bool>(false);
    onData = [afterBytes, reply, sent](ScriptedPeer &peer) {
        if (!*sent && peer.received.size() >= afterBytes) {
            *sent = true;
            peer.pty.send(reply);
        }
    };
}
