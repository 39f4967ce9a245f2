// Trust: success is claimed only for a flash equal to the image, whatever
// comes late, whichever device the port link names by then, and whenever the
// user interrupts. The late-reply rows wait out block time limits and run in
// ctest entries of their own (ctest: 4 slow shards).

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
#include "bootloader/Update.h"
#include "image/FileSelection.h"
#include "link/Link.h"
#include "support/RecordingView.h"
#include "support/Scenarios.h"
#include "support/SimRig.h"

Q_DECLARE_METATYPE(UpdateOutcome)

using namespace std::chrono_literals;

namespace {

bool claimsWritten(UpdateOutcome o)
{
    return o == UpdateOutcome::Ok || o == UpdateOutcome::EndWriteRefused || o == UpdateOutcome::ResetFailed;
}

// Qt's lock files name the device with its slashes replaced.
bool lockFileLeftFor(const QString &device)
{
    const QString tail = QFileInfo(device).canonicalFilePath().section(QLatin1Char('/'), -2).replace(
        QLatin1Char('/'), QLatin1Char('_'));
    for (const QString &dir : {QStringLiteral("/run/lock"), QStringLiteral("/var/lock"), QDir::tempPath()})
        if (!QDir(dir).entryList({QStringLiteral("LCK..*") + tail}, QDir::Files).isEmpty())
            return true;
    return false;
}

}  // namespace

class TestTrust : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        if (slowShard() && qstrcmp(QTest::currentTestFunction(), "lateReplies") != 0)
            QSKIP("runs in the quick pass");
    }

    // Replies carry no sequence number: one that comes after its time limit
    // must never be read as the reply to a later frame.
    void lateReplies_data()
    {
        QTest::addColumn<QStringList>("behaviour");
        QTest::addColumn<UpdateOutcome>("outcome");
        const auto row = [](const char *name, const QStringList &behaviour, UpdateOutcome outcome) {
            if (rowRunsHere(true))
                QTest::newRow(name) << behaviour << outcome;
        };
        row("block 2.05 s late, last block ignored once", {"block1:delay=2050*1", "block11:silence*1"},
            UpdateOutcome::Ok);
        row("block 2.15 s late, last block refused", {"block1:delay=2150*1", "block11:refuse=3"},
            UpdateOutcome::WriteFailed);
        row("block 3.5 s late, last block's reply lost", {"block1:delay=3500*1", "block11:lose*1"},
            UpdateOutcome::Ok);
        row("last block and every empty frame late", {"block11:delay=2050*1", "end:delay=350"},
            UpdateOutcome::EndWriteRefused);
    }
    void lateReplies()
    {
        if (!slowShard())
            QSKIP("runs in its own ctest entries");
        QFETCH(QStringList, behaviour);
        QFETCH(UpdateOutcome, outcome);
        SimRig rig;
        torvexsim::Options options = indicator(behaviour);
        options.programTime = 100ms;
        QVERIFY(rig.start(options));
        Link link;
        QVERIFY(rig.startUp(link));
        RecordingView view;
        ImageSelection selection;
        const QByteArray image = makeImage(1100);  // blocks 0..11
        view.dialogAnswers.push_back(rig.writeFile(QStringLiteral("fw.bin"), image));
        cmdSelFile_Click(view, selection);

        const UpdateReport r = cmdProgram_Click(view, link, selection);
        rig.sim->stop();
        if (claimsWritten(r.outcome))
            QCOMPARE(rig.flash(image.size()), image);
        QCOMPARE(r.outcome, outcome);
    }

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
        const QString path = first.writeFile(QStringLiteral("fw.bin"), image);
        window.selection.dialogFileName = path;
        QCOMPARE(checkAndShowImage(window, window.selection, path), SelectOutcome::Accepted);
        // The version is shown as its eight characters, never as markup.
        QLabel plain(window.lblFileVersion->text());
        plain.setTextFormat(Qt::PlainText);
        plain.setFont(window.lblFileVersion->font());
        plain.setGeometry(window.lblFileVersion->geometry());
        plain.setPalette(window.lblFileVersion->palette());
        plain.setAlignment(window.lblFileVersion->alignment());
        const auto pixels = [](QWidget *w) { return w->grab().toImage().convertToFormat(QImage::Format_RGB32); };
        QCOMPARE(pixels(window.lblFileVersion), pixels(&plain));
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
        torvexsim::Options options;
        options.baud = 115200;
        QVERIFY(rig.start(options));
        frmBootLoader window(rig.exeDir());
        QVERIFY(window.Form_Load());
        StopSignals stops;
        connect(&stops, &StopSignals::stopRequested, &window, &frmBootLoader::stopBySignal);
        const QString path = rig.writeFile(QStringLiteral("fw.bin"), makeImage(30000));
        window.selection.dialogFileName = path;
        QCOMPARE(checkAndShowImage(window, window.selection, path), SelectOutcome::Accepted);
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
        torvexsim::Options options;
        options.baud = 115200;
        QVERIFY(rig.start(options));
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
        QTemporaryDir dir;
        const QString path = dir.filePath(QString(QChar(QChar::ReplacementCharacter)) + QStringLiteral(".bin"));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(makeImage(1100)) == 1100);
        f.close();
        RecordingView view;
        ImageSelection selection;
        QCOMPARE(checkAndShowImage(view, selection, path), SelectOutcome::Unreadable);
        Link link;
        QVERIFY(!runStartUp(link, dir.path() + QChar(QChar::ReplacementCharacter)).ok);
    }
};

QTEST_MAIN(TestTrust)
#include "test_trust.moc"
