// Start-up, layout and the update as a technician drives them through the window.

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSerialPort>
#include <QtTest>

#include "app/core/StartUp.h"
#include "app/gui/frmBootLoader.h"
#include "support/ModalAnswerer.h"
#include "support/SimRig.h"

namespace {

const QString FailureText = QStringLiteral(
    "No se puede abrir el port serie.\r\nComprobar fichero .ini o cerrar el programa que utilice el puerto.");

}  // namespace

class TestWindow : public QObject {
    Q_OBJECT

private slots:
    void startUpAgainstAWorkingPort_data()
    {
        QTest::addColumn<QByteArray>("modeProg");
        QTest::addColumn<bool>("progMode");
        QTest::newRow("mode 1") << QByteArray("1") << true;
        QTest::newRow("mode 0") << QByteArray("0") << false;
    }
    void startUpAgainstAWorkingPort()
    {
        QFETCH(QByteArray, modeProg);
        QFETCH(bool, progMode);
        SimRig rig;
        QVERIFY(rig.start({}, 3, modeProg.constData()));
        frmBootLoader w(rig.exeDir());
        QCOMPARE(w.windowTitle(), QStringLiteral("BootLoader Torvex-II"));
        QVERIFY(w.Form_Load());
        QCOMPARE(w.windowTitle(), QStringLiteral("Bootloader TorvexII. Ver.1.1.0"));
        QCOMPARE(w.selection.ProgMode, progMode);
        QVERIFY(!w.link.com1.isOpen());
        QCOMPARE(w.link.com1.openCount(), 1u);
        QCOMPARE(w.link.com1.commPort(), 3);
        QVERIFY(!w.cmdProgram->isEnabled());
        QVERIFY(w.cmdSelFile->isEnabled() && w.cmdExit->isEnabled());
        QVERIFY(w.lblLabVersion->isHidden());
        QCOMPARE(w.txtFile->text(), QString());
        QCOMPARE(w.txt1->toPlainText(), QString());
        QCOMPARE(w.lblFileSize->text(), QStringLiteral("----------"));
        QCOMPARE(w.lblFileVersion->text(), QStringLiteral("----------"));
        QCOMPARE(w.cursor().shape(), Qt::ArrowCursor);
    }

    void versionCaption_data()
    {
        QTest::addColumn<int>("major");
        QTest::addColumn<int>("minor");
        QTest::addColumn<int>("patch");
        QTest::addColumn<QString>("text");
        QTest::newRow("this release") << 1 << 1 << 0 << "1.1.0";
        QTest::newRow("no padding") << 2 << 10 << 3 << "2.10.3";
    }
    void versionCaption()
    {
        QFETCH(int, major);
        QFETCH(int, minor);
        QFETCH(int, patch);
        QFETCH(QString, text);
        QCOMPARE(versionText(major, minor, patch), text);
    }

    void startUpFailure_data()
    {
        QTest::addColumn<QByteArray>("ini");  // "-" for no file at all
        QTest::addColumn<bool>("holdPort");
        QTest::newRow("no configuration file") << QByteArray("-") << false;
        QTest::newRow("empty CommNum") << QByteArray("[SERIAL]\nCommNum=\n") << false;
        QTest::newRow("no SERIAL section") << QByteArray("[MODE]\nModeProg=1\n") << false;
        QTest::newRow("COM3 is not a number") << QByteArray("[SERIAL]\nCommNum=COM3\n") << false;
        QTest::newRow("256") << QByteArray("[SERIAL]\nCommNum=256\n") << false;
        QTest::newRow("255.5 rounds to 256") << QByteArray("[SERIAL]\nCommNum=255.5\n") << false;
        QTest::newRow("-1") << QByteArray("[SERIAL]\nCommNum=-1\n") << false;
        QTest::newRow("device missing") << QByteArray("[SERIAL]\nCommNum=9\n") << false;
        QTest::newRow("port held by another program") << QByteArray("[SERIAL]\nCommNum=3\n") << true;
    }
    void startUpFailure()
    {
        QFETCH(QByteArray, ini);
        QFETCH(bool, holdPort);
        SimRig rig;
        QVERIFY(rig.start());
        if (ini == "-")
            QFile::remove(rig.exeDir() + QStringLiteral("/BootLoaderTorvexII.ini"));
        else
            rig.writeIni(ini);
        // com9 names a device that is not there.
        QFile::link(rig.exeDir() + QStringLiteral("/no-such-device"), rig.exeDir() + QStringLiteral("/com9"));
        QSerialPort holder(QString::fromStdString(rig.sim->slavePath()));
        if (holdPort)
            QVERIFY(holder.open(QIODevice::ReadWrite));

        ModalAnswerer answerer;
        QCOMPARE(runBootLoader(rig.exeDir()), 1);
        QCOMPARE(answerer.boxes.size(), size_t(1));
        QCOMPARE(answerer.boxes[0].text, FailureText);
        QCOMPARE(answerer.boxes[0].title, QStringLiteral("BootLoaderTorvexII"));
        QCOMPARE(answerer.boxes[0].icon, QMessageBox::Critical);
        QVERIFY(!answerer.boxes[0].windowVisible);
        QVERIFY(rig.received().isEmpty());
    }

    void layout_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QRect>("geometry");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("bold");
        QTest::addColumn<QString>("tip");
        const auto px = [](int l, int t, int w, int h) { return QRect(l / 15, t / 15, w / 15, h / 15); };
        QTest::newRow("cmdSelFile") << "cmdSelFile" << px(360, 240, 1095, 375) << "Select File" << true << "";
        QTest::newRow("txtFile") << "txtFile" << px(1680, 240, 6855, 285) << "" << false << "Program file";
        QTest::newRow("Label2") << "Label2" << px(1800, 600, 735, 255) << "Version:" << false << "";
        QTest::newRow("lblFileVersion") << "lblFileVersion" << px(2520, 600, 1215, 255) << "----------"
                                        << false << "Version of selected file";
        QTest::newRow("Label3") << "Label3" << px(3960, 600, 495, 255) << "Size:" << false << "";
        QTest::newRow("lblFileSize") << "lblFileSize" << px(4440, 600, 1095, 255) << "----------" << false
                                     << "Size of selected file";
        QTest::newRow("lblLabVersion") << "lblLabVersion" << px(6120, 600, 1575, 255) << "Lab. Version !!"
                                       << true << "";
        QTest::newRow("cmdProgram") << "cmdProgram" << px(360, 960, 2895, 495) << "UPDATE PROGRAM" << true << "";
        QTest::newRow("cmdExit") << "cmdExit" << px(7560, 960, 975, 495) << "EXIT" << true << "";
        QTest::newRow("txt1") << "txt1" << px(360, 1560, 8175, 1815) << "" << false << "";
    }
    void layout()
    {
        QFETCH(QString, name);
        QFETCH(QRect, geometry);
        QFETCH(QString, text);
        QFETCH(bool, bold);
        QFETCH(QString, tip);
        frmBootLoader w(QDir::tempPath());
        QCOMPARE(w.size(), QSize(591, 241));
        auto *c = w.findChild<QWidget *>(name);
        QVERIFY(c);
        QCOMPARE(c->geometry(), geometry);
        QCOMPARE(c->font().bold(), bold);
        QCOMPARE(c->font().pointSizeF(), name == QLatin1String("txt1") ? 9.75 : 8.25);
        QCOMPARE(c->toolTip(), tip);
        QString shown;
        if (auto *b = qobject_cast<QPushButton *>(c))
            shown = b->text();
        else if (auto *l = qobject_cast<QLabel *>(c))
            shown = l->text();
        else if (auto *e = qobject_cast<QLineEdit *>(c))
            shown = e->text();
        QCOMPARE(shown, text);
    }

    void layoutDetails()
    {
        frmBootLoader w(QDir::tempPath());
        QVERIFY(w.txtFile->isReadOnly() && w.txt1->isReadOnly());
        QCOMPARE(w.txt1->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
        QCOMPARE(w.lblLabVersion->palette().color(QPalette::Window), QColor(255, 0, 0));
        QCOMPARE(w.lblLabVersion->palette().color(QPalette::WindowText), QColor(255, 255, 0));
        for (QPushButton *b : {w.cmdSelFile, w.cmdProgram, w.cmdExit})
            QVERIFY(!b->isDefault() && !b->autoDefault() && !b->text().contains(QLatin1Char('&')));
        QList<QWidget *> chain;
        QWidget *at = w.txt1;
        for (int i = 0; i < 5; ++i, at = at->nextInFocusChain()) {
            while (at->focusPolicy() == Qt::NoFocus || at == &w)
                at = at->nextInFocusChain();
            chain << at;
        }
        QCOMPARE(chain, (QList<QWidget *>{w.txt1, w.cmdProgram, w.cmdSelFile, w.txtFile, w.cmdExit}));
    }

    void updateThroughTheWindow()
    {
        SimRig rig;
        QVERIFY(rig.start());
        const QByteArray image = makeImage(3000);
        const QString path = rig.writeFile(QStringLiteral("fw.bin"), image);
        frmBootLoader w(rig.exeDir());
        QVERIFY(w.Form_Load());
        w.show();

        ModalAnswerer answerer;
        answerer.files.push_back(path);
        QTest::mouseClick(w.cmdSelFile, Qt::LeftButton);
        QCOMPARE(answerer.dialogs.size(), size_t(1));
        // Qt trims the blank that leads the description.
        QCOMPARE(answerer.dialogs[0].nameFilter, QStringLiteral("Fichero binario(*.bin)"));
        QCOMPARE(answerer.dialogs[0].defaultSuffix, QStringLiteral("bin"));
        QCOMPARE(w.txtFile->text(), path);
        QCOMPARE(w.lblFileSize->text(), QStringLiteral("3000"));
        QCOMPARE(w.lblFileVersion->text(), QStringLiteral("V2.03.01"));
        QVERIFY(w.cmdProgram->isEnabled());

        int busyChecks = 0;
        bool lockedWhileBusy = true;
        answerer.whileBusy = [&] {
            if (w.cmdExit->isEnabled())
                return;
            ++busyChecks;
            w.close();  // refused while the update runs
            lockedWhileBusy &= w.isVisible() && !w.cmdProgram->isEnabled() && !w.cmdSelFile->isEnabled();
        };
        QTest::mouseClick(w.cmdProgram, Qt::LeftButton);
        QVERIFY(answerer.boxes.empty());
        QVERIFY(busyChecks > 0);
        QVERIFY(lockedWhileBusy);
        QVERIFY(w.txt1->toPlainText().endsWith(QStringLiteral("Program update Ok.\nReseting indicator.\n")));
        QVERIFY(w.statusText().endsWith(QStringLiteral("(3000/3000)\r\nProgram update Ok.\r\nReseting indicator.\r\n")));
        QVERIFY(w.cmdProgram->isEnabled() && w.cmdSelFile->isEnabled() && w.cmdExit->isEnabled());
        QCOMPARE(w.cursor().shape(), Qt::ArrowCursor);
        rig.sim->stop();
        QCOMPARE(rig.flash(3000), image);

        QTest::mouseClick(w.cmdExit, Qt::LeftButton);
        QVERIFY(!w.isVisible());
        QVERIFY(!w.link.com1.isOpen());
    }

    void failureBoxesCarryTheirIcon_data()
    {
        QTest::addColumn<QString>("rule");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("icon");
        QTest::newRow("write failure: plain") << "block0:refuse=3" << "Error al escribir en flash"
                                              << int(QMessageBox::NoIcon);
        QTest::newRow("reset failure: error icon") << "S:refuse" << "Fail reseting indicator."
                                                   << int(QMessageBox::Critical);
    }
    void failureBoxesCarryTheirIcon()
    {
        QFETCH(QString, rule);
        QFETCH(QString, text);
        QFETCH(int, icon);
        torvexsim::Options o;
        o.faults.push_back(*torvexsim::parseFaultRule(rule.toStdString()));
        SimRig rig;
        QVERIFY(rig.start(o));
        frmBootLoader w(rig.exeDir());
        QVERIFY(w.Form_Load());
        w.show();
        ModalAnswerer answerer;
        answerer.files.push_back(rig.writeFile(QStringLiteral("fw.bin"), makeImage(2000)));
        w.cmdSelFile_Click();
        w.cmdProgram_Click();
        QCOMPARE(answerer.boxes.size(), size_t(1));
        QCOMPARE(answerer.boxes[0].text, text);
        QCOMPARE(int(answerer.boxes[0].icon), icon);
        QCOMPARE(answerer.boxes[0].title, QStringLiteral("BootLoaderTorvexII"));
        QVERIFY(w.cmdProgram->isEnabled() && w.cmdSelFile->isEnabled() && w.cmdExit->isEnabled());
        QCOMPARE(w.cursor().shape(), Qt::ArrowCursor);
    }
};

QTEST_MAIN(TestWindow)
#include "test_window.moc"
