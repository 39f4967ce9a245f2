#include "FlashJob.h"

#include <QJsonDocument>

#ifdef Q_OS_LINUX
#include <csignal>
#include <sys/prctl.h>
#endif

FlashJob::FlashJob(QObject *parent) : QObject(parent)
{
    m_process.setProcessChannelMode(QProcess::SeparateChannels);
#ifdef Q_OS_LINUX
    // Should the station itself die, the child still stops cleanly instead of
    // updating on alone.
    m_process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
#endif
    m_killTimer.setSingleShot(true);
    connect(&m_killTimer, &QTimer::timeout, this, [this] {
        if (m_stopsSent++ == 1) {
            m_process.terminate();
            m_killTimer.start(3000);
        } else {
            m_process.kill();
        }
    });
    connect(&m_process, &QProcess::readyReadStandardOutput, this, &FlashJob::readLines);
    connect(&m_process, &QProcess::readyReadStandardError, this,
            [this] { m_state.errorOutput += QString::fromLocal8Bit(m_process.readAllStandardError()); });
    connect(&m_process, &QProcess::finished, this, &FlashJob::ended);
    connect(&m_process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            ended(-1, QProcess::CrashExit);
    });
}

FlashJob::~FlashJob()
{
    // Last resort only: the window stops its children before it goes.
    disconnect(&m_process, nullptr, this, nullptr);
    if (running()) {
        m_process.kill();
        m_process.waitForFinished(3000);
    }
}

void FlashJob::start(const QString &program, const QStringList &arguments)
{
    m_state = {};
    m_state.phase = JobState::Phase::Running;
    m_pending.clear();
    m_firstT = -1;
    m_sawEnd = false;
    m_clock.start();
    m_process.start(program, arguments, QIODevice::ReadOnly);
    emit changed();
}

void FlashJob::stop(int graceMs)
{
    if (!running())
        return;
    m_state.phase = JobState::Phase::Stopping;
    m_stopsSent = 1;
    m_process.terminate();
    m_killTimer.start(graceMs);
    emit changed();
}

void FlashJob::readLines()
{
    m_pending += m_process.readAllStandardOutput();
    qsizetype from = 0;
    for (qsizetype eol; (eol = m_pending.indexOf('\n', from)) >= 0; from = eol + 1) {
        const QJsonDocument doc = QJsonDocument::fromJson(m_pending.mid(from, eol - from));
        if (doc.isObject())
            handle(doc.object());
    }
    m_pending.remove(0, from);
    emit changed();
}

void FlashJob::handle(const QJsonObject &e)
{
    const QString kind = e.value(QLatin1String("event")).toString();
    if (kind == QLatin1String("stage")) {
        m_state.stage = e.value(QLatin1String("stage")).toString();
    } else if (kind == QLatin1String("start")) {
        m_state.total = e.value(QLatin1String("size")).toInteger();
    } else if (kind == QLatin1String("indicator")) {
        m_state.model = e.value(QLatin1String("model")).toString();
        m_state.version = e.value(QLatin1String("version")).toString();
        m_state.chip = e.value(QLatin1String("chip")).toString();
    } else if (kind == QLatin1String("progress")) {
        m_state.sent = e.value(QLatin1String("sent")).toInteger();
        m_state.total = e.value(QLatin1String("total")).toInteger();
        m_state.retries = e.value(QLatin1String("retries")).toInt();
        const double t = e.value(QLatin1String("t")).toDouble();
        if (m_firstT < 0) {
            m_firstT = t;
            m_firstSent = m_state.sent;
        } else if (t > m_firstT) {
            m_state.rate = double(m_state.sent - m_firstSent) / (t - m_firstT);
        }
    } else if (kind == QLatin1String("message")) {
        m_state.outcomeText = e.value(QLatin1String("text")).toString();
    } else if (kind == QLatin1String("end")) {
        m_sawEnd = true;
        m_state.outcome = e.value(QLatin1String("outcome")).toString();
        if (m_state.outcomeText.isEmpty())
            m_state.outcomeText = e.value(QLatin1String("error")).toString();
    }
}

void FlashJob::ended(int exitCode, QProcess::ExitStatus status)
{
    if (m_state.phase == JobState::Phase::Done)
        return;
    readLines();
    m_killTimer.stop();
    m_state.phase = JobState::Phase::Done;
    m_state.seconds = double(m_clock.nsecsElapsed()) / 1e9;
    m_state.exitCode = status == QProcess::NormalExit ? exitCode : -1;
    if (m_state.exitCode == 0) {
        m_state.outcomeText = QStringLiteral("Program update Ok.");
    } else if (!m_sawEnd || m_state.exitCode < 0) {
        m_state.outcome = QStringLiteral("failed");
        m_state.outcomeText = m_process.error() == QProcess::FailedToStart
            ? QStringLiteral("torvex-flash could not be started: %1").arg(m_process.errorString())
            : QStringLiteral("torvex-flash ended without a result");
    } else if (m_state.outcome == QLatin1String("interrupted")) {
        m_state.outcomeText = QStringLiteral("Stopped: the indicator needs a new update");
    } else if (m_state.outcome == QLatin1String("port-unusable")) {
        m_state.outcomeText = QStringLiteral("Port unusable: ") + m_state.outcomeText;
    }
    emit changed();
    emit finished();
}

OutcomeKind outcomeKind(const JobState &state)
{
    if (state.phase != JobState::Phase::Done)
        return OutcomeKind::None;
    if (state.exitCode == 0)
        return OutcomeKind::Ok;
    // Written and reset, or written: the indicator runs the new firmware or will.
    if (state.outcome == QLatin1String("end-write-refused") || state.outcome == QLatin1String("reset-refused"))
        return OutcomeKind::Warning;
    return OutcomeKind::Failed;
}
