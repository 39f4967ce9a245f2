#include "protocol/frames.h"

#include <QTest>

#include <limits>
#include <vector>

using namespace proto;

namespace {

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        out.append(static_cast<char>(v));
    return out;
}

const std::uint8_t *raw(const QByteArray &b)
{
    return reinterpret_cast<const std::uint8_t *>(b.constData());
}

}  // namespace

class TestCodec : public QObject {
    Q_OBJECT

private slots:
    void longToNibbles_data();
    void longToNibbles();
    void intToBytes_data();
    void intToBytes();
    void addChecksum_data();
    void addChecksum();
    void commandFrame_data();
    void commandFrame();
    void commandFrameRefusesBadV16();
    void dataFrame_data();
    void dataFrame();
    void blockHeaderRefusesBadLength_data();
    void blockHeaderRefusesBadLength();
    void checkReply_data();
    void checkReply();
    void nibblesToHex_data();
    void nibblesToHex();
};

void TestCodec::longToNibbles_data()
{
    QTest::addColumn<int>("value");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("zero") << 0 << QByteArray(8, '0');
    QTest::newRow("0x12345678") << 305419896 << QByteArray("12345678");
    QTest::newRow("0xABCD uses :;<=>?") << 43981 << QByteArray("0000:;<=");
    QTest::newRow("-1") << -1 << QByteArray(8, '?');
    QTest::newRow("INT32_MIN") << std::numeric_limits<std::int32_t>::min()
                               << QByteArray("80000000");
    QTest::newRow("INT32_MAX") << std::numeric_limits<std::int32_t>::max()
                               << QByteArray("7???????");
    QTest::newRow("guard") << int(GuardValue) << QByteArray("1=4;0<62");
}

void TestCodec::longToNibbles()
{
    QFETCH(int, value);
    QFETCH(QByteArray, expected);
    QCOMPARE(funLongToNibbles(value), expected);
}

void TestCodec::intToBytes_data()
{
    QTest::addColumn<int>("value");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("0") << 0 << true << bytes({0x00, 0x00});
    QTest::newRow("255") << 255 << true << bytes({0x00, 0xFF});
    QTest::newRow("256") << 256 << true << bytes({0x01, 0x00});
    QTest::newRow("300") << 300 << true << bytes({0x01, 0x2C});
    QTest::newRow("32767") << 32767 << true << bytes({0x7F, 0xFF});
    QTest::newRow("-1") << -1 << false << QByteArray();
    QTest::newRow("32768") << 32768 << false << QByteArray();
    QTest::newRow("INT_MIN") << std::numeric_limits<int>::min() << false << QByteArray();
}

void TestCodec::intToBytes()
{
    QFETCH(int, value);
    QFETCH(bool, valid);
    QFETCH(QByteArray, expected);
    const auto got = funIntToBytes(value);
    QCOMPARE(got.has_value(), valid);
    if (valid)
        QCOMPARE(*got, expected);
}

void TestCodec::addChecksum_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("empty") << QByteArray() << QByteArray("00");
    // 0x41 + 1 = 0x42
    QTest::newRow("A") << QByteArray("A") << QByteArray("A42");
    // 0xFF + 1 wraps to 0x00
    QTest::newRow("wraps") << bytes({0xFF}) << bytes({0xFF, '0', '0'});
    // 0xFE + 1 = 0xFF: both nibbles use the character above '9'
    QTest::newRow("FF") << bytes({0xFE}) << bytes({0xFE, '?', '?'});
}

void TestCodec::addChecksum()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, expected);
    QCOMPARE(funAddChecksum(text), expected);
}

void TestCodec::commandFrame_data()
{
    QTest::addColumn<char>("letter");
    QTest::addColumn<int>("v32");
    QTest::addColumn<int>("v16");
    QTest::addColumn<QByteArray>("expected");

    // 02 + 49 + 8 * 30 + 0 + 0 = 459; + 12 = 471; mod 256 = 0xD7
    QTest::newRow("I") << 'I' << 0 << 0
                       << bytes({0x02, 0x49, 0x30, 0x30, 0x30, 0x30, 0x30, 0x30, 0x30, 0x30,
                                 0x00, 0x00, 0x3D, 0x37, 0x0D});
    // 2 + 87 + 384 = 473; + 12 = 485; mod 256 = 0xE5
    QTest::newRow("W") << 'W' << 0 << 0
                       << bytes({0x02, 0x57, 0x30, 0x30, 0x30, 0x30, 0x30, 0x30, 0x30, 0x30,
                                 0x00, 0x00, 0x3E, 0x35, 0x0D});
    // 0x1D4B0C62 -> 31 3D 34 3B 30 3C 36 32, summing 110 + 111 + 108 + 104 = 433.
    // E: 2 + 69 + 433 = 504; + 12 = 516; mod 256 = 0x04
    QTest::newRow("E guard") << 'E' << int(GuardValue) << 0
                             << bytes({0x02, 0x45, 0x31, 0x3D, 0x34, 0x3B, 0x30, 0x3C, 0x36,
                                       0x32, 0x00, 0x00, 0x30, 0x34, 0x0D});
    // S: 2 + 83 + 433 = 518; + 12 = 530; mod 256 = 0x12
    QTest::newRow("S guard") << 'S' << int(GuardValue) << 0
                             << bytes({0x02, 0x53, 0x31, 0x3D, 0x34, 0x3B, 0x30, 0x3C, 0x36,
                                       0x32, 0x00, 0x00, 0x31, 0x32, 0x0D});
    // v16 takes part in the sum: 2 + 65 + 384 + 1 + 44 = 496; + 12 = 508; mod 256 = 0xFC
    QTest::newRow("A with v16 300") << 'A' << 0 << 300
                                    << bytes({0x02, 0x41, 0x30, 0x30, 0x30, 0x30, 0x30, 0x30,
                                              0x30, 0x30, 0x01, 0x2C, 0x3F, 0x3C, 0x0D});
}

void TestCodec::commandFrame()
{
    QFETCH(char, letter);
    QFETCH(int, v32);
    QFETCH(int, v16);
    QFETCH(QByteArray, expected);
    const auto frame = proto::commandFrame(letter, v32, v16);
    QVERIFY(frame.has_value());
    QCOMPARE(frame->size(), CommandFrameSize);
    QCOMPARE(*frame, expected);
}

void TestCodec::commandFrameRefusesBadV16()
{
    QVERIFY(!proto::commandFrame('I', 0, -1).has_value());
    QVERIFY(!proto::commandFrame('I', 0, 32768).has_value());
}

void TestCodec::dataFrame_data()
{
    QTest::addColumn<int>("sequence");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QByteArray>("header");
    QTest::addColumn<QByteArray>("trailer");

    // F = 67 + 0 + 0 + 5 = 72
    QTest::newRow("empty") << 0 << QByteArray() << bytes({0x02, 0x41, 0x00, 0x00, 0x00})
                           << bytes({0x00, 0x48, 0x0D});
    // F = 71 + 96 + 3 + 5 = 175
    QTest::newRow("three bytes") << 1 << bytes({0x10, 0x20, 0x30})
                                 << bytes({0x02, 0x41, 0x00, 0x03, 0x01})
                                 << bytes({0x00, 0xAF, 0x0D});
    // Header 2 + 65 + 0 + 98 + 7 = 172; data 98 * 255 = 24990; + 98 + 5.
    // F = 25265 = 0x62B1: the high byte is lost if the sum is kept in 8 bits.
    QTest::newRow("full block of FF") << 7 << QByteArray(MaxBlockLength, char(0xFF))
                                      << bytes({0x02, 0x41, 0x00, 0x62, 0x07})
                                      << bytes({0x62, 0xB1, 0x0D});
    // Sequence 255 and data 0x80: 2 + 65 + 1 + 255 = 323; + 128 + 1 + 5 = 457 = 0x01C9
    QTest::newRow("high sequence") << 255 << bytes({0x80})
                                   << bytes({0x02, 0x41, 0x00, 0x01, 0xFF})
                                   << bytes({0x01, 0xC9, 0x0D});
}

void TestCodec::dataFrame()
{
    QFETCH(int, sequence);
    QFETCH(QByteArray, data);
    QFETCH(QByteArray, header);
    QFETCH(QByteArray, trailer);
    const auto h = blockHeader(int(data.size()), std::uint8_t(sequence));
    QVERIFY(h.has_value());
    QCOMPARE(*h, header);
    QCOMPARE(blockTrailer(*h, raw(data), int(data.size())), trailer);
}

void TestCodec::blockHeaderRefusesBadLength_data()
{
    QTest::addColumn<int>("n");
    QTest::newRow("-1") << -1;
    QTest::newRow("32768") << 32768;
}

void TestCodec::blockHeaderRefusesBadLength()
{
    QFETCH(int, n);
    QVERIFY(!blockHeader(n, 0).has_value());
}

void TestCodec::checkReply_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("L");
    QTest::addColumn<bool>("valid");

    // 2 + 6 + 2 = 10
    QTest::newRow("ACK") << bytes({0x02, 0x06, 0x00, 0x0A, 0x0D}) << 5 << true;
    QTest::newRow("refused") << bytes({0x02, 0x15, 0x00, 0x19, 0x0D}) << 5 << true;
    QTest::newRow("ACK bad sum") << bytes({0x02, 0x06, 0x00, 0x0B, 0x0D}) << 5 << false;
    QTest::newRow("unexpected code") << bytes({0x02, 0x07, 0x00, 0x0B, 0x0D}) << 5 << true;
    QTest::newRow("last byte ignored") << bytes({0x02, 0x06, 0x00, 0x0A, 0xFF}) << 5 << true;
    // The closing byte may lie just past the buffer: it is never read.
    QTest::newRow("L = size + 1") << bytes({0x02, 0x06, 0x00, 0x0A}) << 5 << true;
    QTest::newRow("L = size + 2") << bytes({0x02, 0x06, 0x00}) << 5 << false;
    // L = 3: no summed bytes, the count is 0, so 00 00 is valid.
    QTest::newRow("L = 3 zero") << bytes({0x00, 0x00, 0x0D}) << 3 << true;
    QTest::newRow("L = 3 nonzero") << bytes({0x00, 0x01, 0x0D}) << 3 << false;
    QTest::newRow("L = 2") << bytes({0x00, 0x00, 0x0D}) << 2 << false;
    QTest::newRow("L = 0") << bytes({0x00, 0x00, 0x0D}) << 0 << false;
    QTest::newRow("L negative") << bytes({0x00, 0x00, 0x0D}) << -4 << false;

    // 02 then "0123456789ABCDEFGHIJKLMNO": 2 + 525 + 1080 = 1607; + 26 = 1633 = 0x0661
    const QByteArray body = bytes({0x02}) + QByteArray("0123456789ABCDEFGHIJKLMNO");
    QTest::newRow("identify 29") << body + bytes({0x06, 0x61, 0x0D}) << 29 << true;
    QTest::newRow("identify 29 low byte off") << body + bytes({0x06, 0x62, 0x0D}) << 29
                                              << false;
    QTest::newRow("identify 29 high byte off") << body + bytes({0x07, 0x61, 0x0D}) << 29
                                               << false;
    // Same bytes read as a 28-byte reply: the checksum sits elsewhere.
    QTest::newRow("identify read short") << body + bytes({0x06, 0x61, 0x0D}) << 28 << false;

    // 257 * 0xFF + 257 = 65792 = 0x10100: only a 16-bit sum would match 01 00.
    QTest::newRow("sum past 16 bits") << QByteArray(257, char(0xFF)) + bytes({0x01, 0x00, 0x0D})
                                      << 260 << false;
}

void TestCodec::checkReply()
{
    QFETCH(QByteArray, reply);
    QFETCH(int, L);
    QFETCH(bool, valid);
    // A copy on the heap of exactly the reply's size lets sanitizers catch over-reads.
    std::vector<std::uint8_t> buf(reply.begin(), reply.end());
    QCOMPARE(proto::checkReply(buf.data(), int(buf.size()), L), valid);
}

void TestCodec::nibblesToHex_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("ABCD") << QByteArray("0000:;<=") << QByteArray("0000ABCD");
    QTest::newRow("all nibbles") << QByteArray("0123456789:;<=>?")
                                 << QByteArray("0123456789ABCDEF");
    QTest::newRow("empty") << QByteArray() << QByteArray();
    QTest::newRow("letter moved too") << QByteArray("A") << QByteArray("H");
    QTest::newRow("low bytes copied") << bytes({0x00, 0x02, 0x39}) << bytes({0x00, 0x02, 0x39});
    // 8-bit arithmetic: 0xFF + 7 wraps to 0x06.
    QTest::newRow("FF wraps") << bytes({0xF9, 0xFF}) << bytes({0x00, 0x06});
    QTest::newRow("round trip") << funLongToNibbles(-2) << QByteArray("FFFFFFFE");
}

void TestCodec::nibblesToHex()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, expected);
    QCOMPARE(funNibblesToHex(text), expected);
}

QTEST_APPLESS_MAIN(TestCodec)
#include "test_codec.moc"
