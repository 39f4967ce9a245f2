// The indicator simulator is a faithful indicator: frame rules, NOR
// programming and sequence rules, driven over its pty with plain writes.

#include <QSerialPort>
#include <QThread>
#include <QtTest>
#include <sys/ioctl.h>

#include "protocol/frames.h"
#include "support/SimRig.h"

using namespace torvexsim;

namespace {

const QByteArray Ack = QByteArray::fromHex("0206000a0d"), Nak = QByteArray::fromHex("021500190d");

QByteArray command(char letter, qint32 v32 = 0) { return *proto::commandFrame(letter, v32, 0); }

QByteArray pattern(int n, int salt)
{
    QByteArray b(n, 0);
    for (int i = 0; i < n; ++i)
        b[i] = char((i * 37 + salt) & 0xFF);
    return b;
}

QByteArray anded(QByteArray x, const QByteArray &y)  // NOR programming only clears bits
{
    for (int i = 0; i < x.size(); ++i)
        x[i] = char(x[i] & y[i]);
    return x;
}

// The host's end of the line of a simulator started in its boot loader, its
// 4 KiB of flash holding `initial`.
struct Port {
    std::unique_ptr<Simulator> sim;
    QSerialPort p;
    explicit Port(Options o = {}, const QByteArray &initial = {}, std::chrono::milliseconds erase = {})
    {
        o.startInBootLoader = true;
        o.eraseTime = erase;
        o.flashSize = 4096;
        o.initialFlash.assign(initial.begin(), initial.end());
        sim = std::make_unique<Simulator>(std::move(o));
        sim->start();
        p.setPortName(QString::fromStdString(sim->slavePath()));
        // Under a loaded suite an open was once refused at once: try again briefly.
        for (int i = 0; i < 50 && !p.open(QIODevice::ReadWrite); ++i)
            QThread::msleep(20);
    }
    bool send(const QByteArray &b) { return p.write(b) == b.size() && p.waitForBytesWritten(3000); }
    QByteArray read(int n)  // fewer when 3 s pass
    {
        QByteArray out;
        while (out.size() < n && (p.bytesAvailable() > 0 || p.waitForReadyRead(3000)))
            out += p.read(n - out.size());
        return out;
    }
};

QByteArray fromBytes(const Bytes &b) { return QByteArray(reinterpret_cast<const char *>(b.data()), b.size()); }
const QByteArray Old = pattern(200, 5);
using Script = QList<QPair<QByteArray, QByteArray>>;  // a frame, and the exact bytes it draws

}  // namespace

class TestSim : public QObject {
    Q_OBJECT

private slots:
    void script_data()
    {
        QTest::addColumn<Script>("steps");
        QTest::addColumn<QByteArray>("image");  // the flash up to its last programmed byte

        const QByteArray d0 = pattern(98, 10), d1 = pattern(98, 20), d2 = pattern(40, 30);
        const QPair<QByteArray, QByteArray> erase{command('E', proto::GuardValue), Ack}, write{command('W'), Ack},
            end{dataFrame({}, 0), Ack};
        auto b = [](quint8 seq, const QByteArray &d, const QByteArray &reply = Ack) { return qMakePair(dataFrame(d, seq), reply); };

        QTest::newRow("three blocks") << Script{erase, write, b(0, d0), b(1, d1), b(2, d2), end} << d0 + d1 + d2;
        QTest::newRow("retransmission lands at the same offset") << Script{erase, write, b(0, d0), b(0, d1)}
                                                                 << anded(d0, d1);
        QTest::newRow("retransmission of another length refused")
            << Script{erase, write, b(0, d0), b(0, d2, Nak)} << d0;
        QTest::newRow("sequence jump refused") << Script{erase, write, b(0, d0), b(2, d2, Nak), b(1, d1), end}
                                               << d0 + d1;
        QTest::newRow("erase without the guard refused")
            << Script{{command('E'), Nak}, write, b(0, d0), end} << anded(d0, Old);
        QTest::newRow("block outside write mode refused") << Script{erase, b(0, d0, Nak), write, b(0, d1)} << d1;
        const QByteArray big = pattern(1000, 1), fill(97, char(0x5A));
        QTest::newRow("block past the end refused")
            << Script{erase, write, b(0, big), b(1, big), b(2, big), b(3, big), b(4, fill, Nak), b(4, fill.left(96)), end}
            << big + big + big + big + fill.left(96);
        Script wrap{erase, write};
        QByteArray wrapped;
        for (int k = 0; k < 258; wrapped += char(k++))
            wrap << b(quint8(k), QByteArray(1, char(k)));
        QTest::newRow("sequence wraps after 255") << (wrap << end) << wrapped;
        // Damaged frames are refused and the receiver stays in step.
        const QByteArray i = command('I'), data = dataFrame("abc", 0);
        for (const auto &[name, frame] : {std::pair{"command checksum", QByteArray(i).replace(13, 1, "?")},
                                          {"hex letter in the value", QByteArray(i).replace(9, 1, "A").replace(12, 2, ">8")},
                                          {"data checksum", QByteArray(data).replace(9, 1, "\x01")},
                                          {"unknown command", command('X')}})
            QTest::newRow(name) << Script{erase, write, {frame, Nak}, b(0, "abc")} << QByteArray("abc");
    }
    void script()
    {
        QFETCH(Script, steps); QFETCH(QByteArray, image);
        Port port({}, Old);  // the flash holds older bytes
        for (qsizetype k = 0; k < steps.size(); ++k)
            QVERIFY2(port.send(steps[k].first) && port.read(int(steps[k].second.size())) == steps[k].second,
                     qPrintable(QString::number(k)));
        QVERIFY(port.send(command('Z')));  // the next bytes are its refusal: nothing else came
        QCOMPARE(port.read(5), Nak);
        QCOMPARE(fromBytes(port.sim->flashImage()), image);
    }

    // Bytes between frames are no frame; a frame cut short is dropped after the receive timeout.
    void betweenFrames()
    {
        Port port;
        QVERIFY(port.send(QByteArray(20, '\r') + "\x02" "A\x04\x01" + command('W').left(7)));
        QVERIFY(port.sim->waitUntil([](const Counters &c, State) { return c.abandonedFrames > 0; }, std::chrono::seconds(3)));
        QVERIFY(port.send(command('W')));
        QCOMPARE(port.read(5), Ack);
        QCOMPARE(port.sim->counters().frames, 1u);
        QCOMPARE(port.sim->counters().garbageHeaders, 1u);
    }

    void resetReturnsToFirmware()
    {
        Port port;
        QVERIFY(port.send(command('W') + command('S', proto::GuardValue)));
        QCOMPARE(port.read(10), Ack + Ack);
        QCOMPARE(port.sim->state(), State::Firmware);
        QVERIFY(port.send(dataFrame("abc", 0)));  // the firmware does not speak the protocol
        QVERIFY(port.sim->waitForBytes(30 + 11, std::chrono::seconds(3)));
        QCOMPARE(port.sim->counters().frames, 2u);
        QVERIFY(port.send("BL\r" + dataFrame("abc", 0)));
        QCOMPARE(port.read(5), Nak);  // write mode did not survive the reset
    }

    // Frames behind an erase: erasing in the background, they are handled at
    // once and the erase's end wipes what they wrote; in the foreground they wait.
    void framesDuringErase_data()
    {
        QTest::addColumn<bool>("background");
        QTest::addColumn<QByteArray>("replies");  // to E, Z, W and block 0, as they come
        QTest::addColumn<QByteArray>("image");    // after block 1, sent once they came

        const QByteArray d0 = pattern(98, 10), d1 = pattern(98, 20);
        QTest::newRow("background: block 0 wiped") << true << Nak + Ack + Ack + Ack << QByteArray(98, '\xFF') + d1;
        QTest::newRow("foreground: block 0 waits") << false << Ack + Nak + Ack + Ack << d0 + d1;
    }
    void framesDuringErase()
    {
        QFETCH(bool, background); QFETCH(QByteArray, replies); QFETCH(QByteArray, image);
        Options o;
        o.eraseInBackground = background;
        Port port(o, Old, std::chrono::milliseconds(400));
        QElapsedTimer clock;
        clock.start();
        QVERIFY(port.send(command('E', proto::GuardValue) + command('Z') + command('W') + dataFrame(pattern(98, 10), 0)));
        QCOMPARE(port.read(20), replies);
        QVERIFY(clock.elapsed() >= 400);  // the erase's reply is among them
        QVERIFY(port.send(dataFrame(pattern(98, 20), 1)));
        QCOMPARE(port.read(5), Ack);
        QCOMPARE(fromBytes(port.sim->flashImage()), image);
        QCOMPARE(port.sim->counters().erases, 1u);
    }

    // A latency holds each reply back without holding up the frames behind it.
    void latency()
    {
        Options o;
        o.latency = std::chrono::milliseconds(300);
        Port port(o);
        QElapsedTimer clock;
        clock.start();
        QVERIFY(port.send(command('Z') + command('W')));
        QVERIFY(port.sim->waitForFrames(2, std::chrono::seconds(3)));
        int queued = 0;  // arrived, read or not
        QVERIFY(::ioctl(port.p.handle(), FIONREAD, &queued) == 0 && queued + port.p.bytesAvailable() == 0);
        QCOMPARE(port.read(10), Nak + Ack);
        QVERIFY(clock.elapsed() >= 300);
    }
};

QTEST_GUILESS_MAIN(TestSim)
#include "test_sim.moc"
