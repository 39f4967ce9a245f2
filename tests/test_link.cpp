// The serial port, the receive path and the exchange engine against a far
// end played on a pseudo-terminal.

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>
#include <termios.h>
#include <unistd.h>

#include "app/core/StartUp.h"
#include "link/Exchange.h"
#include "link/Link.h"
#include "support/RawPty.h"

namespace {

QByteArray hex(const char *h) { return QByteArray::fromHex(h); }
const QByteArray Ack = hex("0206000a0d");
const std::uint8_t NoData[1] = {0};

}  // namespace

class TestLink : public QObject {
    Q_OBJECT

    std::unique_ptr<RawPty> pty;
    std::unique_ptr<Link> link;

    void openLink()
    {
        QVERIFY(link->com1.setPort({0, pty->slavePath(), {}}));
        QVERIFY(configurePort(*link));
        QVERIFY(link->com1.open());
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

    // Port N is a link comN beside the program, else beside the configuration
    // file's real location (an installed layout), else /dev/ttyS<N-1>.
    void portNumbers_data()
    {
        QTest::addColumn<QString>("ini");  // how the program's folder holds the configuration
        QTest::addColumn<bool>("besideProgram");
        QTest::addColumn<bool>("besideConfig");
        QTest::addColumn<QString>("device");
        QTest::newRow("beside the program") << "absolute" << true << false << "devP";
        QTest::newRow("beside the configuration") << "absolute" << false << true << "devE";
        QTest::newRow("relative configuration link") << "relative" << false << true << "devE";
        QTest::newRow("the program's folder first") << "absolute" << true << true << "devP";
        QTest::newRow("configuration in place: one folder") << "file" << false << true << "/dev/ttyS2";
        QTest::newRow("no link anywhere") << "absolute" << false << false << "/dev/ttyS2";
    }

    void portNumbers()
    {
        QFETCH(QString, ini);
        QFETCH(bool, besideProgram);
        QFETCH(bool, besideConfig);
        QFETCH(QString, device);
        QTemporaryDir tmp;
        const QDir root(tmp.path());
        QVERIFY(root.mkpath("usr/lib/app") && root.mkpath("etc/app"));
        const QString prog = root.filePath("usr/lib/app"), etc = root.filePath("etc/app");
        for (const QString &f : {etc + "/BootLoaderTorvexII.ini", root.filePath("devP"), root.filePath("devE")})
            QVERIFY(QFile(f).open(QIODevice::WriteOnly));
        const QString target = ini == "relative" ? "../../../etc/app/BootLoaderTorvexII.ini"
                                                 : etc + "/BootLoaderTorvexII.ini";
        QVERIFY(ini == "file" ? QFile::copy(target, prog + "/BootLoaderTorvexII.ini")
                              : QFile::link(target, prog + "/BootLoaderTorvexII.ini"));
        QVERIFY(!besideProgram || QFile::link(root.filePath("devP"), prog + "/com3"));
        QVERIFY(!besideConfig || QFile::link(root.filePath("devE"), etc + "/com3"));
        const auto named = [&root](const QString &d) { return d.startsWith('/') ? d : QDir(root.canonicalPath()).filePath(d); };
        const QStringList folders = portLinkFolders(prog);
        QCOMPARE(portDeviceName(3, folders), named(device));
        QCOMPARE(portDeviceName(255, folders), QStringLiteral("/dev/ttyS254"));
        QCOMPARE(portDeviceName(0, folders), QString());
        // The port looks only where it is told, whatever lies beside the program.
        CommPort port;
        QVERIFY(port.setPort({3, {}, {etc}}));
        QCOMPARE(port.deviceName(), named(besideConfig ? "devE" : "/dev/ttyS2"));
    }

    void overflowBeyondBufferIsDropped()
    {
        openLink();
        link->RxExpected = 3000;
        link->LinkTag = LinkState::Wait;
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
        QVERIFY(link->com1.setPort({0, pty->slavePath(), {}}));
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

    // Whatever a clean exchange never produces makes the line suspect; the
    // next frame, a retry included, waits until the line has been quiet for
    // the limit in doubt and twice that limit has passed since the frame.
    void suspectLineIsWaitedOut_data()
    {
        QTest::addColumn<QByteArray>("reply");  // to the first frame, at once
        QTest::addColumn<int>("lateMs");        // then this, that late (-1: nothing)
        QTest::addColumn<int>("result");
        QTest::newRow("no reply, then a late one") << QByteArray() << 180 << int(CmdResult::NoReply);
        QTest::newRow("bad checksum") << hex("0206000b0d") << -1 << int(CmdResult::BadChecksum);
        QTest::newRow("bytes after the reply") << Ack + "xy" << -1 << int(CmdResult::NoReply);
        QTest::newRow("bytes between exchanges") << Ack << 40 << int(CmdResult::Ack);
    }
    void suspectLineIsWaitedOut()
    {
        QFETCH(QByteArray, reply);
        QFETCH(int, lateMs);
        QFETCH(int, result);
        constexpr int Limit = 150;
        openLink();
        QElapsedTimer clock;
        clock.start();
        QList<qint64> sent;
        link->com1.setTracer([&](CommPort::Direction d, const QByteArray &b, qint64) {
            if (d == CommPort::Direction::Out && b.startsWith('\x02'))
                sent << clock.elapsed();
        });
        if (!reply.isEmpty())
            pty->replyAfter(8, reply);
        qint64 lateAt = -1;
        if (lateMs >= 0)
            QTimer::singleShot(lateMs, this, [&] { lateAt = clock.elapsed(); pty->send(Ack); });
        QCOMPARE(int(funSendBlock(*link, NoData, 0, 0, Limit)), result);
        QTRY_VERIFY(lateMs < 0 || lateAt >= 0);
        pty->replyAfter(16, Ack);
        QCOMPARE(funSendBlock(*link, NoData, 0, 0, Limit), CmdResult::Ack);
        QCOMPARE(sent.size(), 2);
        QVERIFY2(sent[1] - sent[0] >= 2 * Limit, qPrintable(QString::number(sent[1] - sent[0])));
        QVERIFY(lateAt < 0 || sent[1] - lateAt >= Limit);
        QVERIFY(!link->lineSuspect());
    }

    // On a line that looked paced, a command answered faster than the wire
    // allows is asked again once the line is quiet, not failed.
    void tooFastCommandIsAskedAgain()
    {
        openLink();
        link->beginUpdate();
        int seen = 0, delayMs = 5, frames = 0;
        QTimer responder;
        connect(&responder, &QTimer::timeout, this, [&] {
            if (pty->received.size() <= seen)
                return;
            seen = int(pty->received.size());
            ++frames;
            QTimer::singleShot(delayMs, this, [this] { pty->send(Ack); });
        });
        responder.start(0);
        for (int i = 0; i < 3; ++i)
            QCOMPARE(funSendCommand(*link, 'W', 0, 0, 5, 200, true), CmdResult::Ack);
        delayMs = 0;
        frames = 0;
        QCOMPARE(funSendCommand(*link, 'W', 0, 0, 5, 200, true), CmdResult::Ack);
        QCOMPARE(frames, 2);
    }

    // A line that never goes quiet is sent nothing more.
    void babblingLineGetsNoFrame()
    {
        openLink();
        QTimer babble;
        connect(&babble, &QTimer::timeout, this, [this] { pty->send("\x55"); });
        babble.start(20);
        QTest::qWait(50);
        QCOMPARE(funSendBlock(*link, NoData, 0, 0, 100), CmdResult::NoReply);
        QVERIFY(link->lineUnusable());
        QVERIFY(!pty->received.contains('\x02'));
    }
};

QTEST_GUILESS_MAIN(TestLink)
#include "test_link.moc"
