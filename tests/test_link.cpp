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

    // A reply found waiting at a command's reopen, after the line's rule has
    // begun judging, is waited out; the frame then goes out with its own
    // time limit running and its wait armed.
    void staleReplyIsWaitedOutBeforeAWatchedFrame()
    {
        openLink();
        link->beginUpdate();
        pty->replyAfter(8, Ack);
        QCOMPARE(funSendBlock(*link, NoData, 0, 0, 40, trust::Frame::Resync), CmdResult::Ack);
        link->com1.close();
        QVERIFY(pty->send(Ack));  // kept by the driver while the port is closed
        pty->received.clear();
        pty->replyAfter(15, Ack);
        QCOMPARE(funSendCommand(*link, 'W', 0, 0, 5, 60, true), CmdResult::Ack);
        QCOMPARE(pty->received.size(), 15);  // once
        QCOMPARE(link->trust().verdict(), trust::Verdict::Clean);
        QCOMPARE(link->trust().doubts().size(), size_t(1));
        QCOMPARE(link->trust().doubts().front().cause, trust::Cause::ExtraReply);
    }

    // A line that never goes quiet is sent nothing more.
    void babblingLineGetsNoFrame()
    {
        openLink();
        link->beginUpdate();
        QTimer babble;
        connect(&babble, &QTimer::timeout, this, [this] { pty->send("\x55"); });
        babble.start(10);
        QVERIFY(funSendBlock(*link, NoData, 0, 0, 30, trust::Frame::Resync) != CmdResult::Ack);
        pty->received.clear();
        QCOMPARE(funSendBlock(*link, NoData, 0, 0, 30), CmdResult::NoReply);
        QVERIFY(link->lineUnusable());
        QCOMPARE(link->trust().deciding()->cause, trust::Cause::BabblingLine);
        QVERIFY(!pty->received.contains('\x02'));
    }
};

QTEST_GUILESS_MAIN(TestLink)
#include "test_link.moc"
