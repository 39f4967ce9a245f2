// torvex-flash --json read by the station's own reader: for every outcome
// the simulated indicator can provoke, the station must read the outcome
// that the exit status says, as doc/json-events.md documents it.

#include <QProcess>
#include <QtTest>
#include <csignal>

#include "FlashJob.h"
#include "support/Scenarios.h"
#include "support/SimRig.h"

namespace {

struct Documented {
    QString outcome;
    OutcomeKind kind;
};

// The words programs that run torvex-flash match on: fixed bytes, not the code's constants.
const QMap<int, Documented> Outcomes{
    {0, {"ok", OutcomeKind::Ok}},
    {2, {"image-refused", OutcomeKind::Failed}},
    {3, {"port-unusable", OutcomeKind::Failed}},
    {4, {"no-connection", OutcomeKind::Failed}},
    {5, {"erase-failed", OutcomeKind::Failed}},
    {6, {"write-failed", OutcomeKind::Failed}},
    {7, {"end-write-refused", OutcomeKind::Warning}},
    {8, {"reset-refused", OutcomeKind::Warning}},
    {9, {"port-lost", OutcomeKind::Failed}},
    {143, {"interrupted", OutcomeKind::Failed}},
};

// Runs torvex-flash --json; stopMidWrite sends SIGTERM once progress shows.
// Checks that the station reads the exit status's outcome from the stream.
void runAndRead(const QStringList &args, int expectedExit, bool stopMidWrite = false)
{
    QProcess flash;
    flash.start(QStringLiteral(TORVEX_FLASH_BIN), QStringList{"--json"} + args);
    QByteArray out;
    if (stopMidWrite) {
        while (!out.contains("\"progress\"") && flash.waitForReadyRead(20000))
            out += flash.readAllStandardOutput();
        ::kill(pid_t(flash.processId()), SIGTERM);
    }
    QVERIFY(flash.waitForFinished(60000));
    out += flash.readAllStandardOutput();
    QCOMPARE(flash.exitCode(), expectedExit);

    JobState state;
    EventReader reader(state);
    reader.feed(out);
    reader.conclude(flash.exitCode());
    QVERIFY2(Outcomes.contains(state.exitCode), qPrintable(QString::number(state.exitCode)));
    QCOMPARE(state.outcome, Outcomes[state.exitCode].outcome);
    QCOMPARE(int(outcomeKind(state)), int(Outcomes[state.exitCode].kind));
    QVERIFY(!state.outcomeText.isEmpty());
}

}  // namespace

class TestContract : public QObject {
    Q_OBJECT

private slots:
    // The first quick scenario of each exit status.
    void scenario_data()
    {
        addScenarioRows([](const Scenario &s) {
            static QSet<int> seen;
            return !s.slow && !seen.contains(s.exitCode) && (seen.insert(s.exitCode), true);
        });
    }
    void scenario()
    {
        SimRig rig;
        const Scenario *s = rowScenario(rig);
        if (!s)
            QSKIP("no scenario runs here");
        runAndRead({"-c", rig.exeDir(), rig.writeImage(makeImage(s->size))}, s->exitCode);
    }

    // Outcomes no indicator behaviour gives: the image, the port, a signal.
    void beforeAndBeside_data()
    {
        QTest::addColumn<QStringList>("args");  // @dir: the configuration
        QTest::addColumn<QByteArray>("image");
        QTest::addColumn<int>("exit");
        QTest::newRow("laboratory build refused") << QStringList{"-c", "@dir"}
            << makeImage(1100, "V2", "KD7", '0', "LABT") << 2;
        QTest::newRow("no such device") << QStringList{"-c", "@dir", "-d", "@dir/gone"} << makeImage(1100) << 3;
        QTest::newRow("stopped while writing") << QStringList{"-c", "@dir"} << makeImage(1100) << 143;
    }
    void beforeAndBeside()
    {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, image);
        QFETCH(int, exit);
        SimRig rig;
        QVERIFY(rig.start(indicator({"program=100"})));
        args.replaceInStrings(QStringLiteral("@dir"), rig.exeDir());
        runAndRead(args << rig.writeImage(image), exit, exit == 143);
    }
};

QTEST_MAIN(TestContract)
#include "test_contract.moc"
