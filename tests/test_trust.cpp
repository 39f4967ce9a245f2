// Trust: success is claimed only for a flash equal to the image, whichever
// device the port link names by then, and whenever the user interrupts (late
// replies are rows of the scenario table).

#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QtTest>
#include <csignal>

#include "app/core/StopSignals.h"
#include "app/gui/frmBootLoader.h"
#include "image/FileSelection.h"
#include "link/Link.h"
#include "support/RecordingView.h"
#include "support/SimRig.h"

namespace {

// Qt locks a device with /run/lock/LCK.. and its path below /dev, '/' made '_'.
bool lockFileLeftFor(const QString &device)
{
    return QFile::exists("/run/lock/LCK.." + QFileInfo(device).canonicalFilePath().mid(5).replace('/', '_'));
}

// `image` selected in a window that has started up.
bool showImage(frmBootLoader &window, SimRig &rig, const QByteArray &image)
{
    const QString path = rig.writeFile(QStringLiteral("fw.bin"), image);
    window.selection.dialogFileName = path;
    return checkAndShowImage(window, window.selection, path) == SelectOutcome::Accepted;
}

}  // namespace

class TestTrust : public QObject {
    Q_OBJECT

private slots:
    // The port number names whatever its link points at when the port opens.
    void movedPortLink()
    {
        SimRig first, second;
        QVERIFY(first.start() && second.start());
        frmBootLoader window(first.exeDir());
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
        frmBootLoader window(rig.exeDir());
        QVERIFY(window.Form_Load() && showImage(window, rig, makeImage(30000)));
        StopSignals stops;
        connect(&stops, &StopSignals::stopRequested, &window, &frmBootLoader::stopBySignal);
        const Qt::CursorShape textCursor = window.txt1->viewport()->cursor().shape();
        QList<Qt::CursorShape> busy;
        QTimer poll;
        connect(&poll, &QTimer::timeout, this, [&] {
            if (window.statusText().contains(QStringLiteral("(98"))) {
                poll.stop();
                busy = {window.cursor().shape(), window.txt1->viewport()->cursor().shape(),
                        window.txtFile->cursor().shape()};
                ::raise(SIGTERM);
            }
        });
        poll.start(5);
        window.cmdProgram->click();
        const qsizetype received = rig.received().size();
        QVERIFY(!window.link.com1.isOpen());
        QVERIFY(!lockFileLeftFor(window.link.com1.deviceName()));
        QVERIFY(!window.statusText().contains(QStringLiteral("Program update Ok.")));
        QCOMPARE(busy, QList<Qt::CursorShape>(3, Qt::WaitCursor));
        QCOMPARE(window.txt1->viewport()->cursor().shape(), textCursor);
        QTest::qWait(300);
        QCOMPARE(rig.received().size(), received);
        QVERIFY(received < 30000);
    }

    void cliStopsOnSignal()
    {
        SimRig rig;
        QVERIFY(rig.start(indicator({"baud=115200"})));
        const QByteArray image = makeImage(40000);
        const QString path = rig.writeFile(QStringLiteral("fw.bin"), image);
        const QStringList args{QStringLiteral("--config"), rig.exeDir(), path};
        QProcess run;
        run.start(QStringLiteral(TORVEX_FLASH_BIN), args);
        QTRY_VERIFY_WITH_TIMEOUT(run.peek(4096).contains("Writing program to flash  ("), 10000);
        ::kill(pid_t(run.processId()), SIGINT);
        QVERIFY(run.waitForFinished(5000));
        QCOMPARE(run.exitCode(), 130);
        const QString err = QString::fromUtf8(run.readAllStandardError());
        QVERIFY2(err.contains(QStringLiteral("stopped by SIGINT while writing")), qPrintable(err));
        QCOMPARE(err.count(QLatin1Char('\n')), 1);
        QVERIFY(!lockFileLeftFor(QDir(rig.exeDir()).filePath(QStringLiteral("com3"))));

        QProcess again;
        again.start(QStringLiteral(TORVEX_FLASH_BIN), args);
        QVERIFY(again.waitForFinished(20000));
        QVERIFY2(again.exitCode() == 0, again.readAll() + again.readAllStandardError());
        rig.sim->stop();
        QCOMPARE(rig.flash(image.size()), image);
    }

    // Bytes that are not UTF-8 decode to U+FFFD, which may name another file.
    void inexactPathRefused()
    {
        SimRig rig;  // its folder only
        const QString path = rig.writeFile(QString(QChar(QChar::ReplacementCharacter)) + ".bin", makeImage(1100));
        RecordingView view;
        ImageSelection selection;
        QCOMPARE(checkAndShowImage(view, selection, path), SelectOutcome::Unreadable);
        Link link;
        QVERIFY(!runStartUp(link, rig.exeDir() + QChar(QChar::ReplacementCharacter)).ok);
    }
};

QTEST_MAIN(TestTrust)
#include "test_trust.moc"
