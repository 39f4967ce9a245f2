// torvex-flash --json and --log read by the station's own reader: for every
// outcome the simulated indicator can provoke and every other way a run ends,
// one end event with the exit status's outcome, as doc/json-events.md says.

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>
#include <csignal>

#include "FlashContract.h"
#include "FlashJob.h"
#include "support/Scenarios.h"
#include "support/SimRig.h"

namespace {

QList<QJsonObject> endEvents(const QByteArray &lines)
{
    QList<QJsonObject> ends;
    for (const QByteArray &line : lines.split('\n'))
        if (const QJsonObject e = QJsonDocument::fromJson(line).object(); e.value("event") == "end")
            ends << e;
    return ends;
}

// Runs torvex-flash --json --log ARGS ("\xNN" in an argument stands for that
// byte) into out and err, with SIGTERM once progress shows if stopMidWrite.
// Standard output and the log must each hold one end event with the exit
// status's outcome (test_pages holds the words to the documented ones), and the
// station must read that outcome.
void runAndRead(const QStringList &args, int expectedExit, QByteArray &out, QString &err, bool stopMidWrite = false)
{
    QTemporaryDir logDir;
    const QString log = logDir.filePath("updates.log");
    QProcess flash;
    flash.start(QStringLiteral("bash"),
                QStringList{"-c", R"sh(a=(); for x in "$@"; do a+=("$(printf %b "$x")"); done; exec "${a[@]}")sh",
                            "bash", QStringLiteral(TORVEX_FLASH_BIN), "--json", "--log", log} + args);
    while (stopMidWrite && !out.contains("\"progress\"") && flash.waitForReadyRead(20000))
        out += flash.readAllStandardOutput();
    if (stopMidWrite)
        ::kill(pid_t(flash.processId()), SIGTERM);
    QVERIFY(flash.waitForFinished(60000));
    out += flash.readAllStandardOutput();
    err = QString::fromUtf8(flash.readAllStandardError());
    QCOMPARE(flash.exitCode(), expectedExit);
    const QString word = outcomeWord(expectedExit);

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
    // Green for an update, a warning when only a step after the write was refused.
    QCOMPARE(int(outcomeKind(state)), int(expectedExit == 0                        ? OutcomeKind::Ok
                                          : expectedExit == 7 || expectedExit == 8 ? OutcomeKind::Warning
                                                                                   : OutcomeKind::Failed));
    QVERIFY(!state.outcomeText.isEmpty());
}

}  // namespace

class TestContract : public QObject {
    Q_OBJECT

private slots:
    // The first quick scenario of each exit status, and its events in the order
    // the update goes: start first, then the stages in order, progress rising, end last.
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
        const QByteArray image = makeImage(s->size);
        QByteArray out;
        QString err;
        runAndRead({"-c", rig.exeDir(), rig.writeImage(image)}, s->exitCode, out, err);
        if (QTest::currentTestFailed())
            return;
        QList<QJsonObject> events;
        QStringList kinds, stages, boxes, status;
        qint64 sent = 0;
        for (const QByteArray &line : out.trimmed().split('\n')) {
            const QJsonObject &e = events.emplaceBack(QJsonDocument::fromJson(line).object());
            kinds << e["event"].toString();
            if (kinds.last() == "stage")
                stages << e["stage"].toString();
            else if (kinds.last() == "message")
                boxes << (e["icon"] == "error" ? "!" : "") + e["text"].toString();
            else if (kinds.last() == "status")
                status << e["text"].toString();
            else if (kinds.last() == "progress")
                QVERIFY(std::exchange(sent, e["sent"].toInteger()) < e["sent"].toInteger());
        }
        QCOMPARE(kinds.first() + kinds.last(), QStringLiteral("startend"));
        QCOMPARE(events.first()["sha256"].toString(),
                 QString::fromLatin1(QCryptographicHash::hash(image, QCryptographicHash::Sha256).toHex()));
        const QStringList order{"wake-up", "identify", "erase", "write mode", "write", "end of write", "reset"};
        QCOMPARE(stages, order.mid(0, stages.size()));
        QCOMPARE(kinds.contains("indicator"), stages.contains("erase"));
        QCOMPARE(boxes, s->boxes);
        QCOMPARE(foldStatus(status.join('\n') + '\n'), s->status.endsWith('\n') ? s->status : s->status + '\n');
        QCOMPARE(events.last()["sent"].toInteger(), sent);
        rig.sim->stop();
        int repeats = 0, seq = -1;  // blocks sent again
        for (const torvexsim::FrameRecord &f : rig.sim->frames())
            if (f.kind == torvexsim::Frame::Kind::Data && f.length > 0)
                repeats += std::exchange(seq, f.seq) == f.seq;
        QCOMPARE(events.last()["retries"].toInt(), repeats);
    }

    // Every other way a run ends: the command line, the image, the
    // configuration, the port, a signal. Only a run that reaches the port sends anything.
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
        QTest::newRow("stopped while writing") << plain << good << false << 143 << "torvex-flash: stopped by SIGTERM while writing";
    }
    void everyOtherEnd()
    {
        QFETCH(QStringList, args); QFETCH(QByteArray, image); QFETCH(bool, progMode); QFETCH(int, exit);
        QFETCH(QString, says);
        SimRig rig;
        QVERIFY(rig.start(exit == 143 ? indicator({"program=100"}) : torvexsim::Options{}));
        rig.writeIni(QByteArray("[SERIAL]\r\nCommNum=3\r\n[MODE]\r\nModeProg=") + (progMode ? "1" : "0") + "\r\n");
        args.replaceInStrings(QStringLiteral("@image"), rig.writeImage(image));
        args.replaceInStrings(QStringLiteral("@dir"), rig.exeDir());
        QByteArray out;
        QString err;
        runAndRead(args, exit, out, err, exit == 143);
        if (QTest::currentTestFailed())
            return;
        const QString said = QString::fromUtf8(out) + err;
        QVERIFY2(said.contains(says.replace(QStringLiteral("@dir"), rig.exeDir())), qPrintable(said));
        rig.sim->stop();
        QCOMPARE(rig.received().isEmpty(), exit != 0 && exit != 143);
        QCOMPARE(rig.flash(image.size()) == image, exit == 0);
    }
};

QTEST_MAIN(TestContract)
#include "test_contract.moc"
