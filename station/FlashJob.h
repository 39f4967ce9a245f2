#pragma once
// One update on one port: a torvex-flash child that reports in JSON lines.
// A child per port keeps a stalled line from holding up the others.

#include <QElapsedTimer>
#include <QJsonObject>
#include <QProcess>
#include <QTimer>

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

class FlashJob : public QObject {
    Q_OBJECT
public:
    explicit FlashJob(QObject *parent = nullptr);
    ~FlashJob() override;

    void start(const QString &program, const QStringList &arguments);
    // Asks the child to stop between two frames (SIGTERM); it still waits for
    // the replies it is owed, the erase's included. A child still running
    // after graceMs is told again, which ends it at once (its port released
    // properly); only one that survives that too is killed.
    void stop(int graceMs = 27000);
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

    QProcess m_process;
    QTimer m_killTimer;
    int m_stopsSent = 0;
    QElapsedTimer m_clock;
    JobState m_state;
    EventReader m_reader{m_state};
};

// The text and colour class of an outcome: Ok, Warning (written, but a step
// after the write was refused), Failed.
enum class OutcomeKind { None, Ok, Warning, Failed };
OutcomeKind outcomeKind(const JobState &state);
