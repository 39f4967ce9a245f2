#pragma once
// One update on one port: a torvex-flash child that reports in JSON lines.
// A child per port keeps a stalled line from holding up the others.

#include <QElapsedTimer>
#include <QJsonObject>
#include <QProcess>
#include <QTimer>
#include <array>

struct JobState {
    enum class Phase { Idle, Running, Stopping, Done };
    Phase phase = Phase::Idle;
    QString stage;              // "wake-up" ... "reset", as the child names them
    qint64 sent = 0, total = 0;
    int retries = 0;
    double rate = 0;            // image bytes acknowledged per second
    QString model, version, chip;
    int exitCode = -1;          // torvex-flash's exit status; -1 when it ended otherwise
    QString outcome;            // its outcome word: "ok", "write-failed", ...
    QString outcomeText;        // for the technician: the window's box text, or why it failed
    QString doubt;              // the end event's doubt cause word, if the line decided the outcome
    double seconds = 0;         // start of the child to its end, as the station saw it
    QString errorOutput;        // what the child wrote to standard error
};

// The station's reading of torvex-flash's JSON lines (FlashContract.h) into
// a JobState, apart from the process so that a recorded stream can be fed.
class EventReader {
public:
    explicit EventReader(JobState &state) : m_state(state) {}
    void reset();
    // Any chunk of standard output: each whole line is read.
    void feed(const QByteArray &bytes);
    // The child ended with exitCode (-1: it crashed or never started);
    // startError says why it could not start, if so.
    void conclude(int exitCode, const QString &startError = {});

private:
    void handle(const QJsonObject &event);

    JobState &m_state;
    QByteArray m_pending;  // an unfinished line
    double m_firstT = -1;  // the child's time and count at its first progress
    qint64 m_firstSent = 0;
    bool m_sawEnd = false;
};

// How the station stops a child, step by step from the first request. The
// first SIGTERM lets torvex-flash finish the exchange under way (the erase's
// reply may be 25 s away) and close its port; a second one ends it at once,
// still closing the port; only a child that survives both is killed.
struct StopLadder {
    enum class Action { Tell, Kill };  // SIGTERM, SIGKILL
    struct Step {
        int atMs;  // after the stop was asked for
        Action action;
        bool operator==(const Step &) const = default;
    };
    int graceMs = 27000;     // the longest reply owed (the erase's 25 s) and a margin
    int lastWordMs = 3000;   // a told-again torvex-flash needs only its port's close
    std::array<Step, 3> steps() const
    {
        return {{{0, Action::Tell}, {graceMs, Action::Tell}, {graceMs + lastWordMs, Action::Kill}}};
    }
};

class FlashJob : public QObject {
    Q_OBJECT
public:
    explicit FlashJob(QObject *parent = nullptr);
    ~FlashJob() override;

    void start(const QString &program, const QStringList &arguments);
    // Asks the child to stop between two frames, then climbs the ladder while
    // it runs on. Asked again while stopping, it keeps to the ladder it is on.
    void stop(const StopLadder &ladder = {});
    bool running() const { return m_process.state() != QProcess::NotRunning; }
    bool failed() const { return m_state.phase == JobState::Phase::Done && m_state.exitCode != 0; }
    const JobState &state() const { return m_state; }
    qint64 processId() const { return m_process.processId(); }

signals:
    void changed();
    void finished();

private:
    void readLines();
    void ended(int exitCode, QProcess::ExitStatus status);
    void climb();

    QProcess m_process;
    QTimer m_stopTimer;
    std::array<StopLadder::Step, 3> m_ladder{};
    size_t m_nextStep = 0;
    QElapsedTimer m_clock;
    JobState m_state;
    EventReader m_reader{m_state};
};

// The text and colour class of an outcome: Ok, Warning (written, but a step
// after the write was refused), Failed.
enum class OutcomeKind { None, Ok, Warning, Failed };
OutcomeKind outcomeKind(const JobState &state);
// The outcome's tooltip: the doubt that decided it, then what torvex-flash
// wrote to standard error.
QString outcomeToolTip(const JobState &state);
