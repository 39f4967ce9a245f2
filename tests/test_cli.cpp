// torvex-flash run as a separate program against simulated indicators.
// ctest: 6 slow shards

#include <QProcess>
#include <QRegularExpression>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>
#include <csignal>
#include <mutex>
#include <unistd.h>

#include "ReportWords.h"
#include "support/CoreUpdate.h"
#include "support/FlashRun.h"
#include "support/RawPty.h"
#include "support/Scenarios.h"

namespace {

// An adapter's name as udev gives it: a link to the device, kept across re-plugging.
const QString ById = QStringLiteral("/by-id/usb-FTDI_FT232R_A1-if00-port0");

// A row's text with @byid, @dir and @tty filled in: that link, the configuration's folder, the device.
QString filled(QString text, const QString &dir, const QString &tty)
{
    return text.replace("@byid", dir + ById).replace("@dir", dir).replace("@tty", tty);
}

}  // namespace

class TestCli : public QObject {
    Q_OBJECT

private slots:
    void init() { skipOutsideScenariosInSlowShards(); }

    // Every scenario: the window's status lines on standard output, its
    // boxes as errors, and the exit status for the outcome.
    void scenario_data() { addScenarioRows(); }
    void scenario()
    {
        SimRig rig;
        const Scenario *row = rowScenario(rig);
        if (!row)
            QSKIP("no scenario runs here");
        const Scenario &s = *row;
        const QByteArray image = makeImage(s.size);
        const FlashRun r = runFlash({"-c", rig.exeDir(), rig.writeImage(image)});
        rig.sim->stop();

        QCOMPARE(r.code, s.exitCode);
        QVERIFY2(r.out.size() >= 2 && r.out[1] == "Port " + rig.slave(), qPrintable(r.out.join('\n')));
        // A log file gets a progress line per tenth: the last one before the next line stands.
        const auto progress = [&](qsizetype i) {
            return i < r.out.size() && r.out[i].startsWith("Writing program to flash  (");
        };
        QString shown;
        for (qsizetype i = 2; i < r.out.size(); ++i)
            if (!progress(i) || !progress(i + 1))
                shown += r.out[i] + '\n';
        QCOMPARE(foldStatus(shown), s.status.isEmpty() || s.status.endsWith('\n') ? s.status : s.status + '\n');
        // Standard error: the boxes as errors.
        const QStringList errors = r.err.split('\n', Qt::SkipEmptyParts)
                                       .filter(QRegularExpression("^error: (?!.*could not be opened again|port lost)"));
        QCOMPARE(errors, QStringList(s.boxes).replaceInStrings(QRegularExpression("^!?"), "error: "));
        QCOMPARE(r.err.contains(QStringLiteral("error: port lost: com3 (")), s.exitCode == 9);
        if (!s.wire.isEmpty())
            QCOMPARE(rig.received().toHex(), wireOf(s.wire, image).toHex());
        QCOMPARE(rig.flash(s.size) == image, s.flashed);
    }

    // A doubt of the line is named where a person and a program look: the
    // trace, the JSON events, the end event, and a note on standard error.
    void doubtNamed_data()
    {
        QTest::addColumn<QStringList>("indicator");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("doubt");  // the end event's, "" for none
        QTest::addColumn<QString>("stage");
        QTest::newRow("healthy") << QStringList{"latency=2"} << 0 << "" << "";
        QTest::newRow("refused write mode: a refusal is no doubt") << QStringList{"W:refuse"} << 4 << "" << "";
        QTest::newRow("a reply copied before the last block")
            << QStringList{"block10:twice=1*1", "block11:silence*1"} << 10 << "extra-reply" << "write";
    }
    void doubtNamed()
    {
        QFETCH(QStringList, indicator); QFETCH(int, code); QFETCH(QString, doubt); QFETCH(QString, stage);
        SimRig rig;
        QVERIFY(rig.start(::indicator(indicator)));
        const FlashRun r = runFlash({"-c", rig.exeDir(), "--json", "--trace", rig.writeImage(makeImage(1100))});
        rig.sim->stop();
        QCOMPARE(r.code, code);
        QStringList doubts;  // cause@stage of each doubt event, then of the end event (the last line)
        for (const QByteArray &line : r.output.trimmed().split('\n'))
            if (const QJsonObject e = QJsonDocument::fromJson(line).object(); e["event"] == "doubt")
                doubts << e["cause"].toString() + '@' + e["stage"].toString();
            else if (e["event"] == "end")
                doubts << e["doubt"].toString() + '@' + e["doubtStage"].toString();
        QCOMPARE(doubts.value(doubts.size() - 1), doubt + '@' + stage);
        QCOMPARE(doubts.indexOf(doubt + '@' + stage) < doubts.size() - 1, !doubt.isEmpty());
        QCOMPARE(r.err.contains(QStringLiteral("! doubt %1 during %2: ").arg(doubt, stage)), !doubt.isEmpty());
        // Said in words, with what to do, when it decided the outcome.
        QCOMPARE(r.err.contains(QStringLiteral("torvex-flash: the line (%1, during %2): ").arg(doubt, stage)),
                 code != 0 && !doubt.isEmpty());
        QCOMPARE(r.err.contains(QStringLiteral("What to do: run the update again")), code == 10);
    }

    void commandLine_data()
    {
        QTest::addColumn<QStringList>("args");  // @dir, @tty, @byid: see filled(); the image goes last
        QTest::addColumn<QByteArray>("image");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("output");  // in standard output, or in standard error on failure
        const QByteArray good = makeImage(1100);
        QTest::newRow("--port 255 is a port") << QStringList{"-c", "@dir", "--port", "255"} << good << 0 << "Reseting indicator.";
        QTest::newRow("--port and --device") << QStringList{"-p", "3", "-d", "tty"} << good << 1 << "exclude";
        QTest::newRow("help") << QStringList{"--help"} << QByteArray() << 0 << "8  reset refused";
        QTest::newRow("--device by its by-id name") << QStringList{"-c", "@dir/none", "-d", "@byid"} << good << 0
            << "Port @tty\n";
        QTest::newRow("laboratory build, --lab") << QStringList{"-c", "@dir", "--lab"}
            << makeImage(1100, "V2", "KD7", '0', "LABT") << 0 << "laboratory build";
        QTest::newRow("--info") << QStringList{"-i", "-c", "@dir"} << makeImage(1176) << 0 << "Blocks:       12 of at most 98 bytes";
    }
    void commandLine()
    {
        QFETCH(QStringList, args); QFETCH(QByteArray, image); QFETCH(int, code); QFETCH(QString, output);
        SimRig rig;
        QVERIFY(rig.start({}, QTest::currentDataTag() == QByteArray("--port 255 is a port") ? 255 : 3));
        QVERIFY(QDir(rig.exeDir()).mkpath("by-id") && QFile::link(rig.slave(), rig.exeDir() + ById));
        for (QString &a : args)
            a = filled(a, rig.exeDir(), rig.slave());
        if (!image.isEmpty())
            args << rig.writeImage(image);
        const FlashRun r = runFlash(args);
        rig.sim->stop();
        QCOMPARE(r.code, code);
        QVERIFY2((code == 0 ? r.out.join('\n') : r.err).contains(filled(output, rig.exeDir(), rig.slave())),
                 qPrintable(r.out.join('\n') + r.err));
        QCOMPARE(!image.isEmpty() && rig.flash(image.size()) == image, code == 0 && !image.isEmpty() && !args.contains("-i"));
    }

    // --set-port makes or replaces the link the port number is looked up by,
    // or says why not and what to do instead; --list-ports then shows it.
    void setPort_data()
    {
        QTest::addColumn<QString>("config");  // given with -c; @dir/usr links its configuration to @dir
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("device");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("message");  // standard output, or standard error on failure
        QTest::addColumn<QString>("link");     // now pointing to the device; "" when none may be made
        QTest::newRow("makes a link") << "@dir" << 4 << "@tty" << 0 << "Port 4: @dir/com4 -> @tty\n"
            "Note: @dir/BootLoaderTorvexII.ini names port 3 (CommNum=3): use --port 4, or set CommNum=4 there." << "@dir/com4";
        QTest::newRow("replaces a link") << "@dir" << 9 << "@tty" << 0 << "Port 9: @dir/com9 -> @tty, was -> @dir/gone"
                                         << "@dir/com9";
        QTest::newRow("a by-id name, kept as given") << "@dir" << 4 << "@byid" << 0
            << "Port 4: @dir/com4 -> @byid (now @tty)" << "@dir/com4";
        QTest::newRow("beside the configuration's real location") << "@dir/usr" << 4 << "@tty" << 0
            << "Port 4: @dir/com4 -> @tty" << "@dir/com4";
        QTest::newRow("the link looked up first") << "@dir/usr" << 5 << "@tty" << 0
            << "Port 5: @dir/usr/com5 -> @tty, was -> @dir/gone" << "@dir/usr/com5";
        QTest::newRow("a relative path") << "@dir" << 4 << "usr/../fw.bin" << 3
            << "port 4 not linked: @dir/fw.bin is not a serial device: it is a regular file, not a character device" << "";
        QTest::newRow("a folder") << "@dir" << 4 << "@dir/usr" << 3 << "it is a folder" << "";
        QTest::newRow("no such device") << "@dir" << 4 << "@dir/ttyUSB9" << 3
            << "@dir/ttyUSB9: No such file or directory (is the adapter plugged in?" << "";
        QTest::newRow("the link itself") << "@dir" << 3 << "@dir/com3" << 3 << "@dir/com3 is the link @dir/com3 itself" << "";
        QTest::newRow("a folder that needs root") << "@dir/locked" << 4 << "@tty" << 3
            << "port 4 not linked: cannot make @dir/locked/com4: Permission denied\n"
               "The folder @dir/locked needs root. As root (sudo, or su - first), run:\n"
               "    ln -sfn @tty @dir/locked/com4\n" << "";
        QTest::newRow("port 0") << "@dir" << 0 << "@tty" << 1 << "--set-port takes a number from 1 to 255" << "";
    }
    void setPort()
    {
        QFETCH(QString, config); QFETCH(int, number); QFETCH(QString, device); QFETCH(int, code);
        QFETCH(QString, message); QFETCH(QString, link);
        SimRig rig;
        RawPty tty;  // another device than the simulator's
        const QString dir = rig.exeDir(), slave = tty.slavePath();
        QVERIFY(rig.start() && QDir(dir).mkpath("usr") && QDir(dir).mkpath("locked") && QDir(dir).mkpath("by-id"));
        rig.writeFile("fw.bin", "not a device");
        QVERIFY(QFile::link("../BootLoaderTorvexII.ini", dir + "/usr/BootLoaderTorvexII.ini")
                && QFile::copy(dir + "/BootLoaderTorvexII.ini", dir + "/locked/BootLoaderTorvexII.ini"));
        QVERIFY(QFile::link(dir + "/gone", dir + "/com9") && QFile::link(dir + "/gone", dir + "/usr/com5")
                && QFile::link(slave, dir + ById));
        const auto open = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup
                        | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther;
        QVERIFY(QFile::setPermissions(dir, open) && QFile::setPermissions(dir + "/locked", open & ~QFile::WriteOwner));
        const auto fill = [&](const QString &text) { return filled(text, dir, slave); };
        const QString cwd = QDir::currentPath();
        QDir::setCurrent(dir);
        const FlashRun r = runFlash({"-c", fill(config), "--set-port", QString::number(number), fill(device)},
                                  config == "@dir/locked");
        QDir::setCurrent(cwd);
        QFile::setPermissions(dir + "/locked", open);
        QCOMPARE(r.code, code);
        QVERIFY2((code == 0 ? r.out.join('\n') : r.err).contains(fill(message)), qPrintable(r.out.join('\n') + r.err));
        if (link.isEmpty()) {
            QVERIFY(!QFileInfo(fill(config) + "/com4").isSymLink() && !QFileInfo(dir + "/com4").isSymLink());
            return;
        }
        QCOMPARE(QFileInfo(fill(link)).symLinkTarget(), fill(device));
        const FlashRun listed = runFlash({"-c", fill(config), "--list-ports"});
        QVERIFY2(listed.out.contains(QStringLiteral("com%1 -> %2").arg(number).arg(slave)), qPrintable(listed.out.join('\n')));
    }

    // The port passed its proof at start-up but cannot be opened again: the
    // port is unusable (3), not a silent indicator (4).
    void portLostAfterStartUp()
    {
        SimRig rig;
        CoreUpdate update;
        QVERIFY(rig.start() && update.prepare(rig, makeImage(1100)));
        rig.sim->stop();
        QVERIFY(QFile::link(rig.exeDir() + QStringLiteral("/gone"), rig.exeDir() + QStringLiteral("/com3")));
        const UpdateReport r = update.run();
        QCOMPARE(r.outcome, UpdateOutcome::NoConnection);
        QCOMPARE(exitCodeFor(r), ExitPortUnusable);
    }

    // Ctrl-C mid-write ends between two frames. During the erase its reply is
    // awaited (said once), so that the next run is not answered by it; a second
    // Ctrl-C ends at once. Either way the port is released and the next update is whole.
    void stopsOnSignal_data()
    {
        QTest::addColumn<bool>("erasing");
        QTest::addColumn<int>("stops");
        QTest::addColumn<QStringList>("said");  // how each line on standard error begins
        const QString waiting = "waiting for the indicator to finish erasing; press Ctrl-C again to quit now";
        QTest::newRow("mid-write") << false << 1 << QStringList{"torvex-flash: stopped by SIGINT while writing, "};
        QTest::newRow("erasing, once: the erase is awaited") << true << 1
                                                             << QStringList{waiting, "torvex-flash: stopped by SIGINT "};
        QTest::newRow("erasing, twice: ends at once") << true << 2 << QStringList{waiting};
    }
    void stopsOnSignal()
    {
        QFETCH(bool, erasing); QFETCH(int, stops); QFETCH(QStringList, said);
        SimRig rig;
        torvexsim::Options options = indicator({erasing ? "erase-time=2500" : "baud=115200"});
        std::mutex mutex;
        int acksSent = 0;  // as the simulator logs them when it sends them
        options.log = [&](const std::string &line) {
            const std::lock_guard lock(mutex);
            acksSent += line.find("sim> 02 06 00 0A 0D (ACK)") != std::string::npos;
        };
        QVERIFY(rig.start(options));
        const QByteArray image = makeImage(40000);
        const QStringList args{QStringLiteral("--config"), rig.exeDir(), rig.writeImage(image)};
        QProcess run;
        run.start(QStringLiteral(TORVEX_FLASH_BIN), args);
        QTRY_VERIFY_WITH_TIMEOUT(erasing ? rig.sim->counters().erases == 1 : run.peek(4096).contains("Writing program"),
                                 10000);
        for (int i = 0; i < stops; ++i) {
            ::kill(pid_t(run.processId()), SIGINT);
            QTest::qWait(300);  // the first is taken before the second comes
        }
        QVERIFY(run.state() == QProcess::NotRunning || run.waitForFinished(30000));
        // Erasing: the resync's, then the erase's.
        const int acksAtExit = [&] { const std::lock_guard lock(mutex); return acksSent; }();
        QCOMPARE(acksAtExit >= 2, stops == 1);
        QCOMPARE(run.exitCode(), 130);
        const QStringList err = QString::fromUtf8(run.readAllStandardError()).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(err.size(), said.size());
        for (qsizetype i = 0; i < err.size(); ++i)
            QVERIFY2(err[i].startsWith(said[i]), qPrintable(err[i]));
        QVERIFY(!lockFileLeft(QDir(rig.exeDir()).filePath(QStringLiteral("com3"))));
        if (stops == 1) {
            QCOMPARE(runFlash(args).code, 0);
            QCOMPARE(rig.flash(image.size()), image);
        }
        rig.sim->stop();
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "test_cli.moc"
