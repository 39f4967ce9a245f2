// torvex-flash --json and --log read by the station's own reader: for every
// outcome the simulated indicator can provoke and every way a run ends before
// or beside it, one end event with the outcome that the exit status says, as
// doc/json-events.md documents it.

#include <QJsonDocument>
#include <QJsonObject>
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
    {1, {"usage", OutcomeKind::Failed}},
    {2, {"image-refused", OutcomeKind::Failed}},
    {3, {"port-unusable", OutcomeKind::Failed}},
    {4, {"no-connection", OutcomeKind::Failed}},
    {5, {"erase-failed", OutcomeKind::Failed}},
    {6, {"write-failed", OutcomeKind::Failed}},
    {7, {"end-write-refused", OutcomeKind::Warning}},
    {8, {"reset-refused", OutcomeKind::Warning}},
    {9, {"port-lost", OutcomeKind::Failed}},
    {10, {"unproven", OutcomeKind::Failed}},
    {143, {"interrupted", OutcomeKind::Failed}},
};

// The end events among JSON lines.
QList<QJsonObject> endEvents(const QByteArray &lines)
{
    QList<QJsonObject> ends;
    for (const QByteArray &line : lines.split('\n'))
        if (const QJsonObject e = QJsonDocument::fromJson(line).object(); e.value("event") == "end")
            ends << e;
    return ends;
}

// Runs torvex-flash --json --log, "\xNN" in an argument standing for that
// byte; stopMidWrite sends SIGTERM once progress shows. Checks that the run
// ends with one end event on standard output and one in the log, with the
// exit status's outcome, and that the station reads that outcome. said: what
// the run wrote, standard output then standard error.
void runAndRead(const QStringList &args, int expectedExit, bool stopMidWrite = false, QString *said = nullptr)
{
    QTemporaryDir logDir;
    const QString log = logDir.filePath("updates.log");
    QProcess flash;
    flash.start(QStringLiteral("bash"),
                QStringList{"-c", R"sh(a=(); for x in "$@"; do a+=("$(printf %b "$x")"); done; exec "${a[@]}")sh",
                            "bash", QStringLiteral(TORVEX_FLASH_BIN), "--json", "--log", log} + args);
    QByteArray out;
    if (stopMidWrite) {
        while (!out.contains("\"progress\"") && flash.waitForReadyRead(20000))
            out += flash.readAllStandardOutput();
        ::kill(pid_t(flash.processId()), SIGTERM);
    }
    QVERIFY(flash.waitForFinished(60000));
    out += flash.readAllStandardOutput();
    if (said)
        *said = QString::fromUtf8(out + flash.readAllStandardError());
    QCOMPARE(flash.exitCode(), expectedExit);
    QVERIFY2(Outcomes.contains(expectedExit), qPrintable(QString::number(expectedExit)));
    const QString word = Outcomes[expectedExit].outcome;

    QFile logFile(log);
    QVERIFY(logFile.open(QIODevice::ReadOnly));
    for (const QList<QJsonObject> &ends : {endEvents(out), endEvents(logFile.readAll())}) {
        QCOMPARE(ends.size(), 1);
        QCOMPARE(ends[0].value("outcome").toString(), word);
        QCOMPARE(ends[0].value("exit").toInt(), expectedExit);
    }
    JobState state;
    EventReader reader(state);
    reader.feed(out);
    reader.conclude(flash.exitCode());
    QCOMPARE(state.outcome, word);
    QCOMPARE(int(outcomeKind(state)), int(Outcomes[expectedExit].kind));
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

    // Every other way a run ends: the command line, the image, the
    // configuration, the port, a signal. Only an update that reaches the
    // port sends anything.
    void everyOtherEnd_data()
    {
        QTest::addColumn<QStringList>("args");  // @dir: the configuration; @image: the image file
        QTest::addColumn<QByteArray>("image");
        QTest::addColumn<bool>("progMode");     // [MODE] ModeProg=1 in the configuration
        QTest::addColumn<int>("exit");
        QTest::addColumn<QString>("says");      // on standard error, or in a JSON line
        const QByteArray good = makeImage(1100), lab = makeImage(1100, "V2", "KD7", '0', "LABT");
        const QStringList plain{"-c", "@dir", "@image"};
        QTest::newRow("port number out of range") << QStringList{"-p", "256", "@image"} << good << false << 1
            << "torvex-flash: --port takes a number from 1 to 255\nTry torvex-flash --help.";
        QTest::newRow("unknown option") << QStringList{"--bogus", "@image"} << good << false << 1 << "'bogus'";
        QTest::newRow("--json beside --info") << QStringList{"-i", "@image"} << good << false << 1
            << "--json and --log go with an update only";
        QTest::newRow("laboratory build refused") << plain << lab << false << 2 << "\"text\":\"This file can't be loaded.\"";
        QTest::newRow("laboratory build, ModeProg=1") << plain << lab << true << 0 << "";
        QTest::newRow("image unreadable") << QStringList{"-c", "@dir", "@dir/absent.bin"} << good << false << 2
            << "error: cannot read @dir/absent.bin: not a readable regular file of at most 2 GiB";
        QTest::newRow("image name not UTF-8") << QStringList{"-c", "@dir", "@dir/\\xff.bin"} << good << false << 2
            << ".bin is not valid UTF-8 and cannot be opened as given: rename the file or its folder";
        QTest::newRow("no configuration file") << QStringList{"-c", "@dir/none", "@image"} << good << false << 3
            << "error: port unusable: @dir/none/BootLoaderTorvexII.ini not found: give --port N or --device PATH";
        QTest::newRow("no such device") << QStringList{"-c", "@dir", "-d", "@dir/gone", "@image"} << good << false << 3
            << "error: port unusable: @dir/gone: ";
        QTest::newRow("device name not UTF-8") << QStringList{"-d", "/dev/tty\\xff", "@image"} << good << false << 3
            << " is not valid UTF-8 and cannot be opened as given: rename the device link or its folder";
        QTest::newRow("stopped while writing") << plain << good << false << 143
            << "torvex-flash: stopped by SIGTERM while writing";
    }
    void everyOtherEnd()
    {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, image);
        QFETCH(bool, progMode);
        QFETCH(int, exit);
        QFETCH(QString, says);
        SimRig rig;
        QVERIFY(rig.start(exit == 143 ? indicator({"program=100"}) : torvexsim::Options{}));
        rig.writeIni(QByteArray("[SERIAL]\r\nCommNum=3\r\n[MODE]\r\nModeProg=") + (progMode ? "1" : "0") + "\r\n");
        args.replaceInStrings(QStringLiteral("@image"), rig.writeImage(image));
        args.replaceInStrings(QStringLiteral("@dir"), rig.exeDir());
        QString said;
        runAndRead(args, exit, exit == 143, &said);
        if (QTest::currentTestFailed())
            return;
        QVERIFY2(said.contains(says.replace(QStringLiteral("@dir"), rig.exeDir())), qPrintable(said));
        rig.sim->stop();
        QCOMPARE(rig.received().isEmpty(), exit != 0 && exit != 143);
        QCOMPARE(rig.flash(image.size()) == image, exit == 0);
    }
};

QTEST_MAIN(TestContract)
#include "test_contract.moc"
