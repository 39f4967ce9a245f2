// The indicator simulator, driven over its pty the way the updater drives a
// real indicator. Frames are built here from the wire layout, independently
// of the simulator's own encoder.

#include "SampleImage.h"
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
    void identify_data()
    {
        QTest::addColumn<QString>("manufacturer");
        QTest::addColumn<QString>("device");
        QTest::addColumn<bool>("plainHex");
        QTest::addColumn<bool>("startInBootLoader");
        QTest::addColumn<QByteArray>("codes");
        QTest::addColumn<int>("flashSize");

        QTest::newRow("M29W160EB") << "0020" << "2249" << false << false << QByteArray("00202249") << (2 << 20);
        QTest::newRow("M29W320DB") << "0020" << "22CB" << false << false << QByteArray("002022<;") << (4 << 20);
        QTest::newRow("lower case") << "0020" << "22cb" << false << false << QByteArray("002022<;") << (4 << 20);
        QTest::newRow("plain hex") << "0020" << "22CB" << true << false << QByteArray("002022CB") << (4 << 20);
        QTest::newRow("unknown chip") << "00C2" << "1234" << false << false << QByteArray("00<21234") << (2 << 20);
        QTest::newRow("boot loader at start") << "0020" << "2249" << false << true << QByteArray("00202249") << (2 << 20);
    }

    void identify()
    {
        QFETCH(QString, manufacturer);
        QFETCH(QString, device);
        QFETCH(bool, plainHex);
        QFETCH(bool, startInBootLoader);
        QFETCH(QByteArray, codes);
        QFETCH(int, flashSize);

        Options o;
        o.manufacturerCode = manufacturer.toStdString();
        o.deviceCode = device.toStdString();
        o.plainHexCodes = plainHex;
        o.startInBootLoader = startInBootLoader;
        o.softwareVersion = "V2.03";  // padded to eight
        o.identifyExtra = {'1', 'X', 0x00, 0xFF, '9'};
        auto sim = started(o);
        Port port(sim->slavePath());

        if (!startInBootLoader) {
            // The running firmware ignores frames until it is woken.
            QVERIFY(port.send(command('I')));
            QVERIFY(sim->waitForBytes(15, Limit));
            QCOMPARE(sim->counters().frames, 0u);
            QVERIFY(port.send("BL\r"));
            QVERIFY(sim->waitForState(State::BootLoader, Limit));
        }
        QVERIFY(port.send(command('I')));
        QCOMPARE(port.read(29), reply(0x06, codes + "V2.03   KD71X" + QByteArray(1, 0) + "\xFF" "9"));
        QCOMPARE(sim->flashSize(), std::size_t(flashSize));
    }

    void erase_data()
    {
        QTest::addColumn<quint32>("guard");
        QTest::addColumn<int>("outcome");
        QTest::addColumn<QByteArray>("expect");
        QTest::addColumn<bool>("erased");

        const int ack = int(EraseOutcome::Ack);
        QTest::newRow("guard") << Guard << ack << Ack << true;
        QTest::newRow("no guard") << 0u << ack << Nak << false;
        QTest::newRow("guard with one bit off") << (Guard ^ 0x100) << ack << Nak << false;
        QTest::newRow("erase fails") << Guard << int(EraseOutcome::Nak) << Nak << false;
        QTest::newRow("erase silent") << Guard << int(EraseOutcome::Silent) << QByteArray() << true;
        QTest::newRow("erase reply checksum") << Guard << int(EraseOutcome::BadChecksum)
                                              << damaged(Ack, 3, char(0xF5)) << true;
        QTest::newRow("erase reply code 07") << Guard << int(EraseOutcome::WrongCode) << reply(0x07) << true;
    }

    void erase()
    {
        QFETCH(quint32, guard);
        QFETCH(int, outcome);
        QFETCH(QByteArray, expect);
        QFETCH(bool, erased);

        Options o = bootLoaderOptions();
        o.eraseOutcome = EraseOutcome(outcome);
        const QByteArray old = pattern(1000, 1);
        o.initialFlash = toBytes(old);
        auto sim = started(o);
        Port port(sim->slavePath());

        QVERIFY(port.send(command('E', guard)));
        QCOMPARE(port.read(expect.size()), expect);
        // The next bytes must be the next reply: nothing else was sent.
        QVERIFY(port.send(command('I')));
        QCOMPARE(port.read(29), DefaultIdentify);
        QCOMPARE(fromBytes(sim->flash()), erased ? QByteArray(4096, char(0xFF)) : old + QByteArray(3096, char(0xFF)));
        QCOMPARE(sim->counters().erases, erased ? 1u : 0u);
    }

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
        QTest::newRow("retransmission rewrites the block") << none << blank
            << Script{erase, write, b(0, d0), b(1, d1), b(1, d1), b(2, d2), end} << d0 + d1 + d2 << 1;
        QTest::newRow("retransmission lands at the same offset") << none << blank
            << Script{erase, write, b(0, d0), b(0, d1)} << anded(d0, d1) << 1;
        QTest::newRow("retransmission of another length refused") << none << blank
            << Script{erase, write, b(0, d0), b(0, d2, Nak)} << d0 << 0;
        QTest::newRow("sequence jump refused") << none << blank
            << Script{erase, write, b(0, d0), b(2, d2, Nak), b(1, d1), end} << d0 + d1 << 0;
        QTest::newRow("older sequence refused") << none << blank
            << Script{erase, write, b(0, d0), b(1, d1), b(0, d0, Nak)} << d0 + d1 << 0;
        QTest::newRow("block outside write mode refused") << none << blank
            << Script{erase, b(0, d0, Nak), end, write, b(0, d1), end} << d1 << 0;
        QTest::newRow("write restarts at offset 0") << none << blank
            << Script{erase, write, b(0, d0), write, b(0, d1)} << anded(d0, d1) << 0;
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
                                          {"data without CR", damaged(data, 10, '\0')},
                                          {"unknown command", command('X')},
                                          {"reset without guard", command('S')}})
            QTest::newRow(name) << none << blank << Script{write, {frame, Nak}, b(0, "abc")} << QByteArray("abc") << 0;

        const QByteArray code07 = reply(0x07), badSum = damaged(Ack, 3, char(0xF5));
        QTest::newRow("refuse block 1 twice") << QStringList{"block1:refuse=2"} << blank
            << Script{erase, write, b(0, d0), b(1, d1, Nak), b(1, d1, Nak), b(1, d1), b(2, d2), end} << d0 + d1 + d2 << 0;
        QTest::newRow("silence: block not taken") << QStringList{"1:silence*1"} << blank
            << Script{erase, write, b(0, d0), b(1, d1, {}), b(1, d1), end} << d0 + d1 << 0;
        QTest::newRow("lost reply: block taken") << QStringList{"1:lose*1"} << blank
            << Script{erase, write, b(0, d0), b(1, d1, {}), b(1, d1), end} << d0 + d1 << 1;
        QTest::newRow("first identify ignored") << QStringList{"I:silence*1"} << blank
            << Script{{command('I'), {}}, {command('I'), DefaultIdentify}} << blank << 0;
        QTest::newRow("reply checksum wrong") << QStringList{"W:bad-checksum"} << blank
            << Script{erase, {command('W'), badSum}, b(0, d2)} << d2 << 0;
        QTest::newRow("reply code 07 once") << QStringList{"end:code=0x07*1"} << blank
            << Script{{block(0, {}), code07}, end} << blank << 0;
        QTest::newRow("truncated reply") << QStringList{"E:truncate=2"} << blank
            << Script{{command('E', Guard), Ack.left(2)}} << blank << 0;
        QTest::newRow("delayed reply") << QStringList{"E:delay=20"} << blank << Script{erase} << blank << 0;
        QTest::newRow("two rules on one block") << QStringList{"0:refuse*1", "0:code=0x07"} << blank
            << Script{write, b(0, d2, Nak), b(0, d2, code07)} << d2 << 0;
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
        QTest::newRow("wake-up repeated") << QByteArray("BL\rBL\r") << 6ull << 0ull << 0ull;
        QTest::newRow("reply codes and junk") << QByteArray("\x06\x15\xFF\x00x", 5) << 5ull << 0ull << 0ull;
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

    void malformedRule_data()
    {
        QTest::addColumn<QString>("rule");
        for (const char *r : {"I", "X:refuse:", "block:refuse", "blockx:lose", "end:explode", "I:truncate",
                              "I:delay=", "I:refuse=0", "I:silence*0", "I:code=0x100", "A:silence", "i:silence"})
            QTest::newRow(r) << QString(r);
    }

    void malformedRule()
    {
        QFETCH(QString, rule);
        std::string why;
        QVERIFY(!parseFaultRule(rule.toStdString(), &why));
        QVERIFY(!why.empty());
    }

    void hostReopensThroughLink()
    {
        QTemporaryDir dir;
        const QString link = dir.filePath("indicator");
        QVERIFY(QFile::link(dir.filePath("stale"), link));  // a previous run's link is replaced
        Options o;
        o.linkPath = link.toStdString();
        o.flashOutPath = dir.filePath("flash.bin").toStdString();
        auto sim = started(o);
        QCOMPARE(QFileInfo(link).symLinkTarget(), QString::fromStdString(sim->slavePath()));

        {
            Port port(o.linkPath);
            QVERIFY(port.send("BL\rBL\rBL\r"));
            QVERIFY(sim->waitForState(State::BootLoader, Limit));
        }
        // Like the updater: a fresh open for every command.
        for (const auto &[frame, expect] : {std::pair{command('I'), DefaultIdentify}, {command('W'), Ack},
                                            {block(0, "xyz"), Ack}, {block(0, {}), Ack}}) {
            Port port(o.linkPath);
            QVERIFY(port.send(frame));
            QCOMPARE(port.read(expect.size()), expect);
        }
        QCOMPARE(sim->state(), State::BootLoader);
        QFile out(dir.filePath("flash.bin"));
        QVERIFY(out.open(QIODevice::ReadOnly));
        QCOMPARE(out.readAll(), QByteArray("xyz"));

        sim->stop();
        QVERIFY(!QFileInfo(link).isSymLink());
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

    void pacingSpacesFrames()
    {
        Options o = bootLoaderOptions();
        o.baud = 9600;
        auto sim = started(o);
        Port port(sim->slavePath());
        QVERIFY(port.send(command('W') + command('W')));
        QCOMPARE(port.read(10), Ack + Ack);
        const auto f = sim->frames();
        QCOMPARE(f.size(), std::size_t(2));
        // Arrival times the simulator assigns, not measured ones: the second
        // frame ends at least 15 byte times after the first.
        QVERIFY(f[1].time - f[0].time >= 15 * 10 * 1'000'000us / 9600 - 1us);
    }

    void sampleImage_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<QString>("version");
        QTest::addColumn<QString>("tag");
        QTest::addColumn<QByteArray>("idBlock");

        QTest::newRow("default") << 70000 << "V1.10.00" << "REL " << QByteArray("V1.10.00KD70REL ");
        QTest::newRow("short fields padded") << 1040 << "V2" << "LA" << QByteArray("V2      KD70LA  ");
        QTest::newRow("long fields cut") << 2000 << "V1.10.00x" << "LABTX" << QByteArray("V1.10.00KD70LABT");
    }

    void sampleImage()
    {
        QFETCH(int, size);
        QFETCH(QString, version);
        QFETCH(QString, tag);
        QFETCH(QByteArray, idBlock);

        SampleImageOptions o;
        o.size = std::size_t(size);
        o.version = version.toStdString();
        o.tag = tag.toStdString();
        const QByteArray image = fromBytes(makeSampleImage(o));
        QCOMPARE(image.size(), size);
        QCOMPARE(image.mid(1024, 16), idBlock);
        QCOMPARE(fromBytes(makeSampleImage(o)), image);
        QVERIFY(image.left(1024).count(image[0]) < 64);  // filler, not a constant
    }
};

QTEST_GUILESS_MAIN(TestSim)
#include "test_sim.moc"
