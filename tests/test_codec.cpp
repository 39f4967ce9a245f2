// Frame layouts, number encodings and checksums, on worked examples.

#include <QTest>
#include <vector>

#include "protocol/frames.h"
#include "support/SimRig.h"

using namespace proto;

static QByteArray hex(const char *h) { return QByteArray::fromHex(h); }

class TestCodec : public QObject {
    Q_OBJECT

private slots:
    void numbersAndFrames()
    {
        for (const auto &[v, text] : {std::pair{0x12345678, "12345678"}, {0xABCD, "0000:;<="}, {-1, "????????"},
                                      {GuardValue, "1=4;0<62"}})
            QCOMPARE(funLongToNibbles(v), QByteArray(text));
        QCOMPARE(*funIntToBytes(300), hex("012c"));
        QCOMPARE(*funIntToBytes(32767), hex("7fff"));
        QVERIFY(!funIntToBytes(-1) && !funIntToBytes(32768));
        QCOMPARE(funNibblesToHex("0123456789:;<=>?"), QByteArray("0123456789ABCDEF"));
        QCOMPARE(funNibblesToHex("A\x02" "9"), QByteArray("H\x02" "9"));  // any byte above '9' moves
        QCOMPARE(funNibblesToHex(hex("f9ff")), hex("0006"));                // in 8 bits
        QCOMPARE(funAddChecksum(QByteArray()), QByteArray("00"));
        QCOMPARE(funAddChecksum("A"), QByteArray("A42"));                 // 0x41 + 1
        QCOMPARE(funAddChecksum(hex("ff")), hex("ff") + "00");            // wraps
        QCOMPARE(funAddChecksum(hex("fe")), hex("fe") + "??");            // both nibbles above '9'
        for (const auto &[letter, v32, v16, frame] :
             {std::tuple{'I', 0, 0, "02493030303030303030" "0000" "3d37" "0d"},
              {'E', GuardValue, 0, "0245313d343b303c3632" "0000" "3034" "0d"},
              {'S', GuardValue, 0, "0253313d343b303c3632" "0000" "3132" "0d"},
              {'A', 0, 300, "02413030303030303030" "012c" "3f3c" "0d"}})
            QCOMPARE(*commandFrame(letter, v32, v16), hex(frame));
        QCOMPARE(dataFrame({}, 0), hex("0241000000" "00480d"));
        QCOMPARE(dataFrame(hex("102030"), 1), hex("0241000301" "102030" "00af0d"));
        QCOMPARE(dataFrame(hex("80"), 255), hex("02410001ff" "80" "01c90d"));
        // 25265 = 0x62B1: the high byte is lost if the sum is kept in 8 bits.
        QCOMPARE(dataFrame(QByteArray(98, char(0xFF)), 7), hex("0241006207") + QByteArray(98, char(0xFF)) + hex("62b10d"));
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
        QFETCH(QByteArray, reply); QFETCH(int, L); QFETCH(bool, valid);
        // Exactly the reply's size on the heap: sanitizers catch an over-read.
        std::vector<std::uint8_t> buf(reply.begin(), reply.end());
        QCOMPARE(proto::checkReply(buf.data(), int(buf.size()), L), valid);
    }
};

QTEST_APPLESS_MAIN(TestCodec)
#include "test_codec.moc"
