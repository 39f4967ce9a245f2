// The whole update, from the core's side, against the simulated indicator.

#include <QRegularExpression>
#include <QSignalSpy>
#include <QtTest>

#include "bootloader/Update.h"
#include "image/FileSelection.h"
#include "link/Link.h"
#include "protocol/frames.h"
#include "support/RecordingView.h"
#include "support/SimRig.h"

Q_DECLARE_METATYPE(UpdateOutcome)

using namespace std::chrono_literals;

namespace {

const QString CRLF = QStringLiteral("\r\n");

torvexsim::Options withFaults(std::initializer_list<const char *> rules)
{
    torvexsim::Options o;
    for (const char *r : rules) {
        std::string why;
        auto rule = torvexsim::parseFaultRule(r, &why);
        if (!rule)
            qFatal("bad fault rule %s: %s", r, why.c_str());
        o.faults.push_back(*rule);
    }
    return o;
}

// The erase adds one dot per second boundary it spans: fold them to one.
QString foldDots(QString status)
{
    return status.replace(QRegularExpression(QStringLiteral("Erasing flash \\.+?(?=\\.\\. Fail !|\r\n)")),
                          QStringLiteral("Erasing flash ."));
}

QString successText(const QString &chip, const QString &versionLine, int size)
{
    const QString n = QString::number(size);
    return QStringLiteral("Connection with indicator Ok. Flash:") + chip + CRLF + versionLine + CRLF
         + QStringLiteral("Erasing flash .") + CRLF + QStringLiteral("Flash erase finished ok.") + CRLF
         + QStringLiteral("Writing program to flash  (") + n + QLatin1Char('/') + n + QLatin1Char(')')
         + CRLF + QStringLiteral("Program update Ok.") + CRLF + QStringLiteral("Reseting indicator.")
         + CRLF;
}

}  // namespace

class TestUpdate : public QObject {
    Q_OBJECT

    SimRig rig;
    Link link;
    RecordingView view;
    ImageSelection selection;
    QByteArray image;

    void prepare(torvexsim::Options options, const QByteArray &img)
    {
        QVERIFY(rig.start(std::move(options)));
        QVERIFY(rig.startUp(link));
        image = img;
        const QString path = rig.writeFile(QStringLiteral("fw.bin"), image);
        view.dialogAnswers.push_back(path);
        cmdSelFile_Click(view, selection);
        QCOMPARE(view.file, path);
        view.events.clear();
    }
    UpdateReport run()
    {
        const UpdateReport r = cmdProgram_Click(view, link, selection);
        rig.sim->stop();  // everything it received is now recorded
        return r;
    }
    void verifyEndedCleanly()
    {
        QCOMPARE(view.events.constFirst(), QStringLiteral("disable"));
        QCOMPARE(view.events.constLast(), QStringLiteral("enable"));
        QVERIFY(!view.busy);
        QVERIFY(view.programEnabled && view.selectEnabled && view.exitEnabled);
    }
    QList<int> progressCounts(int total) const
    {
        QList<int> out;
        const QRegularExpression re(QStringLiteral("flash  \\((\\d+)/%1\\)$").arg(total));
        for (const QString &s : view.statusHistory) {
            const auto m = re.match(s);
            if (m.hasMatch() && (out.isEmpty() || out.constLast() != m.captured(1).toInt()))
                out << m.captured(1).toInt();
        }
        return out;
    }

private slots:
    void cleanup()
    {
        if (rig.sim)
            rig.sim->stop();
        rig.sim.reset();
        link.com1.close();
        view = RecordingView();
        selection = ImageSelection();
    }

    void success_data()
    {
        QTest::addColumn<int>("size");
        QTest::newRow("1100 bytes: 11 full blocks and 22") << 1100;
        QTest::newRow("1176 bytes: a multiple of 98") << 1176;
        QTest::newRow("260 blocks: sequence wraps") << 260 * 98 - 5;
    }
    void success()
    {
        QFETCH(int, size);
        prepare({}, makeImage(size));
        const UpdateReport r = run();
        QCOMPARE(r.outcome, UpdateOutcome::Ok);
        QVERIFY(view.boxes.empty());
        verifyEndedCleanly();
        QCOMPARE(foldDots(view.status),
                 successText(QStringLiteral("M29W160EB"),
                             QStringLiteral("Indicator software version: V1.10.00"), size));
        QCOMPARE(rig.received(), expectedUpdateStream(image));
        QCOMPARE(rig.flash(size), image);

        QList<int> expected;
        for (int sent = 0; sent < size; sent += 98)
            expected << sent;
        expected << size;
        QCOMPARE(progressCounts(size), expected);
        QVERIFY(view.events.indexOf(QStringLiteral("busy")) > 0);
        QCOMPARE(view.size, QString::number(size));
        QCOMPARE(view.version, QStringLiteral("V2.03.01"));
    }

    void identification_data()
    {
        QTest::addColumn<QString>("device");
        QTest::addColumn<bool>("plainHex");
        QTest::addColumn<QString>("model");
        QTest::addColumn<QString>("firstLines");
        QTest::newRow("M29W320DB") << "22CB" << false << "KD7"
            << "Connection with indicator Ok. Flash:M29W320DB\r\nIndicator software version: V1.10.00\r\n";
        QTest::newRow("unknown device") << "1234" << false << "KD7"
            << "Connection with indicator Ok. Flash:???????\r\nIndicator software version: V1.10.00\r\n";
        QTest::newRow("hex letters, not nibbles") << "22CB" << true << "KD7"
            << "Connection with indicator Ok. Flash:???????\r\nIndicator software version: V1.10.00\r\n";
        QTest::newRow("other model: no version") << "2249" << false << "KD8"
            << "Connection with indicator Ok. Flash:M29W160EB\r\n\r\n";
    }
    void identification()
    {
        QFETCH(QString, device);
        QFETCH(bool, plainHex);
        QFETCH(QString, model);
        QFETCH(QString, firstLines);
        torvexsim::Options o;
        o.deviceCode = device.toStdString();
        o.plainHexCodes = plainHex;
        o.modelCode = model.toStdString();
        prepare(o, makeImage(1100));
        QCOMPARE(run().outcome, UpdateOutcome::Ok);
        QVERIFY(view.status.startsWith(firstLines));
        QCOMPARE(rig.flash(1100), image);
    }

    void failures_data()
    {
        QTest::addColumn<QStringList>("rules");
        QTest::addColumn<int>("erase");  // torvexsim::EraseOutcome
        QTest::addColumn<UpdateOutcome>("outcome");
        QTest::addColumn<QStringList>("boxes");
        QTest::addColumn<QString>("statusEnd");  // "" means the status stays empty
        QTest::addColumn<QString>("wireTail");   // what the line ends with

        const QByteArray W = *proto::commandFrame('W', 0, 0);
        const QByteArray S = *proto::commandFrame('S', proto::GuardValue, 0);
        const QByteArray E = *proto::commandFrame('E', proto::GuardValue, 0);
        const QByteArray I = *proto::commandFrame('I', 0, 0);
        const QByteArray img = makeImage(1100);
        const QByteArray block1 = dataFrame(img.mid(98, 98), 1);
        const QByteArray afterBlockFailure = block1 + block1 + block1 + QByteArray(20, '\r')
                                           + dataFrame({}, 0) + QByteArray(20, '\r') + dataFrame({}, 0);
        const int ack = int(torvexsim::EraseOutcome::Ack);
        const auto l1 = [](const QByteArray &b) { return QString::fromLatin1(b.toHex()); };

        QTest::newRow("identify unanswered") << QStringList{"I:silence"} << ack << UpdateOutcome::NoConnection
            << QStringList{"Can't connect with indicator."} << "" << l1(wakeAndResync() + I);
        QTest::newRow("identify refused") << QStringList{"I:refuse"} << ack << UpdateOutcome::NoConnection
            << QStringList{"Can't connect with indicator."} << "" << l1(wakeAndResync() + I);
        QTest::newRow("erase refused") << QStringList{} << int(torvexsim::EraseOutcome::Nak)
            << UpdateOutcome::EraseFailed << QStringList{"Fail erasing the flash"}
            << "Erasing flash ... Fail !" << l1(I + E);
        QTest::newRow("erase reply corrupt") << QStringList{} << int(torvexsim::EraseOutcome::BadChecksum)
            << UpdateOutcome::EraseFailed << QStringList{"Fail erasing the flash"}
            << "Erasing flash ... Fail !" << l1(I + E);
        QTest::newRow("write mode unanswered") << QStringList{"W:silence"} << ack
            << UpdateOutcome::WriteModeFailed << QStringList{"Can't connect with indicator."}
            << "Flash erase finished ok.\r\nWriting program to flash  " << l1(E + W);
        QTest::newRow("block refused three times") << QStringList{"block1:refuse=3"} << ack
            << UpdateOutcome::WriteFailed << QStringList{"Error al escribir en flash"}
            << "Writing program to flash  (98/1100)\r\nWrite Fail!!.\r\n" << l1(afterBlockFailure);
        QTest::newRow("block failed, end of write refused too")
            << QStringList{"block1:refuse=3", "end:refuse"} << ack << UpdateOutcome::WriteFailed
            << QStringList{"Error al escribir en flash", "Error al salir del modo escritura flash"}
            << "(98/1100)\r\nWrite Fail!!.\r\n" << l1(afterBlockFailure);
        QTest::newRow("end of write refused after the last block") << QStringList{"end:refuse"} << ack
            << UpdateOutcome::EndWriteRefused << QStringList{"Error al salir del modo escritura flash"}
            << "(1100/1100)\r\nProgram update Ok.\r\nReseting indicator.\r\n" << l1(dataFrame({}, 0) + S);
        QTest::newRow("reset refused") << QStringList{"S:refuse"} << ack << UpdateOutcome::ResetFailed
            << QStringList{"Fail reseting indicator."}
            << "(1100/1100)\r\nProgram update Ok.\r\nReseting indicator.\r\n" << l1(dataFrame({}, 0) + S);
        QTest::newRow("reset unanswered") << QStringList{"S:silence"} << ack << UpdateOutcome::ResetFailed
            << QStringList{"Fail reseting indicator."}
            << "Program update Ok.\r\nReseting indicator.\r\n" << l1(dataFrame({}, 0) + S);
    }
    void failures()
    {
        QFETCH(QStringList, rules);
        QFETCH(int, erase);
        QFETCH(UpdateOutcome, outcome);
        QFETCH(QStringList, boxes);
        QFETCH(QString, statusEnd);
        QFETCH(QString, wireTail);
        torvexsim::Options o;
        for (const QString &r : rules)
            o.faults.push_back(*torvexsim::parseFaultRule(r.toStdString()));
        o.eraseOutcome = torvexsim::EraseOutcome(erase);
        prepare(o, makeImage(1100));
        QCOMPARE(run().outcome, outcome);
        QCOMPARE(view.boxTexts(), boxes);
        const bool plain = boxes.constFirst().startsWith(QStringLiteral("Error al"));
        QCOMPARE(view.boxes.front().icon, plain ? BoxIcon::None : BoxIcon::Error);
        if (statusEnd.isEmpty())
            QCOMPARE(view.status, QString());
        else
            QVERIFY2(foldDots(view.status).endsWith(statusEnd), qPrintable(view.status));
        verifyEndedCleanly();
        QVERIFY2(rig.received().toHex().endsWith(wireTail.toLatin1()), rig.received().toHex().right(200));
        const bool resetSent = rig.received().contains(*proto::commandFrame('S', proto::GuardValue, 0));
        QCOMPARE(resetSent, outcome == UpdateOutcome::Ok || outcome == UpdateOutcome::ResetFailed
                                || outcome == UpdateOutcome::EndWriteRefused);
    }

    void blockRefusedTwiceThenAccepted()
    {
        prepare(withFaults({"block2:refuse=2"}), makeImage(1100));
        const UpdateReport r = run();
        QCOMPARE(r.outcome, UpdateOutcome::Ok);
        QCOMPARE(r.retries, 2);
        QVERIFY(view.boxes.empty());
        QCOMPARE(rig.flash(1100), image);
        const QByteArray block2 = dataFrame(image.mid(196, 98), 2);
        QVERIFY(rig.received().contains(block2 + block2 + block2 + dataFrame(image.mid(294, 98), 3)));
    }

    void lostReplyIsRetransmitted()
    {
        prepare(withFaults({"block4:lose*1"}), makeImage(1100));
        const UpdateReport r = run();
        QCOMPARE(r.outcome, UpdateOutcome::Ok);
        QCOMPARE(r.retries, 1);
        QCOMPARE(rig.sim->counters().retransmissions, 1u);
        QCOMPARE(rig.flash(1100), image);
    }

    void unpluggedMidUpdate()
    {
        torvexsim::Options o;
        o.hangUpAfterBlock = 3;
        prepare(o, makeImage(3000));
        QSignalSpy events(&link.com1, &CommPort::OnComm);
        const UpdateReport r = run();
        QCOMPARE(r.outcome, UpdateOutcome::WriteFailed);
        QCOMPARE(r.blocks, 4);
        QCOMPARE(view.boxTexts(), (QStringList{"Error al escribir en flash", "Error al salir del modo escritura flash"}));
        QVERIFY(view.status.endsWith(QStringLiteral("(392/3000)\r\nWrite Fail!!.\r\n")));
        verifyEndedCleanly();
        // The lost device is reported once per open, not in a flood.
        int lost = 0;
        for (const auto &e : events)
            lost += e.at(0).toInt() == comEventPortLost;
        QVERIFY2(lost >= 1 && lost <= 4, qPrintable(QString::number(lost)));
        QVERIFY(!link.com1.isOpen());
    }

    void nothingSelected()
    {
        QVERIFY(rig.start());
        QVERIFY(rig.startUp(link));
        view.status = QStringLiteral("earlier text");
        QCOMPARE(run().outcome, UpdateOutcome::NoFile);
        QCOMPARE(view.boxTexts(), QStringList{"First select a valid file"});
        QCOMPARE(view.boxes.front().icon, BoxIcon::Error);
        QCOMPARE(view.status, QStringLiteral("earlier text"));
        QCOMPARE(view.events, (QStringList{"disable", "box", "enable"}));
        QCOMPARE(rig.received(), QByteArray());
    }

    void shownFileNoLongerSelectable_data()
    {
        QTest::addColumn<bool>("cancelLater");
        QTest::newRow("later selection cancelled") << true;
        QTest::newRow("shown file deleted") << false;
    }
    void shownFileNoLongerSelectable()
    {
        QFETCH(bool, cancelLater);
        prepare({}, makeImage(1100));
        if (cancelLater) {
            view.dialogAnswers.push_back(std::nullopt);
            cmdSelFile_Click(view, selection);
        } else {
            QFile::remove(view.file);
        }
        QVERIFY(!view.file.isEmpty());
        view.status = QStringLiteral("kept");
        view.events.clear();
        QCOMPARE(run().outcome, UpdateOutcome::NoFile);
        QCOMPARE(view.boxTexts(), QStringList{"First select a valid file"});
        QCOMPARE(view.status, QStringLiteral("kept"));
        QCOMPARE(view.events, (QStringList{"disable", "box", "enable"}));
        QCOMPARE(rig.received(), QByteArray());
    }

    void updateAfterCancelledThenNewSelection()
    {
        prepare({}, makeImage(1500));
        view.dialogAnswers.push_back(std::nullopt);
        cmdSelFile_Click(view, selection);
        view.dialogAnswers.push_back(view.file);
        cmdSelFile_Click(view, selection);
        QCOMPARE(run().outcome, UpdateOutcome::Ok);
        QCOMPARE(rig.flash(1500), image);
    }

    void eraseTimesOut()
    {
        // The one test that spends the whole 25 s erase limit.
        torvexsim::Options o;
        o.eraseOutcome = torvexsim::EraseOutcome::Silent;
        prepare(o, makeImage(1100));
        QCOMPARE(run().outcome, UpdateOutcome::EraseFailed);
        const auto m = QRegularExpression(QStringLiteral("Erasing flash \\.(\\.*)\\.\\. Fail !$")).match(view.status);
        QVERIFY2(m.hasMatch(), qPrintable(view.status));
        const int dots = int(m.captured(1).size());
        QVERIFY2(dots == 24 || dots == 25, qPrintable(QString::number(dots)));
        QVERIFY(!link.com1.isOpen());
    }
};

QTEST_GUILESS_MAIN(TestUpdate)
#include "test_update.moc"
