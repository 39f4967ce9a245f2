// The receive path and the exchange engine against a scripted far end on a
// pseudo-terminal.

#include <QSignalSpy>
#include <QtTest>

#include "app/core/StartUp.h"
#include "link/Exchange.h"
#include "link/Link.h"
#include "protocol/frames.h"
#include "support/RawPty.h"
#include "support/ScriptedPeer.h"
#include "support/SimRig.h"

Q_DECLARE_METATYPE(CmdResult)

namespace {

QByteArray hex(const char *h)
{
    return QByteArray::fromHex(h);
}

}  // namespace

class TestLink : public QObject {
    Q_OBJECT

    std::unique_ptr<RawPty> pty;
    std::unique_ptr<Link> link;

    void openLink()
    {
        QVERIFY(link->com1.setDevice(pty->slavePath()));
        QVERIFY(configurePort(*link));
        QVERIFY(link->com1.open());
    }
    void expect(int n)
    {
        link->RxCount = 0;
        link->RxExpected = std::int16_t(n);
        link->LinkTag = LinkState::Wait;
    }

private slots:
    void init()
    {
        pty = std::make_unique<RawPty>();
        QVERIFY(pty->ok());
        link = std::make_unique<Link>();
    }
    void cleanup()
    {
        link.reset();
        pty.reset();
    }

    void replyInPieces_data()
    {
        QTest::addColumn<QList<int>>("pieces");
        QTest::addColumn<int>("okFromPiece");  // index of the piece that completes it
        QTest::newRow("whole") << QList<int>{5} << 0;
        QTest::newRow("2+3") << QList<int>{2, 3} << 1;
        QTest::newRow("byte by byte") << QList<int>{1, 1, 1, 1, 1} << 4;
        QTest::newRow("4 then 4: longer than expected") << QList<int>{4, 4} << 1;
        QTest::newRow("then more after complete") << QList<int>{5, 3} << 0;
    }
    void replyInPieces()
    {
        QFETCH(QList<int>, pieces);
        QFETCH(int, okFromPiece);
        openLink();
        expect(5);
        QByteArray all;
        for (int i = 0; i < pieces.size(); ++i) {
            const QByteArray piece(pieces[i], char('a' + i));
            all += piece;
            QVERIFY(pty->send(piece));
            QTRY_COMPARE(int(link->RxCount), int(all.size()));
            QCOMPARE(link->LinkTag, i >= okFromPiece ? LinkState::Ok : LinkState::Wait);
        }
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(link->RxBuffer.data()), all.size()), all);
    }

    void notificationWithoutBytes()
    {
        openLink();
        expect(5);
        link->com1_OnComm(comEvReceive);
        QCOMPARE(int(link->RxCount), 0);
        QCOMPARE(link->LinkTag, LinkState::Wait);
        // Count already reached: an empty read sets "OK" again.
        link->RxCount = 5;
        link->LinkTag = LinkState::Timeout;
        link->com1_OnComm(comEvReceive);
        QCOMPARE(link->LinkTag, LinkState::Ok);
    }

    void anyByteCompletesWhenNothingExpected()
    {
        openLink();
        QCOMPARE(link->LinkTag, LinkState::Empty);
        QVERIFY(pty->send("x"));
        QTRY_COMPARE(link->LinkTag, LinkState::Ok);
    }

    void otherNotificationsChangeNothing_data()
    {
        QTest::addColumn<int>("kind");
        for (int kind : {1, 3, 4, 5, 6, 1001, 1004, 1006, 1008, 1009, 1010, 1011, 7777})
            QTest::addRow("kind %d", kind) << kind;
    }
    void otherNotificationsChangeNothing()
    {
        QFETCH(int, kind);
        openLink();
        expect(5);
        link->RxCount = 3;
        link->RxBuffer[0] = 0x42;
        link->com1_OnComm(kind);
        QCOMPARE(int(link->RxCount), 3);
        QCOMPARE(link->RxBuffer[0], std::uint8_t(0x42));
        QCOMPARE(link->LinkTag, LinkState::Wait);
    }

    void bytesAfterTimeLimitStillStored()
    {
        openLink();
        expect(5);
        link->startTimeLimit(30);
        link->waitWhileWaiting();
        QCOMPARE(link->LinkTag, LinkState::Timeout);
        QVERIFY(!link->tmrCom.isActive());
        QVERIFY(pty->send(hex("0206000a0d")));
        QTRY_COMPARE(link->LinkTag, LinkState::Ok);
        QCOMPARE(int(link->RxCount), 5);
    }

    void overflowBeyondBufferIsDropped()
    {
        openLink();
        expect(3000);
        QByteArray flood;
        for (int i = 0; i < 2600; ++i)
            flood += char(i % 251);
        QVERIFY(pty->send(flood));
        QTRY_COMPARE(int(link->RxCount), RxBufferSize);
        QTest::qWait(50);
        QCOMPARE(int(link->RxCount), RxBufferSize);
        QCOMPARE(link->RxBuffer[2000], std::uint8_t(2000 % 251));
        QCOMPARE(link->LinkTag, LinkState::Wait);  // only the time limit ends such a wait
    }

    void hangUpClosesThePortOnce()
    {
        openLink();
        QSignalSpy lost(&link->com1, &CommPort::OnComm);
        pty->hangUp();
        QTRY_VERIFY(!link->com1.isOpen());
        QTest::qWait(50);
        int portLost = 0;
        for (const auto &args : lost)
            portLost += args.at(0).toInt() == comEventPortLost;
        QCOMPARE(portLost, 1);
    }

    // ---- exchange engine ----

    void classification_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<CmdResult>("result");
        QTest::newRow("ack") << hex("0206000a0d") << CmdResult::Ack;
        QTest::newRow("ack, any last byte") << hex("0206000aff") << CmdResult::Ack;
        QTest::newRow("refused") << hex("021500190d") << CmdResult::Refused;
        QTest::newRow("bad checksum") << hex("0206000b0d") << CmdResult::BadChecksum;
        QTest::newRow("unexpected code") << hex("0207000b0d") << CmdResult::Unexpected;
        QTest::newRow("four bytes only") << hex("0206000a") << CmdResult::NoReply;
        QTest::newRow("silence") << QByteArray() << CmdResult::NoReply;
        QTest::newRow("longer reply") << hex("0206000a0d4141") << CmdResult::Ack;
    }
    void classification()
    {
        QFETCH(QByteArray, reply);
        QFETCH(CmdResult, result);
        ScriptedPeer peer(*pty);
        QVERIFY(link->com1.setDevice(pty->slavePath()));
        QVERIFY(configurePort(*link));

        if (!reply.isEmpty())
            peer.replyAfter(proto::CommandFrameSize, reply);
        QCOMPARE(funSendCommand(*link, 'W', 0, 0, 5, 150, true), result);
        QVERIFY(!link->com1.isOpen());
        QCOMPARE(peer.received, hex("02573030303030303030" "0000" "3e35" "0d"));

        peer.received.clear();
        if (!reply.isEmpty())
            peer.replyAfter(8, reply);
        const std::uint8_t none[1] = {0};
        QCOMPARE(funSendBlock(*link, none, 0, 0, 150), result);
        QVERIFY(link->com1.isOpen());
        QCOMPARE(peer.received, hex("0241000000" "00480d"));
    }

    void writesPerFrame()
    {
        ScriptedPeer peer(*pty);
        openLink();
        const quint64 before = link->com1.writeCount();
        funSendCommand(*link, 'I', 0, 0, 29, 1, false);
        QCOMPARE(link->com1.writeCount() - before, 1u);
        const std::uint8_t data[3] = {0x10, 0x20, 0x30};
        funSendBlock(*link, data, 3, 1, 1);
        QCOMPARE(link->com1.writeCount() - before, 4u);
        QTRY_COMPARE(peer.received,
                     hex("02493030303030303030" "0000" "3d37" "0d") + hex("0241000301" "102030" "00af0d"));
    }

    void commandReopensBlockKeepsPortOpen()
    {
        ScriptedPeer peer(*pty);
        openLink();
        const quint64 opens = link->com1.openCount();
        peer.replyAfter(15, hex("0206000a0d"));
        QCOMPARE(funSendCommand(*link, 'W', 0, 0, 5, 500, false), CmdResult::Ack);
        QCOMPARE(link->com1.openCount(), opens + 1);  // closed and opened again
        QVERIFY(link->com1.isOpen());
        QCOMPARE(link->LinkTag, LinkState::Wait);
        QCOMPARE(int(link->RxCount), 0);

        const std::uint8_t none[1] = {0};
        funSendBlock(*link, none, 0, 0, 50);
        QCOMPARE(link->com1.openCount(), opens + 1);
        QVERIFY(link->com1.isOpen());
    }

    void staleInputIsDiscarded()
    {
        ScriptedPeer peer(*pty);
        openLink();
        QVERIFY(pty->send("stale"));
        QTest::qWait(30);
        peer.replyAfter(8, hex("0206000a0d"));
        const std::uint8_t none[1] = {0};
        QCOMPARE(funSendBlock(*link, none, 0, 0, 500), CmdResult::Ack);
        // Bytes sent while the port was closed do not show up either.
        link->com1.close();
        QVERIFY(pty->send("late"));
        QTest::qWait(30);
        peer.received.clear();
        peer.replyAfter(15, hex("0206000a0d"));
        QCOMPARE(funSendCommand(*link, 'W', 0, 0, 5, 500, true), CmdResult::Ack);
    }

    void waitEndsWithTheReply()
    {
        ScriptedPeer peer(*pty);
        QVERIFY(link->com1.setDevice(pty->slavePath()));
        QVERIFY(configurePort(*link));
        peer.replyAfter(15, hex("0206000a0d"));
        QCOMPARE(funSendCommand(*link, 'W', 0, 0, 5, 5000, true), CmdResult::Ack);
        QVERIFY(link->tmrCom.isActive());  // returned long before its limit

        // Bytes the indicator sends after a waited command are not received.
        const auto kept = link->RxBuffer;
        QVERIFY(pty->send(hex("0215")));
        QTest::qWait(30);
        QCOMPARE(link->RxBuffer, kept);
    }

    void resultsFromTheIndicator_data()
    {
        QTest::addColumn<QString>("rule");
        QTest::addColumn<CmdResult>("result");
        QTest::newRow("acknowledged") << "" << CmdResult::Ack;
        QTest::newRow("refused") << "W:refuse" << CmdResult::Refused;
        QTest::newRow("silent") << "W:silence" << CmdResult::NoReply;
        QTest::newRow("truncated") << "W:truncate=4" << CmdResult::NoReply;
        QTest::newRow("corrupt") << "W:bad-checksum" << CmdResult::BadChecksum;
        QTest::newRow("unexpected code") << "W:code=0x07" << CmdResult::Unexpected;
        QTest::newRow("late, within the limit") << "W:delay=100" << CmdResult::Ack;
    }
    void resultsFromTheIndicator()
    {
        QFETCH(QString, rule);
        QFETCH(CmdResult, result);
        torvexsim::Options o;
        o.startInBootLoader = true;
        if (!rule.isEmpty())
            o.faults.push_back(*torvexsim::parseFaultRule(rule.toStdString()));
        SimRig rig;
        QVERIFY(rig.start(o));
        QVERIFY(rig.startUp(*link));
        QCOMPARE(funSendCommand(*link, 'W', 0, 0, 5, 200, true), result);
        QVERIFY(!link->com1.isOpen());
        QCOMPARE(funSendCommand(*link, 'I', 0, 0, 29, 200, true), CmdResult::Ack);
        const std::uint8_t none[1] = {};
        QCOMPARE(funSendBlock(*link, none, 0, 0, 300), CmdResult::Ack);
        QVERIFY(link->com1.isOpen());
    }

    void refusedArguments()
    {
        ScriptedPeer peer(*pty);
        openLink();
        QCOMPARE(funSendCommand(*link, 'W', 0, 40000, 5, 50, true), CmdResult::NoReply);
        const std::uint8_t data[4] = {};
        QCOMPARE(funSendBlock(*link, data, 5, 0, 50), CmdResult::NoReply);
        QTest::qWait(20);
        QCOMPARE(peer.received, QByteArray());
    }
};

QTEST_GUILESS_MAIN(TestLink)
#include "test_link.moc"
