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

bool isProgress(const QString &line)
{
    return line.startsWith(QLatin1String("Writing program to flash  ("));
}

// An adapter's name as udev gives it: a link to the device, kept across re-plugging.
const QString ById = QStringLiteral("/by-id/usb-FTDI_FT232R_A1-if00-port0");

bool linkById(const QString &dir, const QString &device)
{
    return QDir(dir).mkpath(QStringLiteral("by-id")) && QFile::link(device, dir + ById);
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
        QVERIFY2(r.out.size() >= 2 && r.out[1] == "Port " + rig.slave(),
                 qPrintable(r.out.join('\n')));
        // A log file gets a progress line per tenth: the last one before the next line stands.
        QStringList lines;
        for (qsizetype i = 2; i < r.out.size(); ++i)
            if (!isProgress(r.out[i]) || i + 1 == r.out.size() || !isProgress(r.out[i + 1]))
                lines << r.out[i];
        const QString shown = lines.isEmpty() ? QString() : lines.join('\n') + '\n';
        QCOMPARE(foldStatus(shown), s.status.isEmpty() || s.status.endsWith('\n') ? s.status : s.status + '\n');
        // Standard error: the boxes as errors.
        const QStringList errors = r.err.split('\n', Qt::SkipEmptyParts)
                                       .filter(QRegularExpression("^error: (?!.*could not be opened again|port lost)"));
        QStringList boxes = s.boxes;
        boxes.replaceInStrings(QRegularExpression(QStringLiteral("^!?")), QStringLiteral("error: "));
        QCOMPARE(errors, boxes);
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
        QFETCH(QStringList, indicator);
        QFETCH(int, code);
        QFETCH(QString, doubt);
        QFETCH(QString, stage);
        SimRig rig;
        QVERIFY(rig.start(::indicator(indicator)));
        const FlashRun r = runFlash({"-c", rig.exeDir(), "--json", "--trace", rig.writeImage(makeImage(1100))});
        rig.sim->stop();
        QCOMPARE(r.code, code);
        QJsonObject end;
        QStringList doubtEvents;
        for (const QByteArray &line : r.output.split('\n')) {
            const QJsonObject e = QJsonDocument::fromJson(line).object();
            if (e.value("event") == "doubt")
                doubtEvents << e.value("cause").toString() + '@' + e.value("stage").toString();
            if (e.value("event") == "end")
                end = e;
        }
        QCOMPARE(end.value("doubt").toString(), doubt);
        QCOMPARE(end.value("doubtStage").toString(), stage);
        QCOMPARE(doubtEvents.contains(doubt + '@' + stage), !doubt.isEmpty());
        QCOMPARE(r.err.contains(QStringLiteral("! doubt %1 during %2: ").arg(doubt, stage)), !doubt.isEmpty());
        // Said in words, with what to do, when it decided the outcome.
        QCOMPARE(r.err.contains(QStringLiteral("torvex-flash: the line (%1, during %2): ").arg(doubt, stage)),
                 code != 0 && !doubt.isEmpty());
        QCOMPARE(r.err.contains(QStringLiteral("What to do: run the update again")), code == 10);
    }

    void commandLine_data()
    {
        QTest::addColumn<QStringList>("args");  // @dir: the configuration; the image goes last
        QTest::addColumn<QByteArray>("image");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("output");  // in standard output, or in standard error on failure
        const QByteArray good = makeImage(1100);
        QTest::newRow("--port 255 is a port") << QStringList{"-c", "@dir", "--port", "255"} << good << 0 << "Reseting indicator.";
        QTest::newRow("--port and --device") << QStringList{"-p", "3", "-d", "tty"} << good << 1 << "exclude";
        QTest::newRow("help") << QStringList{"--help"} << QByteArray() << 0 << "8  reset refused";
        QTest::newRow("--device, no configuration") << QStringList{"-c", "@dir/none", "-d", "@slave"} << good << 0 << "Reseting";
        QTest::newRow("--device by its by-id name") << QStringList{"-c", "@dir/none", "-d", "@byid"} << good << 0
            << "Port @slave\n";
        QTest::newRow("laboratory build, --lab") << QStringList{"-c", "@dir", "--lab"}
            << makeImage(1100, "V2", "KD7", '0', "LABT") << 0 << "laboratory build";
        QTest::newRow("dangling link") << QStringList{"-c", "@dir", "-p", "9"} << good << 3
            << "port unusable: @dir/com9 is a dangling link: its target @dir/gone does not exist";
        QTest::newRow("no link, no numbered device") << QStringList{"-c", "@dir", "-p", "200"} << good << 3
            << "no com200 link found in @dir, and the numbered fallback device /dev/ttyS199 does not exist either";
        QTest::newRow("--list-ports") << QStringList{"-c", "@dir", "--list-ports"} << QByteArray() << 0
            << "com3 -> @slave\ncom9 -> @dir/gone (dangling link: @dir/gone does not exist)";
        QTest::newRow("--info") << QStringList{"-i", "-c", "@dir"} << makeImage(1176) << 0 << "Blocks:       12 of at most 98 bytes";
    }
    void commandLine()
    {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, image);
        QFETCH(int, code);
        QFETCH(QString, output);
        SimRig rig;
        QVERIFY(rig.start({}, QTest::currentDataTag() == QByteArray("--port 255 is a port") ? 255 : 3));
        QVERIFY(QFile::link(rig.exeDir() + QStringLiteral("/gone"), rig.exeDir() + QStringLiteral("/com9")));
        QVERIFY(linkById(rig.exeDir(), rig.slave()));
        for (QString &a : args)
            a.replace(QLatin1String("@dir"), rig.exeDir()).replace(QLatin1String("@slave"), rig.slave())
                .replace(QLatin1String("@byid"), rig.exeDir() + ById);
        output.replace(QLatin1String("@dir"), rig.exeDir()).replace(QLatin1String("@slave"),
                                                                    rig.slave());
        if (!image.isEmpty())
            args << rig.writeImage(image);
        const FlashRun r = runFlash(args);
        rig.sim->stop();
        QCOMPARE(r.code, code);
        QVERIFY2((code == 0 ? r.out.join('\n') : r.err).contains(output), qPrintable(r.out.join('\n') + r.err));
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
        QFETCH(QString, config);
        QFETCH(int, number);
        QFETCH(QString, device);
        QFETCH(int, code);
        QFETCH(QString, message);
        QFETCH(QString, link);
        SimRig rig;
        QVERIFY(rig.start());
        rig.writeFile("fw.bin", "not a device");
        RawPty tty;  // another device than the simulator's
        const QString dir = rig.exeDir(), slave = tty.slavePath();
        QDir(dir).mkdir("usr");
        QVERIFY(QFile::link("../BootLoaderTorvexII.ini", dir + "/usr/BootLoaderTorvexII.ini"));
        for (const QString &gone : {dir + "/com9", dir + "/usr/com5"})
            QVERIFY(QFile::link(dir + "/gone", gone));
        QDir(dir).mkdir("locked");
        QFile::copy(dir + "/BootLoaderTorvexII.ini", dir + "/locked/BootLoaderTorvexII.ini");
        const auto open = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup
                        | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther;
        QVERIFY(QFile::setPermissions(dir, open) && QFile::setPermissions(dir + "/locked", open & ~QFile::WriteOwner));
        QVERIFY(linkById(dir, slave));
        const auto fill = [&](QString s) { return s.replace("@byid", dir + ById).replace("@dir", dir).replace("@tty", slave); };

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

    // Ctrl-C mid-write: no frame after it, the port closed, the next update whole.
    void stopsOnSignal()
    {
        SimRig rig;
        QVERIFY(rig.start(indicator({"baud=115200"})));
        const QByteArray image = makeImage(40000);
        const QString path = rig.writeImage(image);
        const QStringList args{QStringLiteral("--config"), rig.exeDir(), path};
        QProcess run;
        run.start(QStringLiteral(TORVEX_FLASH_BIN), args);
        QTRY_VERIFY_WITH_TIMEOUT(run.peek(4096).contains("Writing program to flash  ("), 10000);
        ::kill(pid_t(run.processId()), SIGINT);
        QVERIFY(run.waitForFinished(5000));
        QCOMPARE(run.exitCode(), 130);
        const QString err = QString::fromUtf8(run.readAllStandardError());
        QVERIFY2(err.contains(QStringLiteral("stopped by SIGINT while writing")), qPrintable(err));
        QCOMPARE(err.count(QLatin1Char('\n')), 1);
        QVERIFY(!lockFileLeft(QDir(rig.exeDir()).filePath(QStringLiteral("com3"))));

        QCOMPARE(runFlash(args).code, 0);
        rig.sim->stop();
        QCOMPARE(rig.flash(image.size()), image);
    }

    // Ctrl-C during the erase: the erase's reply is still awaited (said once),
    // so an immediate second run is not answered by it. A second Ctrl-C ends
    // at once, and the port is released all the same.
    void stopDuringErase_data()
    {
        QTest::addColumn<int>("stops");
        QTest::newRow("once: the erase is awaited") << 1;
        QTest::newRow("twice: ends at once") << 2;
    }
    void stopDuringErase()
    {
        QFETCH(int, stops);
        SimRig rig;
        torvexsim::Options slowErase;
        slowErase.eraseTime = std::chrono::milliseconds(2500);
        // What went out, as the simulator logs it when it sends.
        std::mutex mutex;
        int acksSent = 0;
        slowErase.log = [&](const std::string &line) {
            const std::lock_guard lock(mutex);
            acksSent += line.find("sim> 02 06 00 0A 0D (ACK)") != std::string::npos;
        };
        QVERIFY(rig.start(slowErase));
        const QByteArray image = makeImage(1100);
        const QStringList args{QStringLiteral("--config"), rig.exeDir(), rig.writeImage(image)};
        QProcess run;
        run.start(QStringLiteral(TORVEX_FLASH_BIN), args);
        QTRY_VERIFY_WITH_TIMEOUT(rig.sim->counters().erases == 1, 10000);
        for (int i = 0; i < stops; ++i) {
            ::kill(pid_t(run.processId()), SIGINT);
            QTest::qWait(300);  // the first is taken before the second comes
        }
        QVERIFY(run.state() == QProcess::NotRunning || run.waitForFinished(30000));
        int acksAtExit;  // the resync's, then the erase's
        {
            const std::lock_guard lock(mutex);
            acksAtExit = acksSent;
        }
        QCOMPARE(run.exitCode(), 130);
        const QString err = QString::fromUtf8(run.readAllStandardError());
        QCOMPARE(err.count(QStringLiteral("waiting for the indicator to finish erasing; press Ctrl-C again to quit now")),
                 1);
        QCOMPARE(acksAtExit >= 2, stops == 1);
        QVERIFY(!lockFileLeft(QDir(rig.exeDir()).filePath(QStringLiteral("com3"))));
        if (stops == 2) {
            rig.sim->stop();
            return;
        }
        QCOMPARE(runFlash(args).code, 0);
        rig.sim->stop();
        QCOMPARE(rig.flash(image.size()), image);
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "test_cli.moc"
