#include "app/core/StopSignals.h"

#include <QSocketNotifier>
#include <QtGlobal>

#include "link/PortHandle.h"

#ifdef Q_OS_UNIX
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

int g_pipe[2] = {-1, -1};
volatile sig_atomic_t g_first = 0;
constexpr int Watched[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void onStopSignal(int sig)
{
    if (g_first != 0) {
        // Asked twice: no more waiting, but the device is left as found and
        // free for the next program.
        releaseHeldPortNow();
        _exit(128 + sig);
    }
    g_first = sig;
    const unsigned char byte = static_cast<unsigned char>(sig);
    [[maybe_unused]] const auto n = ::write(g_pipe[1], &byte, 1);
}

}  // namespace

StopSignals::StopSignals(QObject *parent) : QObject(parent)
{
    if (g_pipe[0] < 0 && ::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    g_first = 0;
    m_notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &StopSignals::readPipe);
    struct sigaction sa = {};
    sa.sa_handler = onStopSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int sig : Watched)
        ::sigaction(sig, &sa, nullptr);
}

StopSignals::~StopSignals()
{
    for (int sig : Watched)
        ::signal(sig, SIG_DFL);
}

void StopSignals::readPipe()
{
    unsigned char byte = 0;
    while (::read(g_pipe[0], &byte, 1) == 1) {
        if (m_received == 0) {
            m_received = byte;
            emit stopRequested(byte);
        }
    }
}

QString StopSignals::signalName(int signalNumber)
{
    switch (signalNumber) {
    case SIGINT: return QStringLiteral("SIGINT");
    case SIGTERM: return QStringLiteral("SIGTERM");
    case SIGHUP: return QStringLiteral("SIGHUP");
    default: return QStringLiteral("signal %1").arg(signalNumber);
    }
}

#else

StopSignals::StopSignals(QObject *parent) : QObject(parent) {}
StopSignals::~StopSignals() = default;
void StopSignals::readPipe() {}
QString StopSignals::signalName(int signalNumber)
{
    return QStringLiteral("signal %1").arg(signalNumber);
}

#endif
