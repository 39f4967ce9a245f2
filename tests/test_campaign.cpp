// Seeded random faults from the indicator: whatever happens, the update ends,
// the window is released, and success is claimed only for a faithful flash.
// TORVEX_CAMPAIGN_RUNS and TORVEX_CAMPAIGN_SEED make a longer campaign.

#include <QRandomGenerator>
#include <QtTest>

#include "bootloader/Update.h"
#include "image/FileSelection.h"
#include "link/Link.h"
#include "support/RecordingView.h"
#include "support/SimRig.h"

Q_DECLARE_METATYPE(UpdateOutcome)

namespace {

struct Plan {
    torvexsim::Options options;
    int size = 0;
    QStringList rules;
};

Plan makePlan(quint32 seed)
{
    QRandomGenerator rng(seed);
    Plan p;
    p.size = 1100 + int(rng.bounded(3000));
    const int blocks = (p.size + 97) / 98;
    const double rates[] = {0.0, 0.0, 0.0003, 0.001};
    p.options.noiseFromHost = {rates[rng.bounded(4)], seed * 2 + 1};
    p.options.noiseToHost = {rates[rng.bounded(4)], seed * 2 + 2};
    const int ruleCount = int(rng.bounded(4));
    for (int i = 0; i < ruleCount; ++i) {
        const int k = int(rng.bounded(blocks));
        QString rule;
        switch (rng.bounded(9)) {
        case 0: rule = QStringLiteral("block%1:refuse=%2").arg(k).arg(1 + rng.bounded(3)); break;
        case 1: rule = QStringLiteral("block%1:lose*1").arg(k); break;
        case 2: rule = QStringLiteral("block%1:truncate=%2*1").arg(k).arg(rng.bounded(5)); break;
        case 3: rule = QStringLiteral("block%1:delay=%2*1").arg(k).arg(50 + rng.bounded(600)); break;
        case 4: rule = QStringLiteral("block%1:bad-checksum*2").arg(k); break;
        case 5: rule = QStringLiteral("I:refuse*1"); break;
        case 6: rule = QStringLiteral("W:silence*1"); break;
        case 7: rule = QStringLiteral("end:refuse*%1").arg(1 + rng.bounded(3)); break;
        default: rule = QStringLiteral("S:refuse*1"); break;
        }
        p.rules << rule;
        std::string why;
        const auto parsed = torvexsim::parseFaultRule(rule.toStdString(), &why);
        if (!parsed)
            qFatal("campaign rule %s: %s", qPrintable(rule), why.c_str());
        p.options.faults.push_back(*parsed);
    }
    if (rng.bounded(8) == 0) {
        p.options.hangUpAfterBlock = unsigned(rng.bounded(blocks));
        p.rules << QStringLiteral("hang-up after block %1").arg(*p.options.hangUpAfterBlock);
    }
    return p;
}

int envInt(const char *name, int fallback)
{
    bool ok = false;
    const int v = qEnvironmentVariableIntValue(name, &ok);
    return ok ? v : fallback;
}

}  // namespace

class TestCampaign : public QObject {
    Q_OBJECT

private slots:
    void run_data()
    {
        QTest::addColumn<quint32>("seed");
        const int runs = envInt("TORVEX_CAMPAIGN_RUNS", 6);
        const quint32 first = quint32(envInt("TORVEX_CAMPAIGN_SEED", 1));
        for (int i = 0; i < runs; ++i)
            QTest::addRow("seed %u", first + quint32(i)) << first + quint32(i);
    }
    void run()
    {
        QFETCH(quint32, seed);
        const Plan plan = makePlan(seed);
        SimRig rig;
        QVERIFY(rig.start(plan.options));
        Link link;
        QVERIFY(rig.startUp(link));
        RecordingView view;
        ImageSelection selection;
        const QByteArray image = makeImage(plan.size);
        view.dialogAnswers.push_back(rig.writeFile(QStringLiteral("fw.bin"), image));
        cmdSelFile_Click(view, selection);

        const UpdateReport r = cmdProgram_Click(view, link, selection);
        rig.sim->stop();
        const bool faithful = rig.flash(image.size()) == image;
        const auto c = rig.sim->counters();
        qInfo("seed %u size %d [%s] -> outcome %d, retries %d, noise %llu/%llu, flash %s", seed, plan.size,
              qPrintable(plan.rules.join(QStringLiteral(", "))), int(r.outcome), r.retries,
              (unsigned long long)c.noiseFromHost, (unsigned long long)c.noiseToHost,
              faithful ? "equal" : "differs");

        QCOMPARE(view.events.constLast(), QStringLiteral("enable"));
        QVERIFY(!view.busy);
        if (r.outcome == UpdateOutcome::Ok || view.status.contains(QStringLiteral("Program update Ok.")))
            QVERIFY2(faithful, "success claimed for a flash that differs from the image");
        if (r.outcome == UpdateOutcome::Ok)
            QVERIFY(view.boxes.empty());
        else
            QVERIFY(!view.boxes.empty());
    }
};

QTEST_GUILESS_MAIN(TestCampaign)
#include "test_campaign.moc"
