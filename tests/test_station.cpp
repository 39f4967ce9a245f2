// torvex-station with its torvex-flash children against simulated indicators
// (the JSON event stream those children speak: test_contract).

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>
#include <csignal>

#include "PortTable.h"
#include "PortView.h"
#include "StationWindow.h"
#include "support/ModalAnswerer.h"
#include "support/SimRig.h"

namespace {

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
    const FlashJob &job(int i) const { return station->ports().job(row(i)); }
    const JobState &state(int i) const { return job(i).state(); }
    QList<QJsonObject> log() const  // an object a line; an invalid line gives an empty one
    {
        QFile f(dir.filePath(QStringLiteral("updates.log")));
        QList<QJsonObject> lines;
        for (const QByteArray &line : f.open(QIODevice::ReadOnly) ? f.readAll().split('\n') : QByteArrayList())
            if (!line.isEmpty())
                lines << QJsonDocument::fromJson(line).object();
        return lines;
    }
};

}  // namespace

class TestStation : public QObject {
    Q_OBJECT

private slots:
    // Four indicators, the third refusing a block three times; then the failed one again.
    // Links made and removed meanwhile: rows follow, ticks stay, a running update goes on.
    void updatesSideBySide()
    {
        Rack rack({indicator({"program=40"}), {}, indicator({"block3:refuse=3"}), {}});
        // Tick all ticks every port unless all are ticked, then clears them; Space ticks the current row.
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
        // A link to the same device would be listed as an alias: these lead nowhere.
        const QString nowhere = rack.dir.filePath("gone");
        QVERIFY(QFile::link(nowhere, rack.dir.filePath("com7")));
        QTRY_VERIFY(ports.row("com7") >= 0);
        QVERIFY(QFile::remove(rack.dir.filePath("com7")));
        QTRY_COMPARE(ports.row("com7"), -1);
        QCOMPARE(ports.tally().ticked, 4);

        rack.station->updateTicked();
        QTRY_COMPARE(rack.state(0).stage, QStringLiteral("write"));
        QVERIFY(QFile::link(nowhere, rack.dir.filePath("com8")));
        QTRY_VERIFY(ports.row("com8") >= 0);  // the list was read again mid-update
        QVERIFY(rack.job(0).running() && ports.ticked(rack.row(0)));
        QTRY_VERIFY_WITH_TIMEOUT(!rack.station->busy(), 60000);
        QCOMPARE(jobCell(rack.state(0), PortTable::StageColumn, Qt::DisplayRole).toString(), QStringLiteral("done"));
        const int codes[] = {0, 0, 6, 0};
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(rack.state(i).exitCode, codes[i]);
            QCOMPARE(rack.state(i).outcomeText, codes[i] ? "Error al escribir en flash" : "Program update Ok.");
            QCOMPARE(rack.state(i).model + rack.state(i).version, QStringLiteral("KD7V1.10.00"));
            QCOMPARE(rack.rigs[size_t(i)]->flash(rack.image.size()) == rack.image, codes[i] == 0);
        }
        const PortTable::Tally t = ports.tally();
        QVERIFY(t.ticked == 4 && t.running == 0 && t.updated == 3 && t.failed == 1);

        rack.station->rerunFailed();
        QTRY_VERIFY_WITH_TIMEOUT(!rack.station->busy(), 60000);
        QCOMPARE(rack.state(2).exitCode, 0);
        QCOMPARE(rack.rigs[2]->flash(rack.image.size()), rack.image);
        QCOMPARE(rack.state(0).exitCode, 0);  // the others were left alone

        // One line per update, each naming its port, image and indicator.
        const QString sha256 = QCryptographicHash::hash(rack.image, QCryptographicHash::Sha256).toHex();
        QStringList exits;
        for (const QJsonObject &e : rack.log()) {
            exits << e["port"].toString() + ':' + QString::number(e["exit"].toInt());
            QVERIFY(e["sha256"].toString() == sha256 && e["indicator"]["version"] == "V1.10.00");
            QVERIFY(!e["started"].toString().isEmpty() && !e["host"].toString().isEmpty());
        }
        exits.sort();
        QCOMPARE(exits, (QStringList{"com1:0", "com2:0", "com3:0", "com3:6", "com4:0"}));
    }

    // Closing while the indicators erase: asked first, then every child ends its erase and stops cleanly.
    void closeMidUpdate()
    {
        const torvexsim::Options slowErase = indicator({"erase-time=4000"});
        Rack rack({slowErase, slowErase});
        rack.station->updateTicked();
        QTRY_VERIFY_WITH_TIMEOUT(rack.state(0).stage == "erase" && rack.state(1).stage == "erase", 20000);
        const qint64 pids[] = {rack.job(0).processId(), rack.job(1).processId()};

        ModalAnswerer answerer;
        QVERIFY(!rack.station->close());  // the window waits for its children
        QVERIFY(answerer.boxes.size() == 1 && answerer.boxes[0].text.startsWith("2 updates are running."));
        QTRY_VERIFY_WITH_TIMEOUT(!rack.station->isVisible(), 10000);
        for (int i = 0; i < 2; ++i) {
            QCOMPARE(rack.state(i).exitCode, 128 + SIGTERM);
            QCOMPARE(::kill(pid_t(pids[i]), 0), -1);  // ended and reaped
        }
        QCOMPARE(rack.log().size(), 2);
        for (const QJsonObject &e : rack.log())
            QCOMPARE(e["outcome"].toString(), QStringLiteral("interrupted"));
    }

    // What a row shows at the end, from its child's events and exit status (the plain endings
    // with real children: updatesSideBySide, closeMidUpdate, stopLadderClimbed, test_contract).
    void outcomeShown_data()
    {
        QTest::addColumn<QStringList>("events");
        QTest::addColumn<int>("exit");  // -1: killed or crashed
        QTest::addColumn<QString>("stage");
        QTest::addColumn<QString>("text");
        QTest::addColumn<OutcomeKind>("kind");
        QTest::addColumn<QString>("tip");  // how the tooltip begins
        const auto end = [](const char *outcome, int exit, const char *more = "") {
            return QStringLiteral(R"({"event":"end","outcome":"%1","exit":%2%3})").arg(outcome).arg(exit).arg(more);
        };
        QTest::newRow("the end unproven")
            << QStringList{R"({"event":"message","icon":"none","text":"Error al escribir en flash"})",
                           end("unproven", 10, R"(,"doubt":"extra-reply")")}
            << 10 << "unproven"
            << "Error al escribir en flash: the line showed more replies than frames; run the update again"
            << OutcomeKind::Failed << "Doubt: extra-reply (the line showed more replies than frames";
        QTest::newRow("port unusable") << QStringList{end("port-unusable", 3, R"(,"error":"com3 is in use")")} << 3
            << "port-unusable" << "Port unusable: com3 is in use" << OutcomeKind::Failed << "";
        QTest::newRow("killed after its end event") << QStringList{end("interrupted", 143)} << -1 << "failed"
            << "torvex-flash ended without a result (killed or crashed)" << OutcomeKind::Failed << "";
    }
    void outcomeShown()
    {
        QFETCH(QStringList, events); QFETCH(int, exit); QFETCH(QString, tip);
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

    // Stand-ins for torvex-flash, stopped on a short ladder (SIGTERM, again, SIGKILL) once their
    // stage line is out: each rung is taken in turn, and every ending shows an outcome.
    void stopLadderClimbed_data()
    {
        QTest::addColumn<QString>("trap");  // what the stand-in does on SIGTERM; $end: torvex-flash's end event
        QTest::addColumn<int>("exit");
        QTest::addColumn<QString>("text");
        QTest::newRow("ends when told again") << R"(n=0; trap 'n=$((n+1)); [ $n -ge 2 ] && { echo "$end"; exit 143; }' TERM)"
                                              << 143 << "Stopped: the indicator needs a new update";
        QTest::newRow("deaf: killed") << "trap '' TERM" << -1 << "torvex-flash ended without a result (killed or crashed)";
        QTest::newRow("no end event") << "trap 'exit 4' TERM" << 4 << "torvex-flash ended without a result (exit status 4)";
    }
    void stopLadderClimbed()
    {
        QFETCH(QString, trap);
        FlashJob job;
        job.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QStringLiteral(R"sh(%1
end='{"event":"end","outcome":"interrupted","exit":143}'; echo '{"event":"stage","stage":"erase"}'
while :; do sleep 1 >/dev/null 2>&1 & wait $!; done)sh").arg(trap)});
        QTRY_COMPARE(job.state().stage, QStringLiteral("erase"));
        job.stop(StopLadder{100, 100});
        QTRY_VERIFY_WITH_TIMEOUT(job.state().phase == JobState::Phase::Done, 10000);
        QTEST(job.state().exitCode, "exit");
        QTEST(job.state().outcomeText, "text");
    }
};

QTEST_MAIN(TestStation)
#include "test_station.moc"
