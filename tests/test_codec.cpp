// Frame layouts, number encodings and checksums, on worked examples.

#include <QTest>
#include <vector>

#include "protocol/frames.h"

using namespace proto;

namespace {

QByteArray hex(const char *h)
{
    return QByteArray::fromHex(h);
}

}  // namespace

class TestCodec : public QObject {
    Q_OBJECT

private slots:
    void numbers()
    {
        QCOMPARE(funLongToNibbles(0x12345678), QByteArray("12345678"));
        QCOMPARE(funLongToNibbles(0xABCD), QByteArray("0000:;<="));
        QCOMPARE(funLongToNibbles(-1), QByteArray("????????"));
        QCOMPARE(funLongToNibbles(GuardValue), QByteArray("1=4;0<62"));
        QCOMPARE(*funIntToBytes(300), hex("012c"));
        QCOMPARE(*funIntToBytes(32767), hex("7fff"));
        QVERIFY(!funIntToBytes(-1) && !funIntToBytes(32768));
        QCOMPARE(funNibblesToHex("0123456789:;<=>?"), QByteArray("0123456789ABCDEF"));
        QCOMPARE(funNibblesToHex("A\x02" "9"), QByteArray("H\x02" "9"));  // any byte above '9' moves
        QCOMPARE(funNibblesToHex(hex("f9ff")), hex("0006"));                // in 8 bits
    }

    void addChecksum_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("empty") << QByteArray() << QByteArray("00");
        QTest::newRow("A: 0x41 + 1") << QByteArray("A") << QByteArray("A42");
        QTest::newRow("0xFF + 1 wraps") << hex("ff") << hex("ff") + "00";
        QTest::newRow("0xFE + 1: both nibbles above '9'") << hex("fe") << hex("fe") + "??";
    }
    void addChecksum()
    {
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, expected);
        QCOMPARE(funAddChecksum(text), expected);
    }

    void commandFrame_data()
    {
        QTest::addColumn<char>("letter");
        QTest::addColumn<int>("v32");
        QTest::addColumn<int>("v16");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("I") << 'I' << 0 << 0 << hex("02493030303030303030" "0000" "3d37" "0d");
        QTest::newRow("E guard") << 'E' << int(GuardValue) << 0 << hex("0245313d343b303c3632" "0000" "3034" "0d");
        QTest::newRow("S guard") << 'S' << int(GuardValue) << 0 << hex("0253313d343b303c3632" "0000" "3132" "0d");
        QTest::newRow("v16 300 in the sum") << 'A' << 0 << 300 << hex("02413030303030303030" "012c" "3f3c" "0d");
    }
    void commandFrame()
    {
        QFETCH(char, letter);
        QFETCH(int, v32);
        QFETCH(int, v16);
        QFETCH(QByteArray, expected);
        QCOMPARE(*proto::commandFrame(letter, v32, v16), expected);
    }

    void dataFrame_data()
    {
        QTest::addColumn<int>("sequence");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QByteArray>("frame");
        QTest::newRow("empty") << 0 << QByteArray() << hex("0241000000" "00480d");
        QTest::newRow("three bytes") << 1 << hex("102030") << hex("0241000301" "102030" "00af0d");
        // 25265 = 0x62B1: the high byte is lost if the sum is kept in 8 bits.
        QTest::newRow("full block of FF") << 7 << QByteArray(MaxBlockLength, char(0xFF))
            << hex("0241006207") + QByteArray(98, char(0xFF)) + hex("62b10d");
        QTest::newRow("sequence 255") << 255 << hex("80") << hex("02410001ff" "80" "01c90d");
    }
    void dataFrame()
    {
        QFETCH(int, sequence);
        QFETCH(QByteArray, data);
        QFETCH(QByteArray, frame);
        const auto h = blockHeader(int(data.size()), std::uint8_t(sequence));
        const auto *raw = reinterpret_cast<const std::uint8_t *>(data.constData());
        QCOMPARE(*h + data + blockTrailer(*h, raw, int(data.size())), frame);
    }

    void checkReply_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("L");
        QTest::addColumn<bool>("valid");
        QTest::newRow("ACK: 2 + 6 + 2") << hex("0206000a0d") << 5 << true;
        QTest::newRow("ACK, bad sum") << hex("0206000b0d") << 5 << false;
        QTest::newRow("last byte never read") << hex("0206000aff") << 5 << true;
        QTest::newRow("L = size + 1") << hex("0206000a") << 5 << true;
        QTest::newRow("L = size + 2") << hex("020600") << 5 << false;
        QTest::newRow("L = 3: nothing summed") << hex("00000d") << 3 << true;
        QTest::newRow("L = 2") << hex("00000d") << 2 << false;
        const QByteArray body = "\x02" "0123456789ABCDEFGHIJKLMNO";  // 1607 + 26 = 0x0661
        QTest::newRow("identify 29") << body + hex("06610d") << 29 << true;
        QTest::newRow("identify 29, high byte off") << body + hex("07610d") << 29 << false;
        QTest::newRow("identify read as 28") << body + hex("06610d") << 28 << false;
        QTest::newRow("sum past 16 bits") << QByteArray(257, char(0xFF)) + hex("01000d") << 260 << false;
    }
    void checkReply()
    {
        QFETCH(QByteArray, reply);
        QFETCH(int, L);
        QFETCH(bool, valid);
        // Exactly the reply's size on the heap: sanitizers catch an over-read.
        std::vector<std::uint8_t> buf(reply.begin(), reply.end());
        QCOMPARE(proto::checkReply(buf.data(), int(buf.size()), L), valid);
    }
};

QTEST_APPLESS_MAIN(TestCodec)
#include "test_codec.moc"
