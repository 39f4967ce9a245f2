#include "image/ImageFile.h"

#include <QBuffer>
#include <QTest>

Q_DECLARE_METATYPE(ImageVerdict)

namespace {

enum Field { Version, Model, BootLevel, Tag };

struct FieldSpec {
    qint64 offset;
    int length;
    QString (*read)(QIODevice &);
};

FieldSpec fieldAt(int field)
{
    switch (field) {
    case Version: return {1024, 8, funFileVersion};
    case Model: return {1032, 3, funFileModel};
    case BootLevel: return {1035, 1, funFileBootVersion};
    default: return {1036, 4, funFileTag};
    }
}

// A 2048-byte image with the identification block at 1024..1039 and
// 0xA5 elsewhere, so a reader looking in the wrong place shows.
QByteArray image(const QByteArray &block, int size = 2048)
{
    QByteArray bytes(qMax(size, 1040), char(0xA5));
    bytes.replace(IdBlockOffset, block.size(), block);
    bytes.truncate(size);
    return bytes;
}

QByteArray idBlock(const QByteArray &model, char level, const QByteArray &tag)
{
    return QByteArray("V1.02.03") + model + level + tag;
}

QString latin1(const QByteArray &b)
{
    return QString::fromLatin1(b);
}

// Reports a size it cannot deliver: every read fails.
class BrokenDevice : public QIODevice {
public:
    qint64 size() const override { return 4096; }
protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *, qint64) override { return -1; }
};

class PipeDevice : public QIODevice {
public:
    bool isSequential() const override { return true; }
protected:
    qint64 readData(char *, qint64) override { return 0; }
    qint64 writeData(const char *, qint64) override { return -1; }
};

}  // namespace

class TestImage : public QObject {
    Q_OBJECT

private slots:
    void readers_data();
    void readers();
    void positionBehindField_data();
    void positionBehindField();
    void labVersion_data();
    void labVersion();
    void classify_data();
    void classify();
    void unreadableDevices_data();
    void unreadableDevices();
};

void TestImage::readers_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("version");
    QTest::addColumn<QString>("model");
    QTest::addColumn<QString>("level");
    QTest::addColumn<QString>("tag");

    const QString nul1(1, QChar(0));
    const QByteArray full = image(idBlock("KD7", '0', "LABT"));
    QTest::newRow("full") << full << QStringLiteral("V1.02.03") << QStringLiteral("KD7")
                          << QStringLiteral("0") << QStringLiteral("LABT");
    QTest::newRow("exactly 1040 bytes") << full.left(1040) << QStringLiteral("V1.02.03")
                                        << QStringLiteral("KD7") << QStringLiteral("0")
                                        << QStringLiteral("LABT");
    QTest::newRow("empty file") << QByteArray() << QString(8, QChar(0)) << QString(3, QChar(0))
                                << nul1 << QString(4, QChar(0));
    QTest::newRow("1 byte") << full.left(1) << QString(8, QChar(0)) << QString(3, QChar(0))
                            << nul1 << QString(4, QChar(0));
    QTest::newRow("1031 bytes") << full.left(1031) << QStringLiteral("V1.02.0") + QChar(0)
                                << QString(3, QChar(0)) << nul1 << QString(4, QChar(0));
    QTest::newRow("1035 bytes") << full.left(1035) << QStringLiteral("V1.02.03")
                                << QStringLiteral("KD7") << nul1 << QString(4, QChar(0));
    QTest::newRow("1036 bytes") << full.left(1036) << QStringLiteral("V1.02.03")
                                << QStringLiteral("KD7") << QStringLiteral("0")
                                << QString(4, QChar(0));
    QTest::newRow("1039 bytes") << full.left(1039) << QStringLiteral("V1.02.03")
                                << QStringLiteral("KD7") << QStringLiteral("0")
                                << QStringLiteral("LAB") + QChar(0);

    QByteArray raw(16, '\0');
    raw[1] = char(0xFF);
    raw[9] = char(0xFF);
    raw[11] = char(0xFF);
    raw[15] = char(0xFF);
    const QString nulFF = QString(QChar(0)) + QChar(0xFF);
    QTest::newRow("NUL and FF bytes")
        << image(raw) << nulFF + QString(6, QChar(0)) << nulFF + QChar(0)
        << QString(QChar(0xFF)) << QString(3, QChar(0)) + QChar(0xFF);
}

void TestImage::readers()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, version);
    QFETCH(QString, model);
    QFETCH(QString, level);
    QFETCH(QString, tag);

    QBuffer buffer(&bytes);
    QVERIFY(buffer.open(QIODevice::ReadOnly));
    // Read out of order: each reader must find its own field.
    QCOMPARE(funFileTag(buffer), tag);
    QCOMPARE(funFileVersion(buffer), version);
    QCOMPARE(funFileBootVersion(buffer), level);
    QCOMPARE(funFileModel(buffer), model);
}

void TestImage::positionBehindField_data()
{
    QTest::addColumn<int>("field");
    QTest::addColumn<int>("size");
    QTest::addColumn<qint64>("startPos");
    QTest::addColumn<qint64>("endPos");

    const int sizes[] = {2048, 1037, 0};
    const qint64 starts[] = {0, 1030, 2048};
    const char *names[] = {"version", "model", "level", "tag"};
    for (int field = Version; field <= Tag; ++field) {
        const FieldSpec s = fieldAt(field);
        for (int size : sizes) {
            for (qint64 start : starts) {
                if (start > size)
                    continue;
                // A file cut short leaves the position at its end.
                const qint64 end = qMin<qint64>(s.offset + s.length, size);
                QTest::addRow("%s, %d bytes, from %lld", names[field], size, start)
                    << field << size << start << end;
            }
        }
    }
}

void TestImage::positionBehindField()
{
    QFETCH(int, field);
    QFETCH(int, size);
    QFETCH(qint64, startPos);
    QFETCH(qint64, endPos);

    QByteArray bytes = image(idBlock("KD7", '0', "LABT"), size);
    const QByteArray original = bytes;
    const FieldSpec s = fieldAt(field);
    const QString expected = latin1(bytes.mid(s.offset, s.length))
                             + QString(s.length - bytes.mid(s.offset, s.length).size(), QChar(0));

    // Read-write: a reader seeking past the end would grow the buffer.
    QBuffer buffer(&bytes);
    QVERIFY(buffer.open(QIODevice::ReadWrite));
    QVERIFY(buffer.seek(startPos));
    QCOMPARE(s.read(buffer), expected);
    QCOMPARE(buffer.pos(), endPos);
    QCOMPARE(bytes, original);
}

void TestImage::labVersion_data()
{
    QTest::addColumn<QByteArray>("tag");
    QTest::addColumn<bool>("lab");
    QTest::newRow("LABT") << QByteArray("LABT") << true;
    QTest::newRow("lower case") << QByteArray("labt") << false;
    QTest::newRow("LAB blank") << QByteArray("LAB ") << false;
    QTest::newRow("LAB NUL") << QByteArray("LAB\0", 4) << false;
    QTest::newRow("XLAB") << QByteArray("XLAB") << false;
    QTest::newRow("release") << QByteArray("R001") << false;
}

void TestImage::labVersion()
{
    QFETCH(QByteArray, tag);
    QFETCH(bool, lab);
    QByteArray bytes = image(idBlock("KD7", '0', tag));
    QBuffer buffer(&bytes);
    QVERIFY(buffer.open(QIODevice::ReadOnly));
    QCOMPARE(funIsLabVersion(buffer), lab);
}

void TestImage::classify_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("progMode");
    QTest::addColumn<ImageVerdict>("verdict");

    const QByteArray release = image(idBlock("KD7", '0', "R001"));
    const QByteArray lab = image(idBlock("KD7", '0', "LABT"));
    for (bool prog : {false, true}) {
        const char *mode = prog ? "prog" : "normal";
        QTest::addRow("release, %s", mode) << release << prog << ImageVerdict::Accepted;
        QTest::addRow("lab, %s", mode)
            << lab << prog << (prog ? ImageVerdict::AcceptedLab : ImageVerdict::LabRefused);
        QTest::addRow("lower-case lab tag, %s", mode)
            << image(idBlock("KD7", '0', "labt")) << prog << ImageVerdict::Accepted;
        QTest::addRow("LAB blank, %s", mode)
            << image(idBlock("KD7", '0', "LAB ")) << prog << ImageVerdict::Accepted;
        QTest::addRow("lower-case model, %s", mode)
            << image(idBlock("kd7", '0', "R001")) << prog << ImageVerdict::WrongModel;
        QTest::addRow("KD8, %s", mode)
            << image(idBlock("KD8", '0', "R001")) << prog << ImageVerdict::WrongModel;
        // The model is checked before the level and the tag.
        QTest::addRow("KD8 lab with high level, %s", mode)
            << image(idBlock("KD8", '5', "LABT")) << prog << ImageVerdict::WrongModel;
        QTest::addRow("high level lab, %s", mode)
            << image(idBlock("KD7", '1', "LABT")) << prog << ImageVerdict::WrongBootLevel;
    }

    const struct {
        const char *name;
        uchar level;
        ImageVerdict verdict;
    } levels[] = {
        {"level 0x30", 0x30, ImageVerdict::Accepted},
        {"level 0x00", 0x00, ImageVerdict::Accepted},
        {"level 0x20", 0x20, ImageVerdict::Accepted},
        {"level 0x2F", 0x2F, ImageVerdict::Accepted},
        {"level 0x31", 0x31, ImageVerdict::WrongBootLevel},
        {"level 0x41", 0x41, ImageVerdict::WrongBootLevel},
        // Signed chars would make these negative and let them through.
        {"level 0x80", 0x80, ImageVerdict::WrongBootLevel},
        {"level 0xFF", 0xFF, ImageVerdict::WrongBootLevel},
    };
    for (const auto &l : levels)
        QTest::newRow(l.name) << image(idBlock("KD7", char(l.level), "R001")) << false
                              << l.verdict;

    for (int size : {0, 1031, 1034})
        QTest::addRow("%d bytes", size) << lab.left(size) << true << ImageVerdict::WrongModel;
    // A missing level reads as NUL, and a cut tag is never LABT.
    for (int size : {1035, 1036, 1039})
        QTest::addRow("%d bytes", size) << lab.left(size) << false << ImageVerdict::Accepted;
    QTest::newRow("1040 bytes lab") << lab.left(1040) << false << ImageVerdict::LabRefused;
}

void TestImage::classify()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, progMode);
    QFETCH(ImageVerdict, verdict);
    QBuffer buffer(&bytes);
    QVERIFY(buffer.open(QIODevice::ReadOnly));
    QCOMPARE(classifyImage(buffer, progMode), verdict);
}

void TestImage::unreadableDevices_data()
{
    QTest::addColumn<int>("device");
    QTest::addColumn<int>("field");
    const char *names[] = {"version", "model", "level", "tag"};
    const char *devices[] = {"closed", "write-only", "failing read", "sequential"};
    for (int d = 0; d < 4; ++d)
        for (int f = Version; f <= Tag; ++f)
            QTest::addRow("%s, %s", devices[d], names[f]) << d << f;
}

void TestImage::unreadableDevices()
{
    QFETCH(int, device);
    QFETCH(int, field);
    QByteArray bytes = image(idBlock("KD7", '0', "LABT"));
    QBuffer buffer(&bytes);
    BrokenDevice broken;
    PipeDevice pipe;
    QIODevice *dev = &buffer;
    switch (device) {
    case 0:
        break;
    case 1:
        QVERIFY(buffer.open(QIODevice::WriteOnly | QIODevice::Append));
        break;
    case 2:
        QVERIFY(broken.open(QIODevice::ReadOnly | QIODevice::Unbuffered));
        dev = &broken;
        break;
    default:
        QVERIFY(pipe.open(QIODevice::ReadOnly));
        dev = &pipe;
        break;
    }
    QVERIFY_THROWS_EXCEPTION(ImageReadError, fieldAt(field).read(*dev));
    if (field == Model)
        QVERIFY_THROWS_EXCEPTION(ImageReadError, classifyImage(*dev, true));
}

QTEST_APPLESS_MAIN(TestImage)
#include "test_image.moc"
