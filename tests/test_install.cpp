// Port links of an installed layout: the configuration beside the programs is
// a link into another folder, and comN links are found in either place.
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "link/PortNaming.h"

class TestInstall : public QObject {
    Q_OBJECT
private slots:
    void linkLookup_data()
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

    void linkLookup()
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
        const QString expected = device.startsWith('/') ? device : QDir(root.canonicalPath()).filePath(device);
        QCOMPARE(portDeviceName(3, prog), expected);
    }
};

QTEST_GUILESS_MAIN(TestInstall)
#include "test_install.moc"
