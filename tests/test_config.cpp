#include "app/core/ArchivoIni.h"

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

Q_DECLARE_METATYPE(std::optional<int>)

namespace {

QString withChar(const char *before, int c, const char *after = "")
{
    return QString::fromLatin1(before) + QChar(c) + QString::fromLatin1(after);
}

QByteArray longValueFile(int leadingSpaces, int length)
{
    return "[Comm]\nName=\"" + QByteArray(leadingSpaces, ' ')
           + QByteArray(length - leadingSpaces, 'x') + "\"\n";
}

bool writeFile(const QString &path, const QByteArray &content)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(content) == content.size();
}

}  // namespace

class TestConfig : public QObject {
    Q_OBJECT

private slots:
    void cleanText_data();
    void cleanText();
    void leadingNumber_data();
    void leadingNumber();
    void leadingNumberIgnoresLocale();
    void portNumber_data();
    void portNumber();
    void progMode_data();
    void progMode();
    void readIni_data();
    void readIni();
    void readIniReadsAnew();
};

void TestConfig::cleanText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("plain") << QStringLiteral("COM3") << QStringLiteral("COM3");
    QTest::newRow("CR LF anywhere") << QStringLiteral("\r\na\rb\nc\r\n") << QStringLiteral("abc");
    QTest::newRow("NUL") << withChar("a", 0, "b") << QStringLiteral("ab");
    QTest::newRow("STX") << withChar("", 2, "1") << QStringLiteral("1");
    QTest::newRow("only removable") << withChar("\r\n", 0) + QChar(2) << QString();
    QTest::newRow("other controls kept") << withChar("\t", 3, " ") << withChar("\t", 3, " ");
    QTest::newRow("latin-1 kept") << withChar("a", 0xFF) << withChar("a", 0xFF);
}

void TestConfig::cleanText()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(funCleanText(text), expected);
}

void TestConfig::leadingNumber_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("expected");
    QTest::newRow("empty") << QString() << 0.0;
    QTest::newRow("letters") << QStringLiteral("abc") << 0.0;
    QTest::newRow("integer") << QStringLiteral("3") << 3.0;
    QTest::newRow("blanks around") << QStringLiteral(" 3 ") << 3.0;
    QTest::newRow("trailing letters") << QStringLiteral("3abc") << 3.0;
    QTest::newRow("blank between digits") << QStringLiteral("1 2") << 12.0;
    QTest::newRow("tab and LF between digits") << QStringLiteral("\t1\t2\n3") << 123.0;
    QTest::newRow("CR stops") << QStringLiteral("1\r2") << 1.0;
    QTest::newRow("CR first") << QStringLiteral("\r3") << 0.0;
    QTest::newRow("minus") << QStringLiteral("-5") << -5.0;
    QTest::newRow("plus") << QStringLiteral("+5") << 5.0;
    QTest::newRow("blank after sign") << QStringLiteral(" - 5") << -5.0;
    QTest::newRow("two signs") << QStringLiteral("--3") << 0.0;
    QTest::newRow("mixed signs") << QStringLiteral("+-3") << 0.0;
    QTest::newRow("sign after digits stops") << QStringLiteral("3-4") << 3.0;
    QTest::newRow("sign alone") << QStringLiteral("-") << 0.0;
    QTest::newRow("point alone") << QStringLiteral(".") << 0.0;
    QTest::newRow("second point stops") << QStringLiteral("1.2.3") << 1.2;
    QTest::newRow("leading point") << QStringLiteral(".5") << 0.5;
    QTest::newRow("negative leading point") << QStringLiteral("-.5") << -0.5;
    QTest::newRow("trailing point") << QStringLiteral("5.") << 5.0;
    QTest::newRow("leading zeros") << QStringLiteral("00012.50") << 12.5;
    QTest::newRow("no exponent") << QStringLiteral("1e3") << 1.0;
    QTest::newRow("no hex prefix") << QStringLiteral("&H10") << 0.0;
    QTest::newRow("no C hex") << QStringLiteral("0x10") << 0.0;
    QTest::newRow("comma is no point") << QStringLiteral("1,5") << 1.0;
    QTest::newRow("non-ASCII digit") << QString(QChar(0x0661)) << 0.0;
    QTest::newRow("huge") << QString(400, u'9') << qInf();
    QTest::newRow("negative huge") << QChar(u'-') + QString(400, u'9') << -qInf();
    QTest::newRow("tiny") << QStringLiteral("0.") + QString(400, u'0') + u'1' << 0.0;
    QTest::newRow("many digits") << QStringLiteral("0000000000000000000000000000000001") << 1.0;
}

void TestConfig::leadingNumber()
{
    QFETCH(QString, text);
    QFETCH(double, expected);
    QCOMPARE(readLeadingNumber(text), expected);
}

void TestConfig::leadingNumberIgnoresLocale()
{
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const double point = readLeadingNumber(QStringLiteral("2.5"));
    const double comma = readLeadingNumber(QStringLiteral("2,5"));
    QLocale::setDefault(saved);
    QCOMPARE(point, 2.5);
    QCOMPARE(comma, 2.0);
}

void TestConfig::portNumber_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<std::optional<int>>("expected");
    const std::optional<int> none;
    QTest::newRow("3") << QStringLiteral("3") << std::optional(3);
    QTest::newRow("half down to even") << QStringLiteral("2.5") << std::optional(2);
    QTest::newRow("half up to even") << QStringLiteral("3.5") << std::optional(4);
    QTest::newRow("0.5 to 0") << QStringLiteral("0.5") << std::optional(0);
    QTest::newRow("1.5 to 2") << QStringLiteral("1.5") << std::optional(2);
    QTest::newRow("below half") << QStringLiteral("4.49") << std::optional(4);
    QTest::newRow("above half") << QStringLiteral("4.51") << std::optional(5);
    QTest::newRow("255") << QStringLiteral("255") << std::optional(255);
    QTest::newRow("255.4") << QStringLiteral("255.4") << std::optional(255);
    QTest::newRow("254.5 to even") << QStringLiteral("254.5") << std::optional(254);
    QTest::newRow("255.5 rounds to 256") << QStringLiteral("255.5") << none;
    QTest::newRow("256") << QStringLiteral("256") << none;
    QTest::newRow("-1") << QStringLiteral("-1") << none;
    QTest::newRow("-0.4") << QStringLiteral("-0.4") << std::optional(0);
    QTest::newRow("-0.5 to even zero") << QStringLiteral("-0.5") << std::optional(0);
    QTest::newRow("-0.6") << QStringLiteral("-0.6") << none;
    QTest::newRow("letters") << QStringLiteral("abc") << std::optional(0);
    QTest::newRow("empty") << QString() << std::optional(0);
    QTest::newRow("blanks") << QStringLiteral(" 3 ") << std::optional(3);
    QTest::newRow("trailing letters") << QStringLiteral("3abc") << std::optional(3);
    QTest::newRow("STX before") << withChar("", 2, "3") << std::optional(3);
    QTest::newRow("CR inside dropped") << QStringLiteral("1\r2") << std::optional(12);
    QTest::newRow("overflow") << QString(400, u'9') << none;
}

void TestConfig::portNumber()
{
    QFETCH(QString, text);
    QFETCH(std::optional<int>, expected);
    const auto got = portNumberFromText(text);
    QCOMPARE(got.has_value(), expected.has_value());
    if (expected)
        QCOMPARE(int(*got), *expected);
}

void TestConfig::progMode_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("on");
    QTest::newRow("1") << QStringLiteral("1") << true;
    QTest::newRow("blank 1") << QStringLiteral(" 1") << true;
    QTest::newRow("1.0") << QStringLiteral("1.0") << true;
    QTest::newRow("01") << QStringLiteral("01") << true;
    QTest::newRow("1x") << QStringLiteral("1x") << true;
    QTest::newRow("+1") << QStringLiteral("+1") << true;
    QTest::newRow("1 STX") << withChar("1", 2) << true;
    QTest::newRow("STX 1") << withChar("", 2, "1") << true;
    QTest::newRow("LF 1 NUL") << withChar("\n1", 0) << true;
    QTest::newRow("0") << QStringLiteral("0") << false;
    QTest::newRow("2") << QStringLiteral("2") << false;
    QTest::newRow("-1") << QStringLiteral("-1") << false;
    QTest::newRow("1.5") << QStringLiteral("1.5") << false;
    QTest::newRow("0.9") << QStringLiteral("0.9") << false;
    QTest::newRow("11") << QStringLiteral("11") << false;
    QTest::newRow("1 1") << QStringLiteral("1 1") << false;
    QTest::newRow("yes") << QStringLiteral("yes") << false;
    QTest::newRow("true") << QStringLiteral("true") << false;
    QTest::newRow("empty") << QString() << false;
}

void TestConfig::progMode()
{
    QFETCH(QString, text);
    QFETCH(bool, on);
    QCOMPARE(progModeFromText(text), on);
}

enum class IniKind { File, Missing, Directory };
Q_DECLARE_METATYPE(IniKind)

void TestConfig::readIni_data()
{
    QTest::addColumn<IniKind>("kind");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("expected");

    const QString comm = QStringLiteral("Comm");
    const QString num = QStringLiteral("CommNum");
    const IniKind file = IniKind::File;

    QTest::newRow("missing file") << IniKind::Missing << QByteArray() << comm << num << QString();
    QTest::newRow("directory as file") << IniKind::Directory << QByteArray() << comm << num
                                       << QString();
    QTest::newRow("empty file") << file << QByteArray() << comm << num << QString();
    QTest::newRow("plain") << file << QByteArray("[Comm]\nCommNum=3\n") << comm << num
                           << QStringLiteral("3");
    QTest::newRow("missing section") << file << QByteArray("[Other]\nCommNum=3\n") << comm
                                     << num << QString();
    QTest::newRow("missing key") << file << QByteArray("[Comm]\nProgMode=1\n") << comm << num
                                 << QString();
    QTest::newRow("key of another section") << file
                                            << QByteArray("[Other]\nCommNum=3\n[Comm]\nX=1\n")
                                            << comm << num << QString();
    QTest::newRow("key before any section") << file << QByteArray("CommNum=3\n[Comm]\n")
                                            << comm << num << QString();
    QTest::newRow("stops at next section") << file
                                           << QByteArray("[Comm]\nX=1\n[Next]\nCommNum=3\n")
                                           << comm << num << QString();
    QTest::newRow("case-insensitive names") << file << QByteArray("[cOMM]\nCOMMNUM=3\n") << comm
                                            << num << QStringLiteral("3");
    QTest::newRow("non-ASCII letters not folded")
        << file << QByteArray("[Comm]\n\xC4=3\n") << comm << withChar("", 0xE4)
        << QString();
    QTest::newRow("first key wins") << file << QByteArray("[Comm]\nCommNum=3\ncommnum=4\n")
                                    << comm << num << QStringLiteral("3");
    QTest::newRow("only first of two sections")
        << file << QByteArray("[Comm]\nX=1\n[Comm]\nCommNum=4\n") << comm << num << QString();
    QTest::newRow("comment lines") << file
                                   << QByteArray("[Comm]\n;CommNum=9\n  ; CommNum=8\nCommNum=3\n")
                                   << comm << num << QStringLiteral("3");
    QTest::newRow("blank lines") << file << QByteArray("\n  \n[Comm]\n\t\n\nCommNum=3\n") << comm
                                 << num << QStringLiteral("3");
    QTest::newRow("blanks around value") << file << QByteArray("[Comm]\nCommNum= 3 \n") << comm
                                         << num << QStringLiteral("3");
    QTest::newRow("tabs around key and value") << file
                                               << QByteArray("[Comm]\n\tCommNum \t=\t3\t\n")
                                               << comm << num << QStringLiteral("3");
    QTest::newRow("blanks in section name") << file << QByteArray("  [ Comm ] note\nCommNum=3\n")
                                            << comm << num << QStringLiteral("3");
    QTest::newRow("blank inside value kept") << file << QByteArray("[Comm]\nName=a b\n") << comm
                                             << QStringLiteral("Name") << QStringLiteral("a b");
    QTest::newRow("equals in value") << file << QByteArray("[Comm]\nName=a=b\n") << comm
                                     << QStringLiteral("Name") << QStringLiteral("a=b");
    QTest::newRow("comma and backslash literal")
        << file << QByteArray("[Comm]\nName=a,b\\n\n") << comm << QStringLiteral("Name")
        << QStringLiteral("a,b\\n");
    QTest::newRow("empty value") << file << QByteArray("[Comm]\nCommNum=\n") << comm << num
                                 << QString();
    QTest::newRow("key without equals shadows")
        << file << QByteArray("[Comm]\nCommNum\nCommNum=3\n") << comm << num << QString();
    QTest::newRow("double quotes") << file << QByteArray("[Comm]\nCommNum=\"3\"\n") << comm
                                   << num << QStringLiteral("3");
    QTest::newRow("single quotes") << file << QByteArray("[Comm]\nCommNum='3'\n") << comm << num
                                   << QStringLiteral("3");
    // Inside quotes the blanks survive the system reader; only leading ones go afterwards.
    QTest::newRow("blanks inside quotes") << file << QByteArray("[Comm]\nCommNum= \" 3 \" \n")
                                          << comm << num << QStringLiteral("3 ");
    QTest::newRow("unmatched quotes kept") << file << QByteArray("[Comm]\nCommNum=\"3'\n")
                                           << comm << num << QStringLiteral("\"3'");
    QTest::newRow("lone quote kept") << file << QByteArray("[Comm]\nCommNum=\"\n") << comm
                                     << num << QStringLiteral("\"");
    QTest::newRow("300 characters cut to 254")
        << file << longValueFile(0, 300) << comm << QStringLiteral("Name")
        << QString(254, u'x');
    // Cut first, then leading blanks removed: 10 blanks + 244 x remain of the 254.
    QTest::newRow("cut before blanks removed")
        << file << longValueFile(10, 300) << comm << QStringLiteral("Name")
        << QString(244, u'x');
    QTest::newRow("CR line ends") << file << QByteArray("[Comm]\rX=1\rCommNum=3\rY=2") << comm
                                  << num << QStringLiteral("3");
    QTest::newRow("CR LF line ends") << file << QByteArray("[Comm]\r\nCommNum=3\r\nY=2\r\n")
                                     << comm << num << QStringLiteral("3");
    QTest::newRow("mixed line ends") << file << QByteArray("[Comm]\n\r\r\n\nCommNum=3\r") << comm
                                     << num << QStringLiteral("3");
    QTest::newRow("no final line break") << file << QByteArray("[Comm]\nCommNum=3") << comm
                                         << num << QStringLiteral("3");
    QTest::newRow("after a 100000-character line")
        << file << "[Comm]\nJunk=" + QByteArray(100000, 'y') + "\nCommNum=3\n" << comm << num
        << QStringLiteral("3");
    QTest::newRow("100000-character value")
        << file << "[Comm]\nJunk=" + QByteArray(100000, 'y') << comm << QStringLiteral("Junk")
        << QString(254, u'y');
    QTest::newRow("binary bytes") << file << QByteArray("[Comm]\nName=a") + '\0' + "b\x02" "c\xFF\n"
                                  << comm << QStringLiteral("Name")
                                  << QStringLiteral("abc") + QChar(0xFF);
}

void TestConfig::readIni()
{
    QFETCH(IniKind, kind);
    QFETCH(QByteArray, content);
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QString, expected);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QString::fromLatin1(IniFileName));
    if (kind == IniKind::File)
        QVERIFY(writeFile(path, content));
    else if (kind == IniKind::Directory)
        QVERIFY(QDir(dir.path()).mkdir(QString::fromLatin1(IniFileName)));

    QCOMPARE(funReadIni(dir.path(), QString::fromLatin1(IniFileName), section, key), expected);
}

void TestConfig::readIniReadsAnew()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString name = QString::fromLatin1(IniFileName);
    const QString path = dir.filePath(name);
    QVERIFY(writeFile(path, "[Comm]\nCommNum=3\n"));
    QCOMPARE(funReadIni(dir.path(), name, "Comm", "CommNum"), QStringLiteral("3"));
    QVERIFY(writeFile(path, "[Comm]\nCommNum=7\n"));
    QCOMPARE(funReadIni(dir.path(), name, "Comm", "CommNum"), QStringLiteral("7"));
    QVERIFY(QFile::remove(path));
    QCOMPARE(funReadIni(dir.path(), name, "Comm", "CommNum"), QString());
}

QTEST_GUILESS_MAIN(TestConfig)
#include "test_config.moc"
