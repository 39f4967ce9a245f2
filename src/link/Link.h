#pragma once
// The link to the indicator: the port, the shared receive state that its
// handler fills, and the one-shot time-limit timer. Everything runs on the
// GUI thread; the handlers run only while a wait yields to event processing.

#include <QObject>
#include <QTimer>
#include <array>
#include <cstdint>

#include "link/CommPort.h"

enum class LinkState { Empty, Wait, Ok, Timeout };

constexpr int RxBufferSize = 2001;  // indices 0..2000

class Link : public QObject {
    Q_OBJECT
public:
    explicit Link(QObject *parent = nullptr);

    CommPort com1;
    QTimer tmrCom;

    std::array<std::uint8_t, RxBufferSize> RxBuffer{};
    std::int16_t RxCount = 0;
    std::int16_t RxExpected = 0;
    LinkState LinkTag = LinkState::Empty;

    void com1_OnComm(int kind);
    void tmrCom_Timer();

    // Disable the timer, set its interval, enable it: the count starts afresh.
    void startTimeLimit(int ms);

    // Processes pending events, blocking until at least one arrives: a wait
    // costs no CPU while the indicator is silent.
    static void yieldEvents();

    // Yields until LinkTag is no longer "WAIT".
    void waitWhileWaiting();

    // Reply checksum of the L-byte reply at the start of RxBuffer.
    bool funCheckReply(int L) const;

    // True when the last open of the port during an exchange failed.
    bool portFailed() const { return m_portFailed; }
    void clearPortFailed() { m_portFailed = false; }
    // Opens the port when closed, remembering a failure for the caller.
    void ensureOpen();

private:
    bool m_portFailed = false;
};
