// The serial port, the receive path and the exchange engine against a far
// end played on a pseudo-terminal.

#include <QSignalSpy>
#include <QtTest>
#include <termios.h>
#include <unistd.h>

#include "app/core/StartUp.h"
#include "link/Exchange.h"
#include "link/Link.h"
#include "support/RawPty.h"

Q_DECLARE_METATYPE(CmdResult)

namespace {

QByteArray hex(const char *h)
{
    return QByteArray::fromHex(h);
}

const QByteArray Ack = hex("0206000a0d");
const std::uint8_t NoData[1] = {0};

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

    // A pseudo-terminal keeps whatever line settings it is given.
    void lineSettings()
    {
        openLink();
        termios t{};
        QCOMPARE(::tcgetattr(pty->slaveFd(), &t), 0);
        QCOMPARE(::cfgetospeed(&t), speed_t(B115200));
        QCOMPARE(::cfgetispeed(&t), speed_t(B115200));
        QCOMPARE(t.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS), tcflag_t(CS8));
        QVERIFY(!(t.c_iflag & (IXON | IXOFF)));
    }

    void portNumbers()
    {
        QTemporaryDir dir;
        QCOMPARE(portDeviceName(1, dir.path()), QStringLiteral("/dev/ttyS0"));
        QCOMPARE(portDeviceName(255, dir.path()), QStringLiteral("/dev/ttyS254"));
        QCOMPARE(portDeviceName(0, dir.path()), QString());
        QVERIFY(QFile::link(pty->slavePath(), dir.filePath(QStringLiteral("com4"))));
        QCOMPARE(portDeviceName(4, dir.path()), QFileInfo(pty->slavePath()).canonicalFilePath());
    }

    void replyInPieces_data()
    {
        QTest::addColumn<QList<int>>("pieces");
        QTest::addColumn<int>("okFromPiece");  // index of the piece that completes it
        QTest::newRow("whole") << QList<int>{5} << 0;
        QTest::newRow("byte by byte") << QList<int>{1, 1, 1, 1, 1} << 4;
        QTest::newRow("4 then 4: longer than expected") << QList<int>{4, 4} << 1;
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

    void classification_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<CmdResult>("result");
        QTest::newRow("ack, any last byte") << hex("0206000aff") << CmdResult::Ack;
        QTest::newRow("refused") << hex("021500190d") << CmdResult::Refused;
        QTest::newRow("bad checksum") << hex("0206000b0d") << CmdResult::BadChecksum;
        QTest::newRow("unexpected code") << hex("0207000b0d") << CmdResult::Unexpected;
        QTest::newRow("four bytes only") << hex("0206000a") << CmdResult::NoReply;
        QTest::newRow("silence") << QByteArray() << CmdResult::NoReply;
    }
    void classification()
    {
        QFETCH(QByteArray, reply);
        QFETCH(CmdResult, result);
        QVERIFY(link->com1.setDevice(pty->slavePath()));
        QVERIFY(configurePort(*link));
        if (!reply.isEmpty())
            pty->replyAfter(15, reply);
        QCOMPARE(funSendCommand(*link, 'W', 0, 0, 5, 100, true), result);
        QVERIFY(!link->com1.isOpen());
        QCOMPARE(pty->received, hex("02573030303030303030" "0000" "3e35" "0d"));

        pty->received.clear();
        if (!reply.isEmpty())
            pty->replyAfter(8, reply);
        QCOMPARE(funSendBlock(*link, NoData, 0, 0, 100), result);
        QVERIFY(link->com1.isOpen());
        QCOMPARE(pty->received, hex("0241000000" "00480d"));
    }

    void commandReopensBlockKeepsPortOpen()
    {
        openLink();
        const quint64 opens = link->com1.openCount();
        QCOMPARE(funSendCommand(*link, 'W', 0, 0, 5, 500, false), CmdResult::Ack);
        QCOMPARE(link->com1.openCount(), opens + 1);  // closed and opened again
        QVERIFY(link->com1.isOpen());
        QCOMPARE(link->LinkTag, LinkState::Wait);
        pty->replyAfter(15 + 8, Ack);
        QCOMPARE(funSendBlock(*link, NoData, 0, 0, 500), CmdResult::Ack);
        QCOMPARE(link->com1.openCount(), opens + 1);
    }

    // Bytes that reached the driver before an exchange, and that the event
    // loop never handed over, are not taken for its reply.
    void staleInputIsDiscarded()
    {
        openLink();
        QVERIFY(pty->send("stale"));
        ::usleep(20000);  // in the driver now; no event processing in between
        pty->replyAfter(8, Ack);
        QCOMPARE(funSendBlock(*link, NoData, 0, 0, 500), CmdResult::Ack);
        QVERIFY(pty->send("stale"));
        ::usleep(20000);
        pty->replyAfter(8 + 15, Ack);
        QCOMPARE(funSendCommand(*link, 'W', 0, 0, 5, 500, true), CmdResult::Ack);
    }

    void waitEndsWithTheReply()
    {
        QVERIFY(link->com1.setDevice(pty->slavePath()));
        QVERIFY(configurePort(*link));
        pty->replyAfter(15, Ack);
        QCOMPARE(funSendCommand(*link, 'W', 0, 0, 5, 5000, true), CmdResult::Ack);
        QVERIFY(link->tmrCom.isActive());  // returned long before its limit
        // Bytes the indicator sends after a waited command are not received.
        const auto kept = link->RxBuffer;
        QVERIFY(pty->send(hex("0215")));
        QTest::qWait(30);
        QCOMPARE(link->RxBuffer, kept);
    }
};

QTEST_GUILESS_MAIN(TestLink)
#include "test_link.moc"
