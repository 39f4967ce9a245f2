// torvex-flash run as a separate program against simulated indicators.

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QtTest>
#include <unistd.h>

#include "app/core/StartUp.h"
#include "link/PortNaming.h"
#include "protocol/frames.h"
#include "support/SimRig.h"

namespace {

struct Result {
    int code = -1;
    QStringList out;  // lines
    QString err;
};

// A program that fails to end is reported as such rather than left behind.
Result runFlash(const QStringList &args)
{
    QProcess p;
    p.start(QStringLiteral(TORVEX_FLASH_BIN), args);
    Result r;
    if (!p.waitForFinished(120000)) {
        p.kill();
        p.waitForFinished();
        r.err = QStringLiteral("did not end");
        return r;
    }
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromLocal8Bit(p.readAllStandardOutput()).split(QLatin1Char('\n'));
    if (r.out.constLast().isEmpty())
        r.out.removeLast();
    r.err = QString::fromLocal8Bit(p.readAllStandardError());
    return r;
}

QStringList expand(QStringList args, const SimRig &rig)
{
    for (QString &a : args) {
        a.replace(QLatin1String("@dir"), rig.exeDir());
        a.replace(QLatin1String("@slave"), QString::fromStdString(rig.sim->slavePath()));
    }
    return args;
}

torvexsim::Options withFaults(const QStringList &rules, int erase = 0)
{
    torvexsim::Options o;
    for (const QString &r : rules)
        o.faults.push_back(*torvexsim::parseFaultRule(r.toStdString()));
    o.eraseOutcome = torvexsim::EraseOutcome(erase);
    return o;
}

QByteArray iniFor(int port, int modeProg)
{
    return QByteArray("[SERIAL]\r\nCommNum=") + QByteArray::number(port) + "\r\n[MODE]\r\nModeProg="
         + QByteArray::number(modeProg) + "\r\n";
}

// Every byte of a whole update, both directions.
qint64 conversationBytes(const QByteArray &image)
{
    const qint64 blocks = (image.size() + 97) / 98;
    const qint64 replies = 5 + 29 + 5 + 5 + 5 * blocks + 5 + 5;  // resync, I, E, W, blocks, end, S
    return expectedUpdateStream(image).size() + replies;
}

}  // namespace

class TestCli : public QObject {
    Q_OBJECT

    // The log lines of a whole update, progress at most once per tenth.
    static void verifySuccessLog(const QStringList &out, int size)
    {
        QVERIFY2(out.size() >= 10, qPrintable(out.join('\n')));
        QVERIFY(out[0].startsWith(QStringLiteral("Image ")));
        QVERIFY(out[1].startsWith(QStringLiteral("Port ")));
        QCOMPARE(out[2], QStringLiteral("Connection with indicator Ok. Flash:M29W160EB"));
        QCOMPARE(out[3], QStringLiteral("Indicator software version: V1.10.00"));
        QVERIFY2(QRegularExpression(QStringLiteral("^Erasing flash \\.+$")).match(out[4]).hasMatch(),
                 qPrintable(out[4]));
        QCOMPARE(out[5], QStringLiteral("Flash erase finished ok."));
        const QString n = QString::number(size);
        const QRegularExpression progress(QStringLiteral("^Writing program to flash  \\((\\d+)/%1\\)$").arg(n));
        int i = 6, last = 0;
        for (; i < out.size() - 3; ++i) {
            const auto m = progress.match(out[i]);
            QVERIFY2(m.hasMatch(), qPrintable(out[i]));
            const int sent = m.captured(1).toInt();
            QVERIFY(sent * 10 / size > last * 10 / size);  // a new tenth each time
            last = sent;
        }
        QVERIFY2(i - 6 <= 9, qPrintable(out.join('\n')));
        QCOMPARE(out.mid(i), (QStringList{"Writing program to flash  (" + n + '/' + n + ')',
                                          "Program update Ok.", "Reseting indicator."}));
    }

private slots:
    void update_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<QByteArray>("tag");
        QTest::newRow("configured port") << QStringList{"--config", "@dir"} << iniFor(3, 0) << QByteArray("REL ");
        QTest::newRow("--port overrides the configured number")
            << QStringList{"--config", "@dir", "--port", "3"} << iniFor(9, 0) << QByteArray("REL ");
        QTest::newRow("--device, no configuration") << QStringList{"--config", "@dir/none", "--device", "@slave"}
            << QByteArray() << QByteArray("REL ");
        QTest::newRow("laboratory build, --lab") << QStringList{"-c", "@dir", "--lab"} << iniFor(3, 0)
            << QByteArray("LABT");
        QTest::newRow("laboratory build, ModeProg=1") << QStringList{"-c", "@dir"} << iniFor(3, 1)
            << QByteArray("LABT");
    }
    void update()
    {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, ini);
        QFETCH(QByteArray, tag);
        SimRig rig;
        QVERIFY(rig.start());
        rig.writeIni(ini);
        const QByteArray image = makeImage(30 * 98 - 17, "V2.03.01", "KD7", '0', tag);
        const Result r = runFlash(expand(args, rig) << rig.writeFile(QStringLiteral("fw.bin"), image));
        rig.sim->stop();
        QCOMPARE(r.err, QString());
        QCOMPARE(r.code, 0);
        verifySuccessLog(r.out, int(image.size()));
        QCOMPARE(r.out[0].endsWith(QLatin1String("laboratory build")), tag == "LABT");
        QCOMPARE(rig.flash(image.size()), image);
    }

    void failures_data()
    {
        QTest::addColumn<QStringList>("rules");
        QTest::addColumn<int>("erase");
        QTest::addColumn<QByteArray>("image");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("error");     // a line of standard error starts so
        QTest::addColumn<QString>("lastLine");  // of standard output, a pattern; "" none at all
        QTest::addColumn<int>("sent");          // 0 nothing, 1 some, 2 the whole image

        const QByteArray good = makeImage(1100);
        const QStringList cfg{"--config", "@dir"};
        const int nak = int(torvexsim::EraseOutcome::Nak);
        const QString reset = QStringLiteral("^Reseting indicator\\.$");
        QTest::newRow("identify unanswered") << QStringList{"I:silence"} << 0 << good << cfg << 4
            << "error: Can't connect with indicator." << "^Port " << 1;
        QTest::newRow("write mode unanswered") << QStringList{"W:silence"} << 0 << good << cfg << 4
            << "error: Can't connect with indicator." << "^Writing program to flash  $" << 1;
        QTest::newRow("erase refused") << QStringList{} << nak << good << cfg << 5
            << "error: Fail erasing the flash" << "^Erasing flash \\.+ Fail !$" << 1;
        QTest::newRow("block refused three times, at a tenth") << QStringList{"block2:refuse=3"} << 0 << good << cfg << 6
            << "error: Error al escribir en flash" << "^Write Fail!!\\.$" << 1;
        QTest::newRow("end of write refused") << QStringList{"end:refuse"} << 0 << good << cfg << 7
            << "error: Error al salir del modo escritura flash" << reset << 2;
        QTest::newRow("reset refused") << QStringList{"S:refuse"} << 0 << good << cfg << 8
            << "error: Fail reseting indicator." << reset << 2;

        QTest::newRow("other model") << QStringList{} << 0 << makeImage(1100, "V2", "KD8") << cfg << 2
            << "error: This file is not compatible with the indicator." << "" << 0;
        QTest::newRow("newer boot loader") << QStringList{} << 0 << makeImage(1100, "V2", "KD7", '1') << cfg
            << 2 << "error: This file is not compatible with this bootloader." << "" << 0;
        QTest::newRow("laboratory build") << QStringList{} << 0 << makeImage(1100, "V2", "KD7", '0', "LABT")
            << cfg << 2 << "error: This file can't be loaded." << "" << 0;
        QTest::newRow("image missing") << QStringList{} << 0 << QByteArray() << cfg << 2
            << "error: cannot read " << "" << 0;

        QTest::newRow("device missing") << QStringList{} << 0 << good
            << QStringList{"-c", "@dir", "--device", "@dir/gone"} << 3 << "error: port unusable: " << "" << 0;
        QTest::newRow("port link dangling") << QStringList{} << 0 << good
            << QStringList{"-c", "@dir", "--port", "7"} << 3 << "error: port unusable: " << "" << 0;
        QTest::newRow("no configuration file") << QStringList{} << 0 << good
            << QStringList{"-c", "@dir/none"} << 3 << "error: port unusable: " << "" << 0;
        QTest::newRow("device not permitted") << QStringList{} << 0 << good
            << QStringList{"-c", "@dir", "--device", "@dir/locked"} << 3
            << QStringLiteral("hint: ") + permissionHint() << "" << 0;
    }
    void failures()
    {
        QFETCH(QStringList, rules);
        QFETCH(int, erase);
        QFETCH(QByteArray, image);
        QFETCH(QStringList, args);
        QFETCH(int, code);
        QFETCH(QString, error);
        QFETCH(QString, lastLine);
        QFETCH(int, sent);
        if (error.startsWith(QLatin1String("hint")) && ::geteuid() == 0)
            QSKIP("the superuser opens any device");

        SimRig rig;
        QVERIFY(rig.start(withFaults(rules, erase)));
        QVERIFY(QFile::link(rig.exeDir() + QStringLiteral("/gone"), rig.exeDir() + QStringLiteral("/com7")));
        QFile locked(rig.writeFile(QStringLiteral("locked"), "x"));
        QVERIFY(locked.setPermissions({}));
        const QString path = image.isEmpty() ? rig.exeDir() + QStringLiteral("/absent.bin")
                                             : rig.writeFile(QStringLiteral("fw.bin"), image);
        const Result r = runFlash(expand(args, rig) << path);
        rig.sim->stop();

        QCOMPARE(r.code, code);
        QVERIFY2(r.err.startsWith(error) || r.err.contains('\n' + error), qPrintable(r.err));
        for (qsizetype i = 1; i < r.out.size(); ++i)
            QVERIFY2(r.out[i] != r.out[i - 1], qPrintable(r.out[i]));  // each line once
        if (lastLine.isEmpty())
            QCOMPARE(r.out, QStringList());
        else
            QVERIFY2(QRegularExpression(lastLine).match(r.out.constLast()).hasMatch(), qPrintable(r.out.join('\n')));
        if (sent == 0)
            QCOMPARE(rig.received(), QByteArray());
        else
            QVERIFY(!rig.received().isEmpty());
        if (sent == 2)
            QCOMPARE(rig.flash(image.size()), image);
    }

    void commandLine_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("output");  // contained in standard output, or error when code != 0
        QTest::newRow("no image") << QStringList{} << 1 << "give exactly one IMAGE";
        QTest::newRow("port 0") << QStringList{"--port", "0", "a.bin"} << 1 << "--port takes";
        QTest::newRow("port not a number") << QStringList{"-p", "3x", "a.bin"} << 1 << "--port takes";
        QTest::newRow("port and device") << QStringList{"-p", "3", "-d", "tty", "a.bin"} << 1 << "exclude";
        QTest::newRow("unknown option") << QStringList{"--erase-only", "a.bin"} << 1 << "erase-only";
        QTest::newRow("help") << QStringList{"--help"} << 0 << "8  reset refused";
        QTest::newRow("version") << QStringList{"--version"} << 0 << "torvex-flash " + programVersion();
    }
    void commandLine()
    {
        QFETCH(QStringList, args);
        QFETCH(int, code);
        QFETCH(QString, output);
        const Result r = runFlash(args);
        QCOMPARE(r.code, code);
        QVERIFY2((code == 0 ? r.out.join('\n') : r.err).contains(output), qPrintable(r.err));
    }

    void info_data()
    {
        QTest::addColumn<QByteArray>("image");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("tag");
        QTest::addColumn<QString>("lab");
        QTest::addColumn<QString>("accepted");
        QTest::newRow("release, whole blocks") << makeImage(1176) << QStringList{} << 0 << "\"REL \"" << "no" << "yes";
        QTest::newRow("control bytes in the tag") << makeImage(2000, "V2", "KD7", '0', "\x01" "A\\\xE9")
            << QStringList{} << 0 << "\"\\x01A\\x5C\\xE9\"" << "no" << "yes";
        QTest::newRow("other model") << makeImage(1100, "V2", "KD8") << QStringList{} << 2 << "\"REL \"" << "no"
            << "no: This file is not compatible with the indicator.";
        QTest::newRow("laboratory build") << makeImage(1100, "V2", "KD7", '0', "LABT") << QStringList{} << 2
            << "\"LABT\"" << "yes" << "no: This file can't be loaded.";
        QTest::newRow("laboratory build, --lab") << makeImage(1100, "V2", "KD7", '0', "LABT")
            << QStringList{"--lab"} << 0 << "\"LABT\"" << "yes" << "yes";
    }
    void info()
    {
        QFETCH(QByteArray, image);
        QFETCH(QStringList, args);
        QFETCH(int, code);
        QFETCH(QString, tag);
        QFETCH(QString, lab);
        QFETCH(QString, accepted);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("fw.bin"));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(image) == image.size());
        f.close();
        const Result r = runFlash(QStringList{"--info", "--config", dir.path(), path} + args);
        QCOMPARE(r.code, code);
        QMap<QString, QString> fields;
        for (const QString &line : r.out)
            fields[line.section(':', 0, 0)] = line.section(':', 1).trimmed();
        QCOMPARE(fields.value("Build tag"), tag);
        QCOMPARE(fields.value("Lab build"), lab);
        QCOMPARE(fields.value("Accepted"), accepted);
        QCOMPARE(fields.value("Size"), QString::number(image.size()) + " bytes");
        QCOMPARE(fields.value("Blocks").section(' ', 0, 0).toInt(), (image.size() + 97) / 98);
        const auto wire = QRegularExpression(QStringLiteral("\\((\\d+) bytes at 115200")).match(fields.value("Wire time"));
        QVERIFY(wire.hasMatch());
        QCOMPARE(wire.captured(1).toLongLong(), conversationBytes(image));
    }

    // The trace shows exactly what went on the line.
    void trace()
    {
        SimRig rig;
        QVERIFY(rig.start());
        const QByteArray image = makeImage(1100);
        const Result r = runFlash({"--trace", "-c", rig.exeDir(), rig.writeFile("fw.bin", image)});
        rig.sim->stop();
        QCOMPARE(r.code, 0);
        QByteArray out, in;
        const QRegularExpression line(QStringLiteral("^ *\\d+\\.\\d{6} ([<>]) ((?:[0-9a-f]{2} ?)+)$"));
        for (const QString &l : r.err.split('\n', Qt::SkipEmptyParts)) {
            const auto m = line.match(l);
            QVERIFY2(m.hasMatch(), qPrintable(l));
            (m.captured(1) == ">" ? out : in) += QByteArray::fromHex(m.captured(2).toLatin1());
        }
        QCOMPARE(out, expectedUpdateStream(image));
        QCOMPARE(out.size() + in.size(), conversationBytes(image));
    }

    void listPorts()
    {
        SimRig rig;
        QVERIFY(rig.start());
        const Result r = runFlash({"--list-ports", "--config", rig.exeDir()});
        QCOMPARE(r.code, 0);
        QVERIFY(r.out.contains("Serial devices:"));
        QVERIFY2(r.out.contains("  com3 -> " + QString::fromStdString(rig.sim->slavePath())),
                 qPrintable(r.out.join('\n')));
    }

    // A rack: one process per indicator, all at once.
    void parallel()
    {
        SimRig rigs[2];
        QByteArray images[2] = {makeImage(4000, "V2.03.01"), makeImage(5000, "V2.04.00")};
        QProcess runs[2];
        for (int i = 0; i < 2; ++i) {
            QVERIFY(rigs[i].start());
            runs[i].start(QStringLiteral(TORVEX_FLASH_BIN),
                          {"-c", rigs[i].exeDir(), rigs[i].writeFile("fw.bin", images[i])});
        }
        for (int i = 0; i < 2; ++i) {
            QVERIFY(runs[i].waitForFinished(120000));
            rigs[i].sim->stop();
            QCOMPARE(runs[i].exitStatus(), QProcess::NormalExit);
            QCOMPARE(runs[i].exitCode(), 0);
            QCOMPARE(rigs[i].flash(images[i].size()), images[i]);
        }
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "test_cli.moc"
