#include "support/RawPty.h"

#include <QSocketNotifier>
#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

RawPty::RawPty()
{
    m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (m_master < 0 || ::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0) {
        hangUp();
        return;
    }
    m_slavePath = QString::fromLocal8Bit(::ptsname(m_master));
    // Our own handle keeps the line discipline raw and the pty alive while
    // the port under test closes and reopens.
    m_slaveHold = ::open(::ptsname(m_master), O_RDWR | O_NOCTTY);
    termios t{};
    if (m_slaveHold >= 0 && ::tcgetattr(m_slaveHold, &t) == 0) {
        ::cfmakeraw(&t);
        ::tcsetattr(m_slaveHold, TCSANOW, &t);
    }
    m_notifier = new QSocketNotifier(m_master, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] {
        char buf[4096];
        for (ssize_t n; (n = ::read(m_master, buf, sizeof buf)) > 0;)
            received.append(buf, n);
        if (m_replyAfter >= 0 && received.size() >= m_replyAfter) {
            m_replyAfter = -1;
            send(m_reply);
        }
    });
}

RawPty::~RawPty()
{
    hangUp();
}

bool RawPty::send(const QByteArray &bytes)
{
    return m_master >= 0 && ::write(m_master, bytes.constData(), size_t(bytes.size())) == bytes.size();
}

void RawPty::replyAfter(int afterBytes, const QByteArray &reply)
{
    m_replyAfter = afterBytes;
    m_reply = reply;
}

void RawPty::hangUp()
{
    if (m_notifier)
        m_notifier->setEnabled(false);
    if (m_slaveHold >= 0)
        ::close(m_slaveHold);
    if (m_master >= 0)
        ::close(m_master);
    m_slaveHold = m_master = -1;
}
