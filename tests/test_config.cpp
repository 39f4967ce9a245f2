// The configuration file: the INI reading rules, the two values read from it,
// and what reading it once tells every front end about the file and its folder.

#include <QtTest>

#include "app/core/ArchivoIni.h"
#include "app/core/Configuration.h"
#include "support/SimRig.h"

class TestConfig : public QObject {
    Q_OBJECT

private slots:
    void values()  // text cleaning, numbers, the programming mode
    {
        QCOMPARE(funCleanText(QStringLiteral("\r\na\rb\nc\r\n") + QChar(0) + QChar(2) + QChar(3) + u'\t'),
                 QStringLiteral("abc") + QChar(3) + u'\t');
        const QLocale saved;
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));  // must not matter
        for (const auto &[text, value] : {std::pair{"abc", 0.0}, {" 3abc", 3.0}, {"\t1\t2\n3", 123.0}, {"1\r2", 1.0},
                                          {" - 5", -5.0}, {"+-3", 0.0}, {"1.2.3", 1.2}, {"-.5", -0.5}, {"1e3", 1.0},
                                          {"&H10", 0.0}, {"1,5", 1.0}})
            QVERIFY2(readLeadingNumber(QString::fromLatin1(text)) == value, text);
        QLocale::setDefault(saved);
        QCOMPARE(readLeadingNumber(QString(400, u'9')), qInf());
        // Port numbers round half to even; -1 for refused.
        for (const auto &[text, port] : {std::pair{"2.5", 2}, {"3.5", 4}, {"255.4", 255}, {"255.5", -1}, {"256", -1},
                                         {"-0.5", 0}, {"-0.6", -1}, {"COM3", 0}, {"1\r2", 12}}) {
            const auto got = portNumberFromText(QString::fromLatin1(text));
            QVERIFY2((got ? int(*got) : -1) == port, text);
        }
        QVERIFY(!portNumberFromText(QString(400, u'9')));
        for (const char *on : {"1", " 1", "1.0", "01", "1x", "+1", "\n1"})
            QVERIFY2(progModeFromText(QString::fromLatin1(on)), on);
        for (const char *off : {"0", "2", "-1", "1.5", "0.9", "11", "1 1", "yes", ""})
            QVERIFY2(!progModeFromText(QString::fromLatin1(off)), off);
    }

    void readIni_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("key");  // in [Comm]
        QTest::addColumn<QString>("expected");
        const QString n = QStringLiteral("CommNum");
        QTest::newRow("key of another section") << QByteArray("[Other]\nCommNum=3\n[Comm]\nX=1\n") << n << "";
        QTest::newRow("key before any section") << QByteArray("CommNum=3\n[Comm]\n") << n << "";
        QTest::newRow("case-insensitive names") << QByteArray("[cOMM]\nCOMMNUM=3\n") << n << "3";
        QTest::newRow("non-ASCII letters not folded") << QByteArray("[Comm]\n\xC4=3\n") << QString(QChar(0xE4)) << "";
        QTest::newRow("first key wins") << QByteArray("[Comm]\nCommNum=3\ncommnum=4\n") << n << "3";
        QTest::newRow("only the first of two sections") << QByteArray("[Comm]\nX=1\n[Comm]\nCommNum=4\n") << n << "";
        QTest::newRow("comment lines") << QByteArray("[Comm]\n;CommNum=9\n  ; CommNum=8\nCommNum=3\n") << n << "3";
        QTest::newRow("blanks and tabs around") << QByteArray("  [ Comm ] note\n\tCommNum \t=\t3\t\n") << n << "3";
        QTest::newRow("equals, comma, backslash kept") << QByteArray("[Comm]\nName=a=b,c\\n\n") << "Name" << "a=b,c\\n";
        QTest::newRow("key without equals shadows") << QByteArray("[Comm]\nCommNum\nCommNum=3\n") << n << "";
        QTest::newRow("quotes") << QByteArray("[Comm]\nCommNum='3'\n") << n << "3";
        QTest::newRow("blanks inside quotes") << QByteArray("[Comm]\nCommNum= \" 3 \" \n") << n << "3 ";
        QTest::newRow("unmatched quotes kept") << QByteArray("[Comm]\nCommNum=\"3'\n") << n << "\"3'";
        QTest::newRow("cut to 254, then blanks removed")
            << "[Comm]\nName=\"" + QByteArray(10, ' ') + QByteArray(290, 'x') + "\"\n" << "Name" << QString(244, u'x');
        QTest::newRow("CR and mixed line ends") << QByteArray("[Comm]\rX=1\n\r\r\nCommNum=3\rY=2") << n << "3";
        QTest::newRow("binary bytes") << QByteArray("[Comm]\nName=a") + '\0' + "b\x02" "c\xFF\n" << "Name"
                                      << QStringLiteral("abc") + QChar(0xFF);
    }
    void readIni()
    {
        QFETCH(QByteArray, content); QFETCH(QString, key); QFETCH(QString, expected);
        QCOMPARE(readIniValue(content, QStringLiteral("Comm"), key), expected);
    }

    // The file itself: read anew at every call; a directory reads as empty.
    void readIniFile()
    {
        SimRig rig;
        const QString name = QString::fromLatin1(IniFileName);
        for (const char *n : {"3", "7"}) {
            rig.writeIni(QByteArray("[Comm]\nCommNum=") + n);
            QCOMPARE(funReadIni(rig.exeDir(), name, "Comm", "CommNum"), QString::fromLatin1(n));
        }
        QVERIFY(QFile::remove(rig.exeDir() + '/' + name) && QDir(rig.exeDir()).mkdir(name));
        QCOMPARE(funReadIni(rig.exeDir(), name, "Comm", "CommNum"), QString());
    }

    void readConfiguration_data()
    {
        QTest::addColumn<QString>("place");    // file, link (to a file elsewhere), none, or inexact (folder name)
        QTest::addColumn<QString>("note");     // @dir: the folder read
        QTest::addColumn<QString>("commNum");
        QTest::addColumn<bool>("progMode");
        QTest::newRow("a file") << "file" << "@dir/BootLoaderTorvexII.ini" << "4" << true;
        QTest::newRow("a link, said with its target") << "link"
            << "@dir/BootLoaderTorvexII.ini -> @dir/etc/BootLoaderTorvexII.ini" << "4" << true;
        QTest::newRow("no file") << "none" << "@dir/BootLoaderTorvexII.ini (missing)" << "" << false;
        QTest::newRow("a folder name that is not exact") << "inexact" << "" << "" << false;
    }
    void readConfiguration()
    {
        QFETCH(QString, place); QFETCH(QString, note); QFETCH(QString, commNum); QFETCH(bool, progMode);
        const QByteArray content("[SERIAL]\r\nCommNum=4\r\n[MODE]\r\nModeProg=1\r\n");
        QTemporaryDir tmp;
        const QString dir = QDir(tmp.path()).canonicalPath(), name = QString::fromLatin1(IniFileName);
        QDir(dir).mkdir("etc");
        QFile file(dir + (place == "link" ? "/etc/" : "/") + name);
        QVERIFY(place == "none" || (file.open(QIODevice::WriteOnly) && file.write(content) > 0 && file.flush()));
        if (place == "link")
            QVERIFY(QFile::link(file.fileName(), dir + "/" + name));
        const Configuration c = ::readConfiguration(place == "inexact" ? dir + QChar(QChar::ReplacementCharacter) : dir);
        QCOMPARE(c.folderExact, place != "inexact");
        QCOMPARE(c.fileFound, place == "file" || place == "link");
        QCOMPARE(c.fileNote, QString(note).replace("@dir", dir));
        QCOMPARE(c.commNum, commNum);
        QCOMPARE(c.progMode, progMode);
    }
};

QTEST_GUILESS_MAIN(TestConfig)
#include "test_config.moc"
