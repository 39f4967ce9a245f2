#include "FlashJob.h"

#include <QJsonDocument>

#include "FlashContract.h"

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
    m_stopTimer.setSingleShot(true);
    connect(&m_stopTimer, &QTimer::timeout, this, &FlashJob::climb);
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
    m_reader.reset();
    m_clock.start();
    m_process.start(program, arguments, QIODevice::ReadOnly);
    emit changed();
}

void FlashJob::stop(const StopLadder &ladder)
{
    // A second request must not cut the grace short: a second SIGTERM would.
    if (!running() || m_state.phase == JobState::Phase::Stopping)
        return;
    m_state.phase = JobState::Phase::Stopping;
    m_ladder = ladder.steps();
    m_nextStep = 0;
    climb();
    emit changed();
}

void FlashJob::climb()
{
    const StopLadder::Step &step = m_ladder[m_nextStep++];
    if (step.action == StopLadder::Action::Tell)
        m_process.terminate();
    else
        m_process.kill();
    if (m_nextStep < m_ladder.size())
        m_stopTimer.start(m_ladder[m_nextStep].atMs - step.atMs);
}

void FlashJob::readLines()
{
    m_reader.feed(m_process.readAllStandardOutput());
    emit changed();
}

void FlashJob::ended(int exitCode, QProcess::ExitStatus status)
{
    if (m_state.phase == JobState::Phase::Done)
        return;
    readLines();
    m_stopTimer.stop();
    m_state.seconds = double(m_clock.nsecsElapsed()) / 1e9;
    m_reader.conclude(status == QProcess::NormalExit ? exitCode : -1,
                      m_process.error() == QProcess::FailedToStart ? m_process.errorString() : QString());
    emit changed();
    emit finished();
}

void EventReader::reset()
{
    m_pending.clear();
    m_firstT = -1;
    m_sawEnd = false;
}

void EventReader::feed(const QByteArray &bytes)
{
    m_pending += bytes;
    qsizetype from = 0;
    for (qsizetype eol; (eol = m_pending.indexOf('\n', from)) >= 0; from = eol + 1) {
        const QJsonDocument doc = QJsonDocument::fromJson(m_pending.mid(from, eol - from));
        if (doc.isObject())
            handle(doc.object());
    }
    m_pending.remove(0, from);
}

void EventReader::handle(const QJsonObject &e)
{
    const QJsonValue kind = e.value(field::Event);
    if (kind == event::Stage) {
        m_state.stage = e.value(field::Stage).toString();
    } else if (kind == event::Start) {
        m_state.total = e.value(field::Size).toInteger();
    } else if (kind == event::Indicator) {
        m_state.model = e.value(field::Model).toString();
        m_state.version = e.value(field::Version).toString();
        m_state.chip = e.value(field::Chip).toString();
    } else if (kind == event::Progress) {
        m_state.sent = e.value(field::Sent).toInteger();
        m_state.total = e.value(field::Total).toInteger();
        m_state.retries = e.value(field::Retries).toInt();
        const double t = e.value(field::T).toDouble();
        if (m_firstT < 0) {
            m_firstT = t;
            m_firstSent = m_state.sent;
        } else if (t > m_firstT) {
            m_state.rate = double(m_state.sent - m_firstSent) / (t - m_firstT);
        }
    } else if (kind == event::Message) {
        m_state.outcomeText = e.value(field::Text).toString();
    } else if (kind == event::End) {
        m_sawEnd = true;
        m_state.outcome = e.value(field::Outcome).toString();
        m_state.doubt = e.value(field::Doubt).toString();
        if (m_state.outcomeText.isEmpty())
            m_state.outcomeText = e.value(field::Error).toString();
    }
}

void EventReader::conclude(int exitCode, const QString &startError)
{
    m_state.phase = JobState::Phase::Done;
    m_state.exitCode = exitCode;
    if (exitCode == ExitOk) {
        m_state.outcomeText = QStringLiteral("Program update Ok.");
    } else if (!startError.isEmpty()) {
        m_state.outcome = outcome::Failed;
        m_state.outcomeText = QStringLiteral("torvex-flash could not be started: %1").arg(startError);
    } else if (!m_sawEnd || exitCode < 0) {
        m_state.outcome = outcome::Failed;
        m_state.outcomeText = QStringLiteral("torvex-flash ended without a result (%1)")
                                  .arg(exitCode < 0 ? QStringLiteral("killed or crashed")
                                                    : QStringLiteral("exit status %1").arg(exitCode));
    } else if (m_state.outcome == outcome::Unproven) {
        // Not a block the indicator refused: the line cannot prove what was written.
        m_state.outcomeText = QStringLiteral("Error al escribir en flash: the line showed more replies than "
                                             "frames; run the update again");
    } else if (m_state.outcome == outcome::Interrupted) {
        m_state.outcomeText = QStringLiteral("Stopped: the indicator needs a new update");
    } else if (m_state.outcome == outcome::PortUnusable) {
        m_state.outcomeText = QStringLiteral("Port unusable: ") + m_state.outcomeText;
    }
}

OutcomeKind outcomeKind(const JobState &state)
{
    if (state.phase != JobState::Phase::Done)
        return OutcomeKind::None;
    if (state.exitCode == 0)
        return OutcomeKind::Ok;
    // Written and reset, or written: the indicator runs the new firmware or will.
    if (state.outcome == outcome::EndWriteRefused || state.outcome == outcome::ResetRefused)
        return OutcomeKind::Warning;
    return OutcomeKind::Failed;
}

QString outcomeToolTip(const JobState &state)
{
    QStringList lines;
    if (!state.doubt.isEmpty()) {
        const QByteArray word = state.doubt.toLatin1();
        const DoubtMeaning *meaning = doubtMeaning(QLatin1String(word));
        lines << QStringLiteral("Doubt: ") + state.doubt
                     + (meaning ? QStringLiteral(" (%1)").arg(QLatin1String(meaning->meaning)) : QString());
    }
    if (!state.errorOutput.trimmed().isEmpty())
        lines << state.errorOutput.trimmed();
    return lines.join(QLatin1Char('\n'));
}
