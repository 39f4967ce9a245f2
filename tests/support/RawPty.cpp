#include "support/RawPty.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

RawPty::RawPty()
{
    m_master = ::posix_openpt(O_RDWR | O_NOCTTY);
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
}

RawPty::~RawPty()
{
    hangUp();
}

bool RawPty::send(const QByteArray &bytes)
{
    qsizetype done = 0;
    while (m_master >= 0 && done < bytes.size()) {
        const ssize_t n = ::write(m_master, bytes.constData() + done, size_t(bytes.size() - done));
        if (n <= 0)
            return false;
        done += n;
    }
    return done == bytes.size();
}

QByteArray RawPty::receive(int timeoutMs)
{
    QByteArray out;
    pollfd p{m_master, POLLIN, 0};
    while (m_master >= 0 && ::poll(&p, 1, timeoutMs) > 0 && (p.revents & POLLIN)) {
        char buf[4096];
        const ssize_t n = ::read(m_master, buf, sizeof buf);
        if (n <= 0)
            break;
        out.append(buf, n);
        timeoutMs = timeoutMs == 0 ? 0 : 20;
    }
    return out;
}

void RawPty::hangUp()
{
    if (m_slaveHold >= 0)
        ::close(m_slaveHold);
    if (m_master >= 0)
        ::close(m_master);
    m_slaveHold = m_master = -1;
}
