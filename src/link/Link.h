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

    // Replies carry no sequence number: a reply that missed its time limit
    // may still come and would be taken for the reply to the next frame.
    // An exchange that ends without its reply notes its limit here; settle()
    // then keeps the port open and drops whatever arrives until the line has
    // been quiet that long (a babbling line is given up on after four times
    // that). Retries of the same frame may go out before it. A minimum quiet
    // time makes it drain the line even when no reply is known to be late.
    void expectLateReply(int timeLimitMs);
    void forgetLateReply() { m_lateWindowMs = 0; }
    void settle(int minimumQuietMs = 0);

    // A stop request (a signal, the program ending): the reply to a frame
    // already sent is still awaited, the erase and settling are cut short,
    // and the update starts no further frame.
    void requestStop() { m_stopRequested = true; }
    bool stopRequested() const { return m_stopRequested; }

private:
    bool m_portFailed = false;
    bool m_stopRequested = false;
    bool m_settling = false;
    bool m_lineActive = false;
    int m_lateWindowMs = 0;
};
