#pragma once
// The link to the indicator: the port, the shared receive state that its
// handler fills, and the one-shot time-limit timer. Everything runs on the
// GUI thread; the handlers run only while a wait yields to event processing.
//
// Whether the line can be trusted is decided by LineTrust (link/LineTrust.h);
// the link feeds it every byte and frame with its time, and carries out what
// it decides: quiet waits before a frame, watches at the end of an update.

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <array>
#include <cstdint>
#include <functional>

#include "link/CommPort.h"
#include "link/Exchange.h"
#include "link/LineTrust.h"

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

    // --- The line's trust ---
    const trust::LineTrust &trust() const { return m_trust; }
    trust::Nanos now() const { return m_clock.nsecsElapsed(); }
    // A new update: the port may be lost and found again; doubt about
    // replies an earlier update still owed is kept.
    void beginUpdate();
    // Told of every suspect event as it happens (the trace, the JSON lines).
    void setDoubtObserver(std::function<void(const trust::Doubt &)> observer) { m_observer = std::move(observer); }
    // The line never went quiet, or the port is gone: nothing more is sent.
    bool lineUnusable() const { return m_trust.unusable() || m_portLost; }
    // The device vanished or hung up during this update (or a comN link
    // that named it disappeared): no reply can come any more.
    bool portLost() const { return m_portLost; }
    // Waits, with the port open, until the line has been quiet as long as
    // the rule asks (at once on a clean line). False: the line is unusable.
    bool settle();
    // Keeps the port open until `until` on the link's clock; every byte that
    // comes is judged.
    void watch(trust::Nanos until);

    // --- One exchange, for the exchange engine ---
    // Steps 1 to 4: on a doubted line the quiet wait first (never before the
    // resync, which goes out whatever the line did), then the time limit,
    // "WAIT", the port (reopened for a command) and the stale input dropped.
    // Bytes found there that doubt the line are waited out and the steps
    // start again, so the time limit always counts from the frame's own
    // start. False: nothing may be sent.
    bool prepareExchange(trust::Frame next, int timeLimitMs, bool reopen);
    // Off: frames go out back to back, without the quiet wait (a failed
    // update's resync and end of write: their replies decide nothing more
    // than a message). A line found unusable still gets nothing.
    void setQuietWaits(bool on) { m_quietWaits = on; }
    void frameGoingOut(trust::Frame frame, int timeLimitMs);
    // Classifies the reply and tells the rule; an acknowledgement the rule
    // has undone (an extra reply came with it) counts as no reply.
    CmdResult endExchange(int L);

    // A stop request (a signal, the program ending): the update starts no
    // further frame, but every reply already owed is still awaited.
    void requestStop();
    bool stopRequested() const { return m_stopRequested; }
    // For a stop: waits out the replies a doubted line may still owe.
    void awaitOwedReplies()
    {
        if (m_stopRequested)
            settle();
    }

private:
    void judgeOutside(const QByteArray &bytes);
    void reportDoubts();

    QElapsedTimer m_clock;
    trust::LineTrust m_trust;
    std::function<void(const trust::Doubt &)> m_observer;
    std::size_t m_reported = 0;
    trust::Nanos m_lastRxAt = 0;
    quint64 m_opensAtBegin = 0;
    bool m_portFailed = false;
    bool m_portLost = false;
    bool m_stopRequested = false;
    bool m_inExchange = false;  // from the frame until its reply is judged
    bool m_quietWaits = true;
};
