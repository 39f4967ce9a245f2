// The whole update from the core's side: every scenario against the simulated
// indicator, with the time limit each frame went out under and the driver
// flags the port leaves behind.
// ctest: 6 slow shards

#include <QRegularExpression>
#include <QtTest>
#include <map>

#include "support/CoreUpdate.h"
#include "support/Scenarios.h"

Q_DECLARE_METATYPE(UpdateOutcome)

namespace {

// A pseudo-terminal has no driver flags: these stand in for the driver.
std::map<qintptr, int> driverFlags;
int flagWrites = 0;

QString frameKind(const QByteArray &frame)
{
    if (frame[1] != 'A')
        return QString(QLatin1Char(frame[1]));
    return frame[2] || frame[3] ? QStringLiteral("block") : QStringLiteral("end");
}

}  // namespace

class TestUpdate : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        serialFlagCalls.get = [](qintptr handle, int &flags) { flags = driverFlags[handle]; return true; };
        serialFlagCalls.set = [](qintptr handle, int flags) { driverFlags[handle] = flags; ++flagWrites; return true; };
    }

    void init() { skipOutsideScenariosInSlowShards(); }

    void scenario_data() { addScenarioRows(); }
    void scenario()
    {
        SimRig rig;
        const Scenario *row = rowScenario(rig);
        if (!row)
            QSKIP("no scenario runs here");
        const Scenario &s = *row;
        CoreUpdate update;
        const QByteArray image = makeImage(s.size);
        QVERIFY(update.prepare(rig, image));
        auto &[link, view, selection] = update;
        view.events.clear();

        // The time limit each frame goes out under (set before the write; a
        // coarse timer may end it 5 % early).
        const std::map<QString, int> limit{{"I", 200}, {"E", 25000}, {"W", 200}, {"block", 2000}, {"end", 300}, {"S", 300}};
        QStringList wrongLimits, kinds;
        // Headers go out as writes of their own: once an empty frame has
        // followed the blocks, no block may follow it (write mode may be over).
        bool blocksSent = false, writeEnded = false, blockAfterEnd = false;
        link.com1.setTracer([&](CommPort::Direction d, const QByteArray &b, qint64) {
            if (d != CommPort::Direction::Out || b.size() < 5 || b[0] != '\x02')
                return;
            if (b.size() == 5 && b[1] == 'A') {
                const bool empty = b[2] == 0 && b[3] == 0;
                blockAfterEnd = blockAfterEnd || (!empty && writeEnded);
                writeEnded = writeEnded || (empty && blocksSent);
                blocksSent = blocksSent || !empty;
            }
            const QString kind = frameKind(b);
            kinds << kind;
            if (link.tmrCom.interval() != limit.at(kind) || link.tmrCom.timerType() != Qt::PreciseTimer)
                wrongLimits << kind + QLatin1Char('=') + QString::number(link.tmrCom.interval());
        });
        flagWrites = 0;
        const UpdateReport r = cmdProgram_Click(view, link, selection);
        link.com1.close();
        rig.sim->stop();

        QCOMPARE(r.outcome, s.outcome);
        QCOMPARE(view.boxes, s.boxes);
        QCOMPARE(foldStatus(view.status), s.status);
        QCOMPARE(rig.flash(s.size) == image, s.flashed);
        QVERIFY2(wrongLimits.isEmpty(), qPrintable(wrongLimits.join(' ')));
        QVERIFY(!blockAfterEnd);
        const bool exactWire = !s.wire.isEmpty();
        if (exactWire) {
            QCOMPARE(rig.received().toHex(), wireOf(s.wire, image).toHex());
            kinds.removeDuplicates();
            QCOMPARE(kinds.size() == 6, s.wire.contains(QStringLiteral("S")));
        }

        // Buttons locked for the whole update; the hourglass from the erase on.
        QCOMPARE(view.events.constFirst(), QStringLiteral("disable"));
        QCOMPARE(view.events.constLast(), QStringLiteral("enable"));
        QCOMPARE(view.events.contains(QStringLiteral("busy")), s.status.contains(QStringLiteral("Erasing")));
        QVERIFY(!view.busy && view.programEnabled && view.selectEnabled && view.exitEnabled);

        // One progress line per block, counting up by 98.
        QList<qint64> counts;
        const QRegularExpression progress(QStringLiteral("flash  \\((\\d+)/%1\\)$").arg(s.size));
        for (const QString &text : std::as_const(view.statusHistory))
            if (const auto m = progress.match(text); m.hasMatch() && (counts.isEmpty() || counts.constLast() != m.captured(1).toLongLong()))
                counts << m.captured(1).toLongLong();
        for (qsizetype k = 0; exactWire && k < counts.size(); ++k)
            QCOMPARE(counts[k], qMin<qint64>(98 * k, s.size));
        QCOMPARE(counts.isEmpty(), !s.status.contains(QStringLiteral("flash  (")));

        // Every driver flag the port changed is back as it was.
        QVERIFY(flagWrites > 0);
        for (const auto &[handle, flags] : driverFlags)
            QCOMPARE(flags, 0);

        if (s.indicator.contains(QStringLiteral("E:delay=3500"))) {
            // One dot per second of the erase: 3.5 s cross three or four.
            const auto m = QRegularExpression(QStringLiteral("Erasing flash (\\.+)\r\n")).match(view.status);
            QVERIFY2(m.capturedLength(1) == 4 || m.capturedLength(1) == 5, qPrintable(view.status));
        }
    }

    // Extra replies with a lost reply or a background erase: where it fails
    // depends on timing, but it never claims a flash it did not write.
    void neverFalseSuccess_data()
    {
        QTest::addColumn<QStringList>("indicator");
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("outcome");  // -1: any failure
        const auto row = [](const QStringList &rules, int size = 1100, int outcome = -1) {
            if (rowRunsHere(true))
                QTest::addRow("%d bytes, %s", size, qPrintable(rules.join(QStringLiteral(", "))))
                    << rules << size << outcome;
        };
        // The last block, whatever its length, is watched for a reply still
        // on its way (here the indicator ignores the block): always unproven.
        for (const int size : {1078, 1100, 1176, 1177}) {
            const int last = (size + 97) / 98 - 1;
            row({QStringLiteral("block%1:twice=1*1").arg(last - 1), QStringLiteral("block%1:silence*1").arg(last)},
                size, int(UpdateOutcome::Unproven));
        }
        // A copy in place of an ignored block: the sequence check or the count.
        row({"baud=115200", "block5:twice=2*1", "block6:silence*1"});
        for (const char *delay : {"5", "40", "120", "400"})
            row({QStringLiteral("any:twice=%1").arg(delay), QStringLiteral("block11:lose*1")});
        for (const char *latency : {"0", "2", "20"}) {
            row({"erase-background", "erase-time=300", QStringLiteral("latency=%1").arg(latency), "any:twice=120"});
            row({QStringLiteral("latency=%1").arg(latency), "end:twice=2"});
        }
        row({"block2:repeat=30", "block3:delay=2500*1"});
        row({"block6:repeat=200", "block7:silence"});
    }
    void neverFalseSuccess()
    {
        if (!QTest::currentDataTag())
            QSKIP("no row runs here");
        QFETCH(QStringList, indicator);
        QFETCH(int, size);
        QFETCH(int, outcome);
        SimRig rig;
        QVERIFY(rig.start(::indicator(indicator)));
        CoreUpdate update;
        const QByteArray image = makeImage(size);
        QVERIFY(update.prepare(rig, image));
        const UpdateReport r = update.run();
        update.link.com1.close();
        rig.sim->stop();
        const bool written = rig.flash(image.size()) == image;
        QVERIFY(written || r.outcome != UpdateOutcome::Ok);
        QVERIFY(written || !update.view.status.contains(QStringLiteral("Program update Ok.")));
        QVERIFY(r.outcome == UpdateOutcome::Ok || !update.view.boxes.isEmpty());
        if (outcome >= 0)
            QCOMPARE(int(r.outcome), outcome);
    }

    // Doubt an update leaves is waited out by the next one before its wake-up,
    // saying why, so that the wake-up and the resync still go back to back.
    void earlierDoubtWaitedOutFirst()
    {
        SimRig rig;
        QVERIFY(rig.start(indicator({"I:silence*1"})));
        CoreUpdate update;
        const QByteArray image = makeImage(1100);
        QVERIFY(update.prepare(rig, image));
        QCOMPARE(update.run().outcome, UpdateOutcome::NoConnection);
        QVERIFY(update.link.trust().suspect());
        QTRY_COMPARE(rig.received().size(), wireOf({"wake", "I"}, image).size());
        update.view.statusHistory.clear();
        const UpdateReport r = update.run();
        rig.sim->stop();
        QCOMPARE(r.outcome, UpdateOutcome::Ok);
        QCOMPARE(update.view.statusHistory.value(1),
                 QStringLiteral("Waiting for the line to go quiet: the last update left replies owed."));
        QCOMPARE(update.view.statusHistory.value(2), QString());  // cleared before the wake-up
        QCOMPARE(rig.received().toHex(), wireOf({"wake", "I", "wake", "I", "E", "W", "blocks", "end", "S"}, image).toHex());
    }

    // The image shown is no longer there to send: nothing goes on the line.
    void nothingToSend_data()
    {
        QTest::addColumn<int>("how");
        QTest::newRow("nothing selected") << 0;
        QTest::newRow("shown file deleted") << 1;
        QTest::newRow("later selection cancelled") << 2;
    }
    void nothingToSend()
    {
        QFETCH(int, how);
        SimRig rig;
        Link link;
        QVERIFY(rig.start() && rig.startUp(link));
        RecordingView view;
        ImageSelection selection;
        view.dialogAnswers = {rig.writeImage(makeImage(1100)), std::nullopt};
        for (int i = 0; i < how; ++i)
            cmdSelFile_Click(view, selection);  // the second is cancelled
        QVERIFY(how != 1 || QFile::remove(view.file));
        view.status = QStringLiteral("kept");
        view.events.clear();
        QCOMPARE(cmdProgram_Click(view, link, selection).outcome, UpdateOutcome::NoFile);
        QCOMPARE(view.boxes, QStringList{"!First select a valid file"});
        QCOMPARE(view.status, QStringLiteral("kept"));
        QCOMPARE(view.events, (QStringList{"disable", "box", "enable"}));
        rig.sim->stop();
        QCOMPARE(rig.received(), QByteArray());
    }

    // The image rewritten in place while it is written: the indicator gets
    // the bytes the update read at its start, and so does the hash.
    void imageReadOnce()
    {
        struct RewritingView : RecordingView {
            QString path;
            QByteArray taken;
            void imageTaken(const QByteArray &image) override { taken = image; }
            void blockAcknowledged(qint64 sent, qint64, int) override
            {
                if (sent == 2 * 98) {
                    QFile f(path);
                    QVERIFY(f.open(QIODevice::ReadWrite));
                    f.write(QByteArray(int(f.size()), 'X'));
                }
            }
        };
        SimRig rig;
        Link link;
        QVERIFY(rig.start() && rig.startUp(link));
        RewritingView view;
        ImageSelection selection;
        const QByteArray image = makeImage(1100);
        view.path = rig.writeImage(image);
        view.dialogAnswers.push_back(view.path);
        cmdSelFile_Click(view, selection);
        QCOMPARE(cmdProgram_Click(view, link, selection).outcome, UpdateOutcome::Ok);
        rig.sim->stop();
        QCOMPARE(rig.flash(image.size()), image);
        QCOMPARE(view.taken, image);
    }
};

QTEST_GUILESS_MAIN(TestUpdate)
#include "test_update.moc"
