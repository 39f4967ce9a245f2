// The indicator simulator, driven over its pty the way the updater drives a
// real indicator. Frames are built here from the wire layout, independently
// of the simulator's own encoder.

#include "Simulator.h"

#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

using namespace torvexsim;
using namespace std::chrono_literals;

namespace {

constexpr auto Limit = 5000ms;  // generous: only reached when something is broken
constexpr quint32 Guard = 0x1D4B0C62;

unsigned sumOf(const QByteArray &b)
{
    unsigned s = 0;
    for (char c : b)
        s += quint8(c);
    return s;
}
QByteArray be16(unsigned v) { return QByteArray(1, char(v >> 8 & 0xFF)) + char(v & 0xFF); }
QByteArray nibble(unsigned v) { return QByteArray(1, char(0x30 + (v & 0xF))); }

QByteArray command(char letter, quint32 v32 = 0)
{
    QByteArray f = QByteArray("\x02") + letter;
    for (int shift = 28; shift >= 0; shift -= 4)
        f += nibble(v32 >> shift);
    f += QByteArray(2, '\0');
    const unsigned c = sumOf(f) + 12;
    return f + nibble(c >> 4) + nibble(c) + '\r';
}

QByteArray block(quint8 seq, const QByteArray &data)
{
    const QByteArray f = QByteArray("\x02" "A") + be16(unsigned(data.size())) + char(seq) + data;
    return f + be16(sumOf(f) + unsigned(data.size()) + 5) + '\r';
}

QByteArray reply(char code, const QByteArray &payload = {})
{
    const QByteArray r = QByteArray("\x02") + code + payload;
    return r + be16(sumOf(r) + unsigned(r.size())) + '\r';
}

QByteArray damaged(QByteArray frame, int at, char value)
{
    frame[at] = value;
    return frame;
}

const QByteArray Ack = reply(0x06), Nak = reply(0x15);
const QByteArray DefaultIdentify = reply(0x06, "00202249V1.10.00KD70B102");

QByteArray pattern(int n, int salt)
{
    QByteArray b(n, 0);
    for (int i = 0; i < n; ++i)
        b[i] = char((i * 37 + salt) & 0xFF);
    return b;
}

Bytes toBytes(const QByteArray &b) { return Bytes(b.begin(), b.end()); }
QByteArray fromBytes(const Bytes &b) { return QByteArray(reinterpret_cast<const char *>(b.data()), qsizetype(b.size())); }

// The host's end: a plain raw serial port on the slave.
class Port {
public:
    explicit Port(const std::string &path) : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC))
    {
        termios tio{};
        if (fd_ >= 0 && ::tcgetattr(fd_, &tio) == 0) {
            ::cfmakeraw(&tio);
            ::tcsetattr(fd_, TCSANOW, &tio);
        }
    }
    ~Port()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    bool send(const QByteArray &b) { return ::write(fd_, b.constData(), size_t(b.size())) == b.size(); }

    // n bytes; fewer only when the limit passes or the line dies (then hungUp).
    QByteArray read(int n, bool *hungUp = nullptr)
    {
        QByteArray out;
        const auto deadline = std::chrono::steady_clock::now() + Limit;
        while (out.size() < n && std::chrono::steady_clock::now() < deadline) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0)
                continue;
            char buf[256];
            const ssize_t k = ::read(fd_, buf, std::min<size_t>(sizeof buf, size_t(n - out.size())));
            if (k <= 0 || (p.revents & (POLLHUP | POLLERR))) {
                if (hungUp)
                    *hungUp = true;
                break;
            }
            out.append(buf, k);
        }
        return out;
    }

private:
    int fd_;
};

std::unique_ptr<Simulator> started(Options o)
{
    auto sim = std::make_unique<Simulator>(std::move(o));
    sim->start();
    return sim;
}

Options bootLoaderOptions()
{
    Options o;
    o.startInBootLoader = true;
    o.eraseTime = 0ms;
    o.flashSize = 4096;
    return o;
}

// One frame and the exact bytes it must draw (none: nothing may come back).
struct Step {
    QByteArray frame;
    QByteArray expect;
};
using Script = QList<Step>;

}  // namespace

Q_DECLARE_METATYPE(Step)

class TestSim : public QObject {
    Q_OBJECT

private slots:
    void script_data()
    {
        QTest::addColumn<QStringList>("faults");
        QTest::addColumn<QByteArray>("initial");
        QTest::addColumn<Script>("steps");
        QTest::addColumn<QByteArray>("image");
        QTest::addColumn<int>("retransmissions");

        const QByteArray d0 = pattern(98, 10), d1 = pattern(98, 20), d2 = pattern(40, 30);
        const Step erase{command('E', Guard), Ack}, write{command('W'), Ack}, end{block(0, {}), Ack};
        auto b = [](quint8 seq, const QByteArray &d, const QByteArray &expect = Ack) { return Step{block(seq, d), expect}; };
        auto anded = [](QByteArray x, const QByteArray &y) {
            for (int i = 0; i < x.size(); ++i)
                x[i] = char(x[i] & y[i]);
            return x;
        };
        const QStringList none;
        const QByteArray blank;

        QTest::newRow("three blocks") << none << blank
            << Script{erase, write, b(0, d0), b(1, d1), b(2, d2), end} << d0 + d1 + d2 << 0;
        QTest::newRow("retransmission lands at the same offset") << none << blank
            << Script{erase, write, b(0, d0), b(0, d1)} << anded(d0, d1) << 1;
        QTest::newRow("retransmission of another length refused") << none << blank
            << Script{erase, write, b(0, d0), b(0, d2, Nak)} << d0 << 0;
        QTest::newRow("sequence jump refused") << none << blank
            << Script{erase, write, b(0, d0), b(2, d2, Nak), b(1, d1), end} << d0 + d1 << 0;
        QTest::newRow("erase without the guard refused") << none << pattern(200, 5)
            << Script{{command('E'), Nak}, write, b(0, d0), end} << anded(d0, pattern(200, 5)) << 0;
        QTest::newRow("erased, then written") << none << pattern(200, 5) << Script{erase, write, b(0, d0), end} << d0 << 0;
        QTest::newRow("write without erase ANDs with the old content") << none << pattern(200, 5)
            << Script{write, b(0, d0), b(1, d1), end} << anded(d0 + d1, pattern(200, 5)) << 0;
        const QByteArray big = pattern(1000, 1), fill(97, char(0x5A));  // into a 4096-byte flash
        QTest::newRow("block past the end refused") << none << blank
            << Script{erase, write, b(0, big), b(1, big), b(2, big), b(3, big), b(4, fill, Nak), b(4, fill.left(96)), end}
            << big + big + big + big + fill.left(96) << 0;
        Script wrap{erase, write};
        QByteArray wrapped;
        for (int k = 0; k < 258; ++k) {
            wrap << b(quint8(k), QByteArray(1, char(k)));
            wrapped += char(k);
        }
        QTest::newRow("sequence wraps after 255") << none << blank << (wrap << end) << wrapped << 0;

        // Damaged frames are refused and the receiver stays in step.
        const QByteArray cmdI = command('I'), data = block(0, "abc");
        for (const auto &[name, frame] : {std::pair{"command checksum", damaged(cmdI, 13, char(cmdI[13] + 1))},
                                          {"command without CR", damaged(cmdI, 14, '\n')},
                                          {"hex letter in the value", damaged(damaged(cmdI, 9, 'A'), 13, char(cmdI[13] + 17))},
                                          {"data checksum", damaged(data, 9, char(data[9] ^ 1))},
                                          {"unknown command", command('X')}})
            QTest::newRow(name) << none << blank << Script{write, {frame, Nak}, b(0, "abc")} << QByteArray("abc") << 0;

        const QByteArray code07 = reply(0x07), badSum = damaged(Ack, 3, char(0xF5));
        QTest::newRow("refuse block 1 twice") << QStringList{"block1:refuse=2"} << blank
            << Script{erase, write, b(0, d0), b(1, d1, Nak), b(1, d1, Nak), b(1, d1), b(2, d2), end} << d0 + d1 + d2 << 0;
        QTest::newRow("silence: block not taken") << QStringList{"1:silence*1"} << blank
            << Script{erase, write, b(0, d0), b(1, d1, {}), b(1, d1), end} << d0 + d1 << 0;
        QTest::newRow("lost reply: block taken") << QStringList{"1:lose*1"} << blank
            << Script{erase, write, b(0, d0), b(1, d1, {}), b(1, d1), end} << d0 + d1 << 1;
        QTest::newRow("delayed reply") << QStringList{"E:delay=20"} << blank << Script{erase} << blank << 0;
    }

    void script()
    {
        QFETCH(QStringList, faults);
        QFETCH(QByteArray, initial);
        QFETCH(Script, steps);
        QFETCH(QByteArray, image);
        QFETCH(int, retransmissions);

        Options o = bootLoaderOptions();
        o.initialFlash = toBytes(initial);
        for (const QString &text : faults) {
            const auto rule = parseFaultRule(text.toStdString());
            QVERIFY2(rule, qPrintable(text));
            o.faults.push_back(*rule);
        }
        auto sim = started(o);
        Port port(sim->slavePath());

        QByteArray sent;
        for (int i = 0; i < steps.size(); ++i) {
            QVERIFY(port.send(steps[i].frame));
            sent += steps[i].frame;
            QVERIFY2(port.read(steps[i].expect.size()) == steps[i].expect, qPrintable(QString("step %1").arg(i)));
        }
        // An unknown command draws a NAK, and nothing may come before it.
        const QByteArray probe = command('Z');
        QVERIFY(port.send(probe));
        QCOMPARE(port.read(5), Nak);

        QCOMPARE(fromBytes(sim->flashImage()), image);
        QCOMPARE(sim->counters().retransmissions, std::uint64_t(retransmissions));
        QCOMPARE(fromBytes(sim->received()), sent + probe);
        QCOMPARE(sim->frames().size(), std::size_t(steps.size() + 1));
    }

    void betweenFrames_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<quint64>("stray");
        QTest::addColumn<quint64>("abandoned");
        QTest::addColumn<quint64>("garbage");

        QTest::newRow("CRs") << QByteArray(20, '\r') << 20ull << 0ull << 0ull;
        QTest::newRow("impossible data length") << QByteArray("\x02" "A\x04\x01") << 3ull << 0ull << 1ull;
        QTest::newRow("partial frame, then silence") << command('W').left(7) << 0ull << 1ull << 0ull;
    }

    void betweenFrames()
    {
        QFETCH(QByteArray, before);
        QFETCH(quint64, stray);
        QFETCH(quint64, abandoned);
        QFETCH(quint64, garbage);

        auto sim = started(bootLoaderOptions());
        Port port(sim->slavePath());
        QVERIFY(port.send(before));
        if (abandoned)  // the receive timeout must pass before the next frame
            QVERIFY(sim->waitUntil([](const Counters &c, State) { return c.abandonedFrames > 0; }, Limit));
        QVERIFY(port.send(command('I')));
        QCOMPARE(port.read(29), DefaultIdentify);

        const Counters c = sim->counters();
        QCOMPARE(c.frames, 1u);
        QCOMPARE(c.strayBytes, stray);
        QCOMPARE(c.abandonedFrames, abandoned);
        QCOMPARE(c.garbageHeaders, garbage);
    }

    void resetReturnsToFirmware()
    {
        auto sim = started(bootLoaderOptions());
        Port port(sim->slavePath());
        QVERIFY(port.send(command('W')));
        QCOMPARE(port.read(5), Ack);
        QVERIFY(port.send(command('S', Guard)));
        QCOMPARE(port.read(5), Ack);
        QCOMPARE(sim->state(), State::Firmware);

        QVERIFY(port.send(block(0, "abc")));  // the firmware does not speak the protocol
        QVERIFY(sim->waitForBytes(30 + 11, Limit));
        QCOMPARE(sim->counters().frames, 2u);
        QVERIFY(port.send("BL\r" + block(0, "abc")));
        QCOMPARE(port.read(5), Nak);  // write mode did not survive the reset
    }

    void hangUpAfterBlock()
    {
        Options o = bootLoaderOptions();
        o.hangUpAfterBlock = 1;
        auto sim = started(o);
        Port port(sim->slavePath());
        for (const QByteArray &f : {command('W'), block(0, "a"), block(0, "a"), block(1, "b")}) {
            QVERIFY(port.send(f));
            QCOMPARE(port.read(5), Ack);  // the last ACK still arrives
        }
        bool hungUp = false;
        QCOMPARE(port.read(1, &hungUp), QByteArray());
        QVERIFY(hungUp);
        QCOMPARE(sim->state(), State::HungUp);
        QCOMPARE(sim->counters().blocksWritten, 2u);
    }

};

QTEST_GUILESS_MAIN(TestSim)
#include "test_sim.moc"
