// torvex-station with its torvex-flash children against simulated indicators,
// and the JSON event stream those children speak.

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>
#include <csignal>

#include "PortTable.h"
#include "PortView.h"
#include "StationWindow.h"
#include "support/FlashRun.h"
#include "support/ModalAnswerer.h"
#include "support/SimRig.h"

namespace {

QList<QJsonObject> jsonLines(const QByteArray &text)
{
    QList<QJsonObject> out;
    for (const QByteArray &line : text.split('\n'))
        if (!line.isEmpty())
            out << QJsonDocument::fromJson(line).object();  // an invalid line gives an empty object
    return out;
}

QString sha256(const QByteArray &bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

// A station whose links com1, com2, ... lead to one simulated indicator each.
struct Rack {
    QTemporaryDir dir;
    std::vector<std::unique_ptr<SimRig>> rigs;
    std::unique_ptr<StationWindow> station;
    QByteArray image = makeImage(3000);

    explicit Rack(const QList<torvexsim::Options> &indicators)
    {
        for (int i = 0; i < indicators.size(); ++i) {
            rigs.push_back(std::make_unique<SimRig>());
            rigs.back()->start(indicators[i], i + 1);
            QFile::link(rigs.back()->slave(), dir.filePath(QStringLiteral("com%1").arg(i + 1)));
        }
        station = std::make_unique<StationWindow>(
            StationSettings{readConfiguration(dir.path()), QStringLiteral(TORVEX_FLASH_BIN), dir.filePath(QStringLiteral("updates.log"))});
        station->show();
        station->selectImage(rigs.front()->writeImage(image));
        for (int i = 0; i < indicators.size(); ++i)
            station->ports().setTicked(row(i), true);
    }
    int row(int i) const { return station->ports().row(QStringLiteral("com%1").arg(i + 1)); }
    const JobState &state(int i) const { return station->ports().job(row(i)).state(); }
    QList<QJsonObject> log() const
    {
        QFile f(dir.filePath(QStringLiteral("updates.log")));
        return f.open(QIODevice::ReadOnly) ? jsonLines(f.readAll()) : QList<QJsonObject>();
    }
};

}  // namespace

class TestStation : public QObject {
    Q_OBJECT

private slots:
    // Four indicators, the third refusing a block three times; then the failed one again.
    void updatesSideBySide()
    {
        Rack rack({{}, {}, indicator({"block3:refuse=3"}), {}});
        // Tick all ticks every port unless all are ticked, then clears them;
        // Space ticks the current row from any column.
        PortTable &ports = rack.station->ports();
        ports.setTicked(rack.row(2), false);
        ports.tickAll();
        QCOMPARE(ports.tally().ticked, ports.rowCount());
        ports.tickAll();
        auto *view = rack.station->findChild<PortView *>();
        view->setCurrentIndex(ports.index(rack.row(2), PortTable::OutcomeColumn));
        QTest::keyClick(view, Qt::Key_Space);
        QVERIFY(ports.tally().ticked == 1 && ports.ticked(rack.row(2)));
        for (int i = 0; i < 4; ++i)
            ports.setTicked(rack.row(i), true);
        rack.station->updateTicked();
        QTRY_VERIFY_WITH_TIMEOUT(!rack.station->busy(), 60000);
        const int codes[] = {0, 0, 6, 0};
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(rack.state(i).exitCode, codes[i]);
            QCOMPARE(rack.state(i).outcomeText, codes[i] ? "Error al escribir en flash" : "Program update Ok.");
            QCOMPARE(rack.state(i).model + rack.state(i).version, QStringLiteral("KD7V1.10.00"));
            QCOMPARE(rack.rigs[size_t(i)]->flash(rack.image.size()) == rack.image, codes[i] == 0);
        }
        const PortTable::Tally tally = ports.tally();
        QVERIFY(tally.ticked == 4 && tally.running == 0 && tally.updated == 3 && tally.failed == 1);

        rack.station->rerunFailed();
        QTRY_VERIFY_WITH_TIMEOUT(!rack.station->busy(), 60000);
        QCOMPARE(rack.state(2).exitCode, 0);
        QCOMPARE(rack.rigs[2]->flash(rack.image.size()), rack.image);
        QCOMPARE(rack.state(0).exitCode, 0);  // the others were left alone

        // One line per update, each naming its port, image and indicator.
        QStringList exits;
        for (const QJsonObject &e : rack.log()) {
            exits << e["port"].toString() + ':' + QString::number(e["exit"].toInt());
            QVERIFY(e["sha256"].toString() == sha256(rack.image) && e["indicator"]["version"] == "V1.10.00");
            QVERIFY(!e["started"].toString().isEmpty() && !e["host"].toString().isEmpty());
        }
        exits.sort();
        QCOMPARE(exits, (QStringList{"com1:0", "com2:0", "com3:0", "com3:6", "com4:0"}));
    }

    // Closing while the indicators erase: asked first, then every child waits
    // for its erase to end and stops cleanly.
    void closeMidUpdate()
    {
        torvexsim::Options slowErase;
        slowErase.eraseTime = std::chrono::milliseconds(4000);
        Rack rack({slowErase, slowErase});
        rack.station->updateTicked();
        QTRY_VERIFY_WITH_TIMEOUT(rack.state(0).stage == "erase" && rack.state(1).stage == "erase", 20000);
        const qint64 pids[] = {rack.station->ports().job(rack.row(0)).processId(),
                               rack.station->ports().job(rack.row(1)).processId()};

        ModalAnswerer answerer;
        QVERIFY(!rack.station->close());  // the window waits for its children
        QVERIFY(answerer.boxes.size() == 1 && answerer.boxes[0].text.startsWith("2 updates are running."));
        QTRY_VERIFY_WITH_TIMEOUT(!rack.station->isVisible(), 10000);
        for (int i = 0; i < 2; ++i) {
            QCOMPARE(rack.state(i).exitCode, 128 + SIGTERM);
            QCOMPARE(::kill(pid_t(pids[i]), 0), -1);  // ended and reaped
        }
        const QList<QJsonObject> log = rack.log();
        QCOMPARE(log.size(), 2);
        for (const QJsonObject &e : log)
            QCOMPARE(e["outcome"].toString(), QStringLiteral("interrupted"));
    }

    // Links made and removed while the station runs: rows come and go by
    // themselves, ticks stay, and a running update goes on undisturbed.
    void portListFollowsLinks()
    {
        Rack rack({indicator({"program=40"})});
        PortTable &ports = rack.station->ports();
        // A link to the same device would be listed as an alias: these lead nowhere.
        const QString nowhere = rack.dir.filePath("gone");
        QVERIFY(QFile::link(nowhere, rack.dir.filePath("com7")));
        QTRY_VERIFY(ports.row("com7") >= 0);
        QVERIFY(QFile::remove(rack.dir.filePath("com7")));
        QTRY_COMPARE(ports.row("com7"), -1);
        QVERIFY(ports.ticked(rack.row(0)));

        rack.station->updateTicked();
        QTRY_COMPARE(rack.state(0).stage, QStringLiteral("write"));
        QVERIFY(QFile::link(nowhere, rack.dir.filePath("com8")));
        QTRY_VERIFY(ports.row("com8") >= 0);  // the list was read again mid-update
        QVERIFY(ports.job(rack.row(0)).running() && ports.ticked(rack.row(0)));
        QTRY_VERIFY_WITH_TIMEOUT(!rack.station->busy(), 30000);
        QCOMPARE(rack.state(0).exitCode, 0);
        QCOMPARE(ports.data(ports.index(rack.row(0), PortTable::StageColumn), Qt::DisplayRole).toString(),
                 QStringLiteral("done"));
    }

    // What a row shows at the end, from the events its child wrote and its exit status.
    void outcomeShown_data()
    {
        QTest::addColumn<QStringList>("events");
        QTest::addColumn<int>("exit");  // -1: killed or crashed
        QTest::addColumn<QString>("stage");
        QTest::addColumn<QString>("text");
        QTest::addColumn<OutcomeKind>("kind");
        QTest::addColumn<QString>("tip");  // how the tooltip begins
        const QString writeBox = R"({"event":"message","icon":"none","text":"Error al escribir en flash"})";
        const auto end = [](const char *outcome, int exit, const char *more = "") {
            return QStringLiteral(R"({"event":"end","outcome":"%1","exit":%2%3})").arg(outcome).arg(exit).arg(more);
        };
        QTest::newRow("updated") << QStringList{end("ok", 0)} << 0 << "done" << "Program update Ok."
                                 << OutcomeKind::Ok << "";
        QTest::newRow("a block refused three times") << QStringList{writeBox, end("write-failed", 6)} << 6
            << "write-failed" << "Error al escribir en flash" << OutcomeKind::Failed << "";
        QTest::newRow("the end unproven") << QStringList{writeBox, end("unproven", 10, R"(,"doubt":"extra-reply")")} << 10
            << "unproven"
            << "Error al escribir en flash: the line showed more replies than frames; run the update again"
            << OutcomeKind::Failed << "Doubt: extra-reply (the line showed more replies than frames";
        QTest::newRow("reset refused") << QStringList{R"({"event":"message","icon":"error","text":"Fail reseting indicator."})",
                                                      end("reset-refused", 8)}
            << 8 << "reset-refused" << "Fail reseting indicator." << OutcomeKind::Warning << "";
        QTest::newRow("stopped") << QStringList{end("interrupted", 143)} << 143 << "interrupted"
            << "Stopped: the indicator needs a new update" << OutcomeKind::Failed << "";
        QTest::newRow("port unusable") << QStringList{end("port-unusable", 3, R"(,"error":"com3 is in use")")} << 3
            << "port-unusable" << "Port unusable: com3 is in use" << OutcomeKind::Failed << "";
        QTest::newRow("no end event") << QStringList{R"({"event":"stage","stage":"erase"})"} << 9 << "failed"
            << "torvex-flash ended without a result (exit status 9)" << OutcomeKind::Failed << "";
        QTest::newRow("killed") << QStringList{end("interrupted", 143)} << -1 << "failed"
            << "torvex-flash ended without a result (killed or crashed)" << OutcomeKind::Failed << "";
    }
    void outcomeShown()
    {
        QFETCH(QStringList, events);
        QFETCH(int, exit);
        QFETCH(QString, tip);
        JobState state;
        state.errorOutput = "what torvex-flash said\n";
        EventReader reader(state);
        reader.feed(events.join('\n').toUtf8() + '\n');
        reader.conclude(exit);
        QTEST(jobCell(state, PortTable::StageColumn, Qt::DisplayRole).toString(), "stage");
        QTEST(jobCell(state, PortTable::OutcomeColumn, Qt::DisplayRole).toString(), "text");
        QTEST(outcomeKind(state), "kind");
        const QString shownTip = jobCell(state, PortTable::OutcomeColumn, Qt::ToolTipRole).toString();
        QVERIFY2(shownTip.startsWith(tip) && shownTip.endsWith("what torvex-flash said"), qPrintable(shownTip));
    }

    // The steps of a stop, by time since it was asked for.
    void stopLadder()
    {
        using A = StopLadder::Action;
        using Steps = std::array<StopLadder::Step, 3>;
        QCOMPARE(StopLadder{}.steps(), (Steps{{{0, A::Tell}, {27000, A::Tell}, {30000, A::Kill}}}));
        QCOMPARE((StopLadder{100, 50}.steps()), (Steps{{{0, A::Tell}, {100, A::Tell}, {150, A::Kill}}}));
    }

    // Children standing in for torvex-flash, stopped on a short ladder: each
    // rung is taken in turn, and every ending shows an outcome.
    void stopLadderClimbed_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<int>("exit");
        QTest::addColumn<QString>("text");
        // Each is ready once its stage line is out. This one ends as torvex-flash
        // does, but only at the second SIGTERM.
        QTest::newRow("ends when told again") << QStringLiteral(R"sh(told=0
trap 'told=$((told+1)); [ $told -ge 2 ] && { echo '\''{"event":"end","outcome":"interrupted","exit":143}'\''; exit 143; }' TERM
echo '{"event":"stage","stage":"erase"}'
while :; do sleep 1 >/dev/null 2>&1 & wait $!; done)sh") << 143 << "Stopped: the indicator needs a new update";
        QTest::newRow("deaf: killed") << QStringLiteral(R"sh(trap '' TERM; echo '{"event":"stage","stage":"erase"}'
while :; do sleep 1; done)sh")
                                      << -1 << "torvex-flash ended without a result (killed or crashed)";
        // Ends on the first word, without an end event: by itself it could end
        // before the stop is asked for, or be killed by it half way.
        QTest::newRow("no end event") << QStringLiteral(R"sh(trap 'exit 4' TERM; echo '{"event":"stage","stage":"erase"}'
while :; do sleep 1 >/dev/null 2>&1 & wait $!; done)sh")
                                      << 4 << "torvex-flash ended without a result (exit status 4)";
    }
    void stopLadderClimbed()
    {
        QFETCH(QString, script);
        FlashJob job;
        job.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), script});
        QTRY_COMPARE(job.state().stage, QStringLiteral("erase"));
        job.stop(StopLadder{100, 100});
        QTRY_VERIFY_WITH_TIMEOUT(job.state().phase == JobState::Phase::Done, 10000);
        QTEST(job.state().exitCode, "exit");
        QTEST(job.state().outcomeText, "text");
    }

    // torvex-flash --json: one object per line, in the order the update goes.
    void jsonStream_data()
    {
        QTest::addColumn<QStringList>("behaviour");
        QTest::addColumn<int>("exit");
        QTest::addColumn<QString>("message");  // "icon:text" of the box, if any
        QTest::newRow("one refusal") << QStringList{"block1:refuse=1"} << 0 << QString();
        QTest::newRow("erase refused") << QStringList{"erase=nak"} << 5 << "error:Fail erasing the flash";
        QTest::newRow("block failed") << QStringList{"block2:refuse=3"} << 6 << "none:Error al escribir en flash";
    }
    void jsonStream()
    {
        QFETCH(QStringList, behaviour);
        QFETCH(int, exit);
        QFETCH(QString, message);
        SimRig rig;
        QVERIFY(rig.start(indicator(behaviour)));
        const QByteArray image = makeImage(1100);
        const FlashRun flash = runFlash({"--json", "-c", rig.exeDir(), rig.writeImage(image)});
        QCOMPARE(flash.code, exit);

        const QList<QJsonObject> events = jsonLines(flash.output);
        QVERIFY(events.size() > 3);
        QCOMPARE(events.first()["sha256"].toString(), sha256(image));
        QStringList stages, boxes, kinds, status;
        qint64 sent = 0;
        for (const QJsonObject &e : events) {
            kinds << e["event"].toString();
            if (kinds.last() == "stage")
                stages << e["stage"].toString();
            else if (kinds.last() == "message")
                boxes << e["icon"].toString() + ':' + e["text"].toString();
            else if (kinds.last() == "status")
                status << e["text"].toString();
            else if (kinds.last() == "progress")
                QVERIFY(std::exchange(sent, e["sent"].toInteger()) < e["sent"].toInteger());
        }
        const QStringList order{"wake-up", "identify", "erase", "write mode", "write", "end of write", "reset"};
        QCOMPARE(stages, order.mid(0, stages.size()));
        QCOMPARE(boxes, message.isEmpty() ? QStringList() : QStringList{message});
        QCOMPARE(kinds.first() + kinds.last(), QStringLiteral("startend"));
        QVERIFY(kinds.contains("indicator") && status.contains("Connection with indicator Ok. Flash:M29W160EB"));
        QCOMPARE(events.last()["exit"].toInt(), exit);
        QCOMPARE(events.last()["retries"].toInt(), exit == 0 ? 1 : exit == 6 ? 2 : 0);
        QCOMPARE(events.last()["sent"].toInteger(), sent);
    }
};

QTEST_MAIN(TestStation)
#include "test_station.moc"
