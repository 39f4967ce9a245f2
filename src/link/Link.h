#pragma once
// The link to the indicator: the port, the shared receive state that its
// handler fills, and the one-shot time-limit timer. Everything runs on the
// GUI thread; the handlers run only while a wait yields to event processing.
//
// Replies carry no sequence number, so the link also judges whether the line
// can be trusted. It is clean until something a clean exchange never produces
// happens: a time-out, a bad checksum, an unknown reply code, bytes waiting
// before a frame goes out or arriving after a complete reply, a reply longer
// than expected, or (on a line found to be paced) a reply that completes
// sooner than the frame and the reply could cross the wire. The line is then
// suspect, and no frame goes out until it has been quiet for the limit of the
// exchange in doubt and twice that limit has passed since the last frame:
// every reply still owed has come and been dropped, or can no longer come.

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <array>
#include <cstdint>
#include <vector>

#include "link/CommPort.h"
#include "link/Exchange.h"

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

    // --- Trust in the line (see the top of this file) ---
    // A new update: the port may be lost and found again, the line's pace is
    // learnt anew; doubt about replies still owed is kept.
    void beginUpdate();
    bool lineSuspect() const { return m_suspect; }
    // Counts suspect events; an acknowledgement is trusted only while this
    // count stays where it was when its frame went out.
    quint64 suspectEvents() const { return m_events; }
    quint64 eventsAtLastSend() const { return m_eventsAtSend; }
    void noteSuspect(int limitMs);
    // The line never went quiet, or the port is gone: nothing more is sent
    // in this update.
    bool lineUnusable() const { return m_unusable || m_portLost; }
    // The device vanished or hung up during this update (or a comN link
    // that named it disappeared): no reply can come any more.
    bool portLost() const { return m_portLost; }

    // Before a frame: drops what is waiting (a suspect event when there was
    // anything) and, on a suspect line, waits until it has been quiet long
    // enough. False: nothing may be sent.
    bool clearToSend();
    // Drops waiting input; a suspect event when there was any.
    bool dropStaleInput();
    // The frame's first byte is about to be written.
    void frameGoingOut(int frameBytes, int replyBytes, int timeLimitMs);
    // After the wait of an exchange with its classification: suspect events
    // for what a clean exchange never produces; a well-formed reply that
    // cannot be this frame's becomes NoReply (3).
    CmdResult judgeReply(CmdResult classified);
    // The last exchange's reply was well-formed but could not be its own:
    // more replies than frames are on the line.
    bool lastReplyDoubtful() const { return m_doubtful; }
    // ... because it came sooner than the wire allows.
    bool lastReplyTooSoon() const { return m_tooSoon; }
    // The longest time a recent frame took to be answered (the last four
    // replies taken), in ms.
    int recentReplyMs() const;
    // One of those took far longer than this update's replies usually do:
    // something else (a copy, a line repeating a reply) may have answered
    // in place of a busy indicator.
    bool recentReplyStandsOut() const;
    // Reply times start again (the erase's wait says nothing of the blocks'),
    // or only the recent ones (a long watch showed they were the indicator's).
    void forgetReplyTimes();
    void forgetRecentReplies() { m_replyTimesNs.fill(0); }
    // Keeps the port open for ms and watches: any byte is a suspect event.
    void listen(int ms);
    // Waits until the line has been quiet for max(doubt, minimumQuietMs) and,
    // when suspect, until twice the doubt has passed since the last frame; a
    // line that never goes quiet makes the link unusable. The port stays open.
    bool settle(int minimumQuietMs = 0);

    // A stop request (a signal, the program ending): the update starts no
    // further frame, but every reply already owed is still awaited.
    void requestStop();
    bool stopRequested() const { return m_stopRequested; }
    // For a stop: waits out the replies a suspect line may still owe.
    void awaitOwedReplies()
    {
        if (m_stopRequested)
            settle();
    }

private:
    qint64 nowNs() const { return m_clock.nsecsElapsed(); }
    void learnPace(qint64 elapsedNs, qint64 thresholdNs);

    enum class Pace { Unknown, Paced, Unpaced };

    QElapsedTimer m_clock;
    bool m_portFailed = false;
    bool m_portLost = false;
    bool m_stopRequested = false;
    bool m_settling = false;
    bool m_suspect = false;
    bool m_unusable = false;
    bool m_extraBytes = false;
    bool m_doubtful = false;
    bool m_tooSoon = false;
    bool m_quietReached = false;    // a suspect line was just waited out
    bool m_sentAfterQuiet = false;  // and the last frame went out right after
    int m_doubtMs = 0;
    int m_lastLimitMs = 0;
    int m_frameBytes = 0;
    int m_replyBytes = 0;
    quint64 m_events = 0;
    quint64 m_opensAtBegin = 0;
    quint64 m_eventsAtSend = 0;
    qint64 m_sentNs = 0;
    qint64 m_lastFrameNs = 0;
    qint64 m_lastRxNs = 0;
    qint64 m_completedNs = -1;
    Pace m_pace = Pace::Unknown;
    int m_paceEvidence = 0;
    std::array<qint64, 4> m_replyTimesNs{};
    unsigned m_replyCount = 0;
    std::vector<qint64> m_allReplyTimesNs;
};
