// Start-up and the update as a technician drives them through the window,
// also with its port link moved after start-up and a signal mid-update.

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSerialPort>
#include <QtTest>
#include <csignal>

#include "app/core/StopSignals.h"
#include "app/gui/frmBootLoader.h"
#include "support/ModalAnswerer.h"
#include "support/Scenarios.h"
#include "support/SimRig.h"

namespace {

// `image` selected in a window that has started up.
bool showImage(frmBootLoader &window, SimRig &rig, const QByteArray &image)
{
    const QString path = rig.writeImage(image);
    window.selection.dialogFileName = path;
    return checkAndShowImage(window, window.selection, path) == SelectOutcome::Accepted;
}

}  // namespace

class TestWindow : public QObject {
    Q_OBJECT

private slots:
    void startUp_data()
    {
        QTest::addColumn<QByteArray>("ini");  // "-": no file at all
        QTest::addColumn<bool>("holdPort");
        QTest::addColumn<bool>("progMode");   // when start-up succeeds
        QTest::newRow("ModeProg=1") << QByteArray("[SERIAL]\nCommNum=3\n[MODE]\nModeProg=1\n") << false << true;
        QTest::newRow("no MODE section") << QByteArray("[SERIAL]\nCommNum=3\n") << false << false;
        QTest::newRow("no configuration file") << QByteArray("-") << false << false;
        QTest::newRow("device missing") << QByteArray("[SERIAL]\nCommNum=9\n") << false << false;
        QTest::newRow("port held by another program") << QByteArray("[SERIAL]\nCommNum=3\n") << true << false;
    }
    void startUp()
    {
        QFETCH(QByteArray, ini);
        QFETCH(bool, holdPort);
        QFETCH(bool, progMode);
        SimRig rig;
        QVERIFY(rig.start());
        if (ini == "-")
            QFile::remove(rig.exeDir() + QStringLiteral("/BootLoaderTorvexII.ini"));
        else
            rig.writeIni(ini);
        QFile::link(rig.exeDir() + QStringLiteral("/no-such-device"), rig.exeDir() + QStringLiteral("/com9"));
        QSerialPort holder(rig.slave());
        QVERIFY(!holdPort || holder.open(QIODevice::ReadWrite));
        const bool works = QTest::currentDataTag() == QByteArray("ModeProg=1")
                        || QTest::currentDataTag() == QByteArray("no MODE section");

        ModalAnswerer answerer;
        frmBootLoader w(rig.config());
        QCOMPARE(w.Form_Load(), works);
        QVERIFY(!w.link.com1.isOpen());
        if (works) {
            QCOMPARE(w.windowTitle(), QStringLiteral("Bootloader TorvexII. Ver.1.1.0"));
            QCOMPARE(w.selection.ProgMode, progMode);
            QVERIFY(!w.cmdProgram->isEnabled() && w.cmdSelFile->isEnabled() && w.cmdExit->isEnabled());
            QVERIFY(w.lblLabVersion->isHidden());
            w.show();
            QVERIFY(QTest::qWaitForWindowActive(&w));
            QCOMPARE(w.focusWidget(), w.txt1);  // first in the tab order
            if (progMode) {
                QVERIFY(showImage(w, rig, makeImage(1100, "V1.00.00", "KD7", '0', "LABT")));
                // Yellow letters on red, whatever the style.
                const QImage lab = w.grab(w.lblLabVersion->geometry()).toImage();
                QCOMPARE(lab.pixelColor(1, 1), QColor(255, 0, 0));
                bool yellow = false;
                for (int x = 0; x < lab.width(); ++x)
                    yellow |= lab.pixelColor(x, lab.height() / 2) == QColor(255, 255, 0);
                QVERIFY(yellow);
            }
            return;
        }
        QCOMPARE(runBootLoader(rig.config()), 1);
        QCOMPARE(answerer.boxes.size(), size_t(1));
        QCOMPARE(answerer.boxes[0].text, QStringLiteral("No se puede abrir el port serie.\r\nComprobar fichero "
                                                        ".ini o cerrar el programa que utilice el puerto."));
        QCOMPARE(answerer.boxes[0].title, QStringLiteral("BootLoaderTorvexII"));
        QCOMPARE(answerer.boxes[0].icon, QMessageBox::Critical);
        QVERIFY(!answerer.boxes[0].windowVisible);
        QVERIFY(rig.received().isEmpty());
    }

    // The quick scenarios, pressed through the window's own buttons.
    void scenario_data() { addScenarioRows(); }
    void scenario()
    {
        SimRig rig;
        const Scenario *row = rowScenario(rig);
        if (!row)
            QSKIP("no scenario runs here");
        const Scenario &s = *row;
        const QByteArray image = makeImage(s.size);
        const QString path = rig.writeImage(image);
        frmBootLoader w(rig.config());
        QVERIFY(w.Form_Load());
        w.show();

        ModalAnswerer answerer;
        answerer.files.push_back(path);
        QTest::mouseClick(w.cmdSelFile, Qt::LeftButton);
        QCOMPARE(answerer.dialogs.size(), size_t(1));
        QCOMPARE(answerer.dialogs[0].first, QStringLiteral("Fichero binario(*.bin)"));  // Qt trims the blank
        QCOMPARE(answerer.dialogs[0].second, QStringLiteral("bin"));
        QCOMPARE(w.txtFile->text(), path);
        QCOMPARE(w.lblFileSize->text(), QString::number(s.size));
        QVERIFY(w.cmdProgram->isEnabled());

        bool locked = true, hourglass = false;
        int busyTicks = 0;
        answerer.whileBusy = [&] {
            if (w.cmdExit->isEnabled())
                return;
            ++busyTicks;
            w.close();  // refused while the update runs
            locked &= w.isVisible() && !w.cmdProgram->isEnabled() && !w.cmdSelFile->isEnabled();
            // Over the text boxes too, which carry cursors of their own.
            hourglass |= w.cursor().shape() == Qt::WaitCursor && w.txtFile->cursor().shape() == Qt::WaitCursor
                      && w.txt1->viewport()->cursor().shape() == Qt::WaitCursor;
        };
        QTest::mouseClick(w.cmdProgram, Qt::LeftButton);
        rig.sim->stop();
        QStringList boxes;
        for (const SeenBox &b : answerer.boxes) {
            QCOMPARE(b.title, QStringLiteral("BootLoaderTorvexII"));
            QVERIFY(b.icon == QMessageBox::Critical || b.icon == QMessageBox::NoIcon);
            boxes << (b.icon == QMessageBox::Critical ? QStringLiteral("!") : QString()) + b.text;
        }
        QCOMPARE(boxes, s.boxes);
        QCOMPARE(foldStatus(w.statusText()), s.status);
        QCOMPARE(foldStatus(w.txt1->toPlainText()), s.status);
        QCOMPARE(rig.flash(s.size) == image, s.flashed);
        QVERIFY(locked);
        if (s.size > 20000)  // long enough to be caught in the act
            QVERIFY(busyTicks > 0 && hourglass);
        QVERIFY(w.cmdProgram->isEnabled() && w.cmdSelFile->isEnabled() && w.cmdExit->isEnabled());
        QCOMPARE(w.cursor().shape(), Qt::ArrowCursor);

        QTest::mouseClick(w.cmdExit, Qt::LeftButton);
        QVERIFY(!w.isVisible());
        QVERIFY(!w.link.com1.isOpen());
    }

    // The port number names whatever its link points at when the port opens.
    void movedPortLink()
    {
        SimRig first, second;
        QVERIFY(first.start() && second.start());
        frmBootLoader window(first.config());
        QVERIFY(window.Form_Load());
        const QString link = QDir(first.exeDir()).filePath(QStringLiteral("com3"));
        const QString target = QFileInfo(QDir(second.exeDir()).filePath(QStringLiteral("com3"))).symLinkTarget();
        QVERIFY(QFile::remove(link) && QFile::link(target, link));

        const QByteArray image = makeImage(1300, "<b>V1.00");
        QVERIFY(showImage(window, first, image));
        // The version is shown as its eight characters, never as markup.
        const QImage shown = window.lblFileVersion->grab().toImage();
        window.lblFileVersion->setTextFormat(Qt::PlainText);
        QCOMPARE(window.lblFileVersion->grab().toImage(), shown);
        window.cmdProgram->click();
        first.sim->stop();
        second.sim->stop();
        QVERIFY(window.statusText().endsWith(QStringLiteral("Reseting indicator.\r\n")));
        QCOMPARE(second.flash(image.size()), image);
        QVERIFY(first.received().isEmpty());
    }

    // A signal mid-write: no frame after it, the port closed, the next update whole.
    void windowStopsOnSignal()
    {
        SimRig rig;
        QVERIFY(rig.start(indicator({"baud=115200"})));
        frmBootLoader window(rig.config());
        QVERIFY(window.Form_Load() && showImage(window, rig, makeImage(30000)));
        StopSignals stops;
        connect(&stops, &StopSignals::stopRequested, &window, &frmBootLoader::stopBySignal);
        ModalAnswerer answerer;  // no box may come; mid-write, a SIGTERM
        answerer.whileBusy = [&, sent = false]() mutable {
            if (!sent && window.statusText().contains(QStringLiteral("(98")))
                sent = ::raise(SIGTERM) == 0;
        };
        window.cmdProgram->click();
        const qsizetype received = rig.received().size();
        QVERIFY(!window.link.com1.isOpen());
        QVERIFY(!lockFileLeft(window.link.com1.deviceName()));
        QVERIFY(!window.statusText().contains(QStringLiteral("Program update Ok.")));
        QTest::qWait(300);
        QCOMPARE(rig.received().size(), received);
        QVERIFY(received < 30000);
    }
};

QTEST_MAIN(TestWindow)
#include "test_window.moc"
