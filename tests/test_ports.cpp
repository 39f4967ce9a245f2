// What the programs say about ports: the port list, the group hint for a device
// this user may not open, and the start-up note naming the configuration and link.

#include <QtTest>
#include <unistd.h>

#include "app/core/StartUp.h"
#include "link/Link.h"
#include "link/PortDiscovery.h"
#include "link/PortLinks.h"
#include "support/RawPty.h"

class TestPorts : public QObject {
    Q_OBJECT

private slots:
    // A link's device found again by its own name makes no second line; each
    // dangling link is one line that says so.
    void portList()
    {
        QList<DiscoveredPort> ports;  // name, device ("" for a dangling link), target
        for (const auto &[name, device, target] : {std::tuple{"com1", "/dev/ttyS0", "/dev/ttyS0"}, {"/dev/ttyS0", "/dev/ttyS0", ""},
                                                   {"com2", "", "/dev/ttyUSB7"}, {"com4", "", "/srv/gone"}}) {
            DiscoveredPort p;
            p.name = name; p.device = device; p.target = target;
            addDiscoveredPort(ports, p);
        }
        QStringList shown;
        for (const DiscoveredPort &p : ports)
            shown << portListLine(p);
        QCOMPARE(shown, (QStringList{"com1 -> /dev/ttyS0", "com2 -> /dev/ttyUSB7 (dangling link: /dev/ttyUSB7 does not exist)",
                                     "com4 -> /srv/gone (dangling link: /srv/gone does not exist)"}));
    }

    // One adapter is one line, whichever names lead to it: its device, its
    // by-id name, and the comN link --set-port made to that name.
    void discoveryListsAnAdapterOnce()
    {
        RawPty adapter;
        QTemporaryDir tmp;
        const QString dir = QDir(tmp.path()).canonicalPath();
        const QString byId = dir + "/by-id/usb-FTDI_FT232R_A1-if00-port0";
        QVERIFY(QDir(dir).mkpath("by-id") && QDir(dir).mkpath("dev"));
        QVERIFY(QFile::link(adapter.slavePath(), dir + "/dev/ttyUSB0") && QFile::link("../dev/ttyUSB0", byId)
                && QFile::link(byId, dir + "/com3"));
        QStringList shown;  // the lines that name it
        for (const DiscoveredPort &p : discoverPorts({dir}, {dir + "/by-id", dir + "/dev"}))
            if (const QString line = portListLine(p);
                line.contains(adapter.slavePath()) || line.contains(dir) || line.contains("usb-FTDI"))
                shown << line;
        QCOMPARE(shown, QStringList{adapter.slavePath().prepend("com3 -> ")
                                    + "  also usb-FTDI_FT232R_A1-if00-port0, " + dir + "/dev/ttyUSB0"});
    }

    // A held port follows its changed comN link: re-pointed, to the new device;
    // removed or dangling, the port is lost, never taken as /dev/ttyS<N-1>.
    void heldPortFollowsItsLink_data()
    {
        QTest::addColumn<QString>("change");
        for (const char *change : {"removed", "dangling", "re-pointed"})
            QTest::newRow(change) << QString::fromLatin1(change);
    }
    void heldPortFollowsItsLink()
    {
        QFETCH(QString, change);
        RawPty first, second;
        QTemporaryDir dir;
        const QString link = dir.filePath("com1");
        QVERIFY(QFile::link(first.slavePath(), link));
        CommPort port;
        QVERIFY(port.setPort({1, {}, {dir.path()}}) && port.setSettings("115200,N,8,1"));
        port.holdDevice(true);
        QVERIFY(port.open());
        port.close();
        QVERIFY(QFile::remove(link));
        if (change != "removed")
            QVERIFY(QFile::link(change == "dangling" ? dir.filePath("gone") : second.slavePath(), link));
        const bool reopened = port.open();
        port.close();
        QCOMPARE(reopened, change == "re-pointed");
        QCOMPARE(port.deviceGone(), !reopened);
        QVERIFY2(port.deviceName() != "/dev/ttyS0", qPrintable(port.deviceName()));
        if (reopened)
            QCOMPARE(port.deviceName(), second.slavePath());
    }

    // The hint fits the device's group and the user's groups.
    void permissionAdvice_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("group");
        QTest::addColumn<QString>("facts");  // g: group may use it, n: in it now, l: listed in it
        QTest::addColumn<QString>("says");
        QTest::addColumn<QString>("never");
        QTest::newRow("root only") << "crw-------" << "root" << "" << "owner root only" << "usermod";
        QTest::newRow("group root") << "crw-rw----" << "root" << "ln" << "run the program as root" << "usermod";
        QTest::newRow("not in the group") << "crw-rw----" << "dialout" << "g" << "usermod -aG dialout tech" << "newgrp";
        QTest::newRow("another group") << "crw-rw----" << "uucp" << "g" << "usermod -aG uucp tech" << "dialout";
        QTest::newRow("joined since the login") << "crw-rw----" << "dialout" << "gl"
                                                << "log out and in again (or run newgrp dialout" << "usermod";
        QTest::newRow("in the group") << "crw-rw----" << "dialout" << "gnl" << "something else refuses it" << "usermod";
        QTest::newRow("no such device") << "" << "" << "" << "" << "dialout";
    }
    void permissionAdvice()
    {
        QFETCH(QString, mode); QFETCH(QString, group); QFETCH(QString, facts); QFETCH(QString, says);
        QFETCH(QString, never);
        DeviceAccess a{"/dev/ttyUSB0", mode, "root", group, "tech", facts.contains('g'), facts.contains('n'),
                       facts.contains('l')};
        const QString hint = ::permissionAdvice(a);
        QVERIFY2(hint.contains(says) && !hint.contains(never), qPrintable(hint));
        QCOMPARE(hint.isEmpty(), mode.isEmpty());
    }

    // The facts come from the file's mode and group and this process's groups.
    void deviceAccessFacts()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath("dev");
        QVERIFY(QFile(file).open(QIODevice::WriteOnly));
        QVERIFY(QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::WriteGroup));
        DeviceAccess a = deviceAccess(file);
        QCOMPARE(a.mode, QStringLiteral("-rw-rw----"));
        QVERIFY(a.inGroupNow);  // a new file takes this process's group
        QCOMPARE(a.groupMayUse, ::getegid() != 0);
        QVERIFY(QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
        a = deviceAccess(file);
        QCOMPARE(a.mode, QStringLiteral("-rw-r-----"));
        QVERIFY(!a.groupMayUse);
        QVERIFY(deviceAccess(dir.filePath("none")).mode.isEmpty());
    }

    // A window that cannot open its port names the file and the link it used.
    void startUpNote_data()
    {
        QTest::addColumn<QString>("link");  // what com200 points to, "" for none
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("no link") << "" << QStringList{
            "cannot start: no com200 link found in @dir, and the numbered fallback device /dev/ttyS199 does not exist either",
            "configuration: @dir/BootLoaderTorvexII.ini\n", "port 200: no com200 link in @dir; the numbered device /dev/ttyS199 was used\n"};
        QTest::newRow("dangling link") << "@dir/gone" << QStringList{
            "cannot start: @dir/com200 is a dangling link: its target @dir/gone does not exist",
            "port 200: link @dir/com200 -> @dir/gone\n"};
        QTest::newRow("a file for a device") << "@dir/BootLoaderTorvexII.ini" << QStringList{
            "cannot start: @dir/BootLoaderTorvexII.ini: ", "port 200: link @dir/com200 -> @dir/BootLoaderTorvexII.ini\n"};
    }
    void startUpNote()
    {
        QFETCH(QString, link); QFETCH(QStringList, lines);
        QTemporaryDir tmp;
        const QString dir = QDir(tmp.path()).canonicalPath();
        QFile ini(dir + "/BootLoaderTorvexII.ini");
        QVERIFY(ini.open(QIODevice::WriteOnly) && ini.write("[SERIAL]\r\nCommNum=200\r\n") > 0 && ini.flush());
        if (!link.isEmpty())
            QVERIFY(QFile::link(QString(link).replace("@dir", dir), dir + "/com200"));
        Link l;
        const StartUpResult r = runStartUp(l, readConfiguration(dir));
        QVERIFY(!r.ok);
        const QString note = startUpFailureNote(r);
        for (QString line : lines)
            QVERIFY2(note.contains(line.replace("@dir", dir)), qPrintable(note));
    }

    void shellWords()
    {
        for (const auto &[text, quoted] : {std::pair{"/dev/by-id/usb-FTDI_A1-if00:0", "/dev/by-id/usb-FTDI_A1-if00:0"},
                                           {"/opt/my tools/com3", "'/opt/my tools/com3'"}, {"it's", "'it'\\''s'"}})
            QCOMPARE(shellQuoted(text), QString::fromLatin1(quoted));
    }
};

QTEST_GUILESS_MAIN(TestPorts)
#include "test_ports.moc"
