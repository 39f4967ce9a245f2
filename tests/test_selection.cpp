// "Select File": what each kind of image does to the file display.

#include <QtTest>
#include <sys/stat.h>
#include <unistd.h>

#include "image/FileSelection.h"
#include "support/RecordingView.h"
#include "support/SimRig.h"

namespace {

const QString NotIndicator = QStringLiteral("This file is not compatible with the indicator.");
const QString NotBootloader = QStringLiteral("This file is not compatible with this bootloader.");
const QString CantLoad = QStringLiteral("This file can't be loaded.");

}  // namespace

class TestSelection : public QObject {
    Q_OBJECT

    QTemporaryDir dir;

    QString write(const QString &name, const QByteArray &bytes)
    {
        const QString path = dir.filePath(name);
        QFile f(path);
        f.open(QIODevice::WriteOnly | QIODevice::Truncate);
        f.write(bytes);
        return path;
    }
    // Selects `first` (accepted), then `path`.
    void selectAfterAccepted(RecordingView &view, ImageSelection &sel, const QString &path)
    {
        view.dialogAnswers.push_back(write(QStringLiteral("good.bin"), makeImage(4000, "GOOD0001")));
        cmdSelFile_Click(view, sel);
        QCOMPARE(view.file, dir.filePath(QStringLiteral("good.bin")));
        view.dialogAnswers.push_back(path);
        cmdSelFile_Click(view, sel);
    }

private slots:
    void dialogRequest()
    {
        RecordingView view;
        ImageSelection sel;
        sel.dialogFileName = QStringLiteral("old");
        cmdSelFile_Click(view, sel);
        QCOMPARE(view.dialogRequests.size(), size_t(1));
        QCOMPARE(view.dialogRequests[0].fileName, QString());
        QCOMPARE(view.dialogRequests[0].defaultSuffix, QStringLiteral("bin"));
        QCOMPARE(view.dialogRequests[0].filter, QStringLiteral(" Fichero binario(*.bin)|*.bin"));
        // Cancelled right after start: nothing changes.
        QCOMPARE(sel.dialogFileName, QString());
        QVERIFY(!view.programEnabled);
        QCOMPARE(view.file, QString());
        QVERIFY(view.boxes.empty());
    }

    void outcomes_data()
    {
        QTest::addColumn<QByteArray>("image");
        QTest::addColumn<bool>("progMode");
        QTest::addColumn<QString>("box");       // "" for none
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<bool>("labShown");
        QTest::newRow("plain release") << makeImage(70000) << false << "" << true << false;
        QTest::newRow("empty file") << QByteArray() << false << NotIndicator << false << false;
        QTest::newRow("1 byte") << QByteArray(1, 'K') << false << NotIndicator << false << false;
        QTest::newRow("1034 bytes") << makeImage(1034) << false << NotIndicator << false << false;
        QTest::newRow("exactly 1035 bytes") << makeImage(1035) << false << "" << true << false;
        QTest::newRow("kd7") << makeImage(2000, "V", "kd7") << false << NotIndicator << false << false;
        QTest::newRow("KD8") << makeImage(2000, "V", "KD8") << false << NotIndicator << false << false;
        for (char level : {'/', '0'})
            QTest::addRow("level 0x%02x accepted", int(uchar(level)))
                << makeImage(2000, "V", "KD7", level) << false << "" << true << false;
        for (char level : {'1', char(0x80)})
            QTest::addRow("level 0x%02x refused", int(uchar(level)))
                << makeImage(2000, "V", "KD7", level) << false << NotBootloader << false << false;
        QTest::newRow("lab build, mode on") << makeImage(2000, "V", "KD7", '0', "LABT") << true << "" << true << true;
        QTest::newRow("labt is no lab build") << makeImage(2000, "V", "KD7", '0', "labt") << false << "" << true
                                              << false;
        QTest::newRow("LAB blank is no lab build") << makeImage(2000, "V", "KD7", '0', "LAB ") << true << ""
                                                   << true << false;
        QTest::newRow("tag cut short") << makeImage(1039, "V", "KD7", '0', "LABT") << true << "" << true << false;
    }
    void outcomes()
    {
        QFETCH(QByteArray, image);
        QFETCH(bool, progMode);
        QFETCH(QString, box);
        QFETCH(bool, accepted);
        QFETCH(bool, labShown);
        RecordingView view;
        ImageSelection sel;
        sel.ProgMode = progMode;
        const QString path = write(QStringLiteral("x.bin"), image);
        selectAfterAccepted(view, sel, path);
        QCOMPARE(view.boxTexts(), box.isEmpty() ? QStringList() : QStringList{box});
        if (!box.isEmpty())
            QCOMPARE(view.boxes[0].icon, BoxIcon::Error);
        QCOMPARE(view.programEnabled, accepted);
        QCOMPARE(view.labVisible, labShown);
        QCOMPARE(sel.dialogFileName, path);
        if (accepted) {
            QCOMPARE(view.file, path);
            QCOMPARE(view.size, QString::number(image.size()));
            QCOMPARE(sel.FileSize, std::int32_t(image.size()));
            QCOMPARE(view.version, QString::fromLatin1(image.mid(1024, 8)).leftJustified(8, QChar(0), true));
        } else {
            QCOMPARE(view.file, QString());
            QCOMPARE(view.size, QStringLiteral("----------"));
            QCOMPARE(view.version, QStringLiteral("----------"));
            QCOMPARE(sel.FileSize, 0);
        }
    }

    void pathWithAccents()
    {
        RecordingView view;
        ImageSelection sel;
        const QString path = write(QStringLiteral("versión ñ.bin"), makeImage(1500));
        view.dialogAnswers.push_back(path);
        cmdSelFile_Click(view, sel);
        QCOMPARE(view.file, path);
        QCOMPARE(view.size, QStringLiteral("1500"));
    }

    void labBuildRefusedKeepsEarlierFile()
    {
        RecordingView view;
        ImageSelection sel;
        const QString lab = write(QStringLiteral("lab.bin"), makeImage(3000, "LAB00001", "KD7", '0', "LABT"));
        selectAfterAccepted(view, sel, lab);
        QCOMPARE(view.boxTexts(), QStringList{CantLoad});
        QVERIFY(!view.programEnabled);
        QVERIFY(!view.labVisible);
        QCOMPARE(view.file, dir.filePath(QStringLiteral("good.bin")));
        QCOMPARE(view.size, QStringLiteral("4000"));
        QCOMPARE(view.version, QStringLiteral("GOOD0001"));
        QCOMPARE(sel.FileSize, 4000);
    }

    void labLabelHiddenByNextSelection()
    {
        RecordingView view;
        ImageSelection sel;
        sel.ProgMode = true;
        view.dialogAnswers.push_back(write(QStringLiteral("lab.bin"), makeImage(3000, "L", "KD7", '0', "LABT")));
        cmdSelFile_Click(view, sel);
        QVERIFY(view.labVisible);
        view.dialogAnswers.push_back(write(QStringLiteral("rel.bin"), makeImage(3000)));
        cmdSelFile_Click(view, sel);
        QVERIFY(!view.labVisible);
        QVERIFY(view.programEnabled);
    }

    void unreadableFile()
    {
        if (::geteuid() == 0)
            QSKIP("root reads any file");
        RecordingView view;
        ImageSelection sel;
        const QString path = write(QStringLiteral("locked.bin"), makeImage(2000));
        QFile::setPermissions(path, QFileDevice::WriteOwner);
        view.dialogAnswers.push_back(path);
        cmdSelFile_Click(view, sel);
        QVERIFY(view.boxes.empty());
        QVERIFY(!view.programEnabled);
        QCOMPARE(view.file, QString());
    }

    void failureExitChangesNothing_data()
    {
        QTest::addColumn<QString>("path");  // relative to the scratch dir, or absolute
        QTest::addColumn<bool>("cancel");
        QTest::newRow("cancelled") << "" << true;
        QTest::newRow("missing file") << "nothing-here.bin" << false;
        QTest::newRow("a directory") << "." << false;
        QTest::newRow("a device") << "/dev/zero" << false;
        QTest::newRow("a FIFO") << "fifo" << false;
        QTest::newRow("sparse, over 4 GiB") << "huge.bin" << false;
    }
    void failureExitChangesNothing()
    {
        QFETCH(QString, path);
        QFETCH(bool, cancel);
        RecordingView view;
        ImageSelection sel;
        const QString target = path.startsWith(QLatin1Char('/')) ? path : dir.filePath(path);
        if (path == QLatin1String("fifo"))
            QVERIFY(::mkfifo(QFile::encodeName(target).constData(), 0600) == 0 || errno == EEXIST);
        if (path == QLatin1String("huge.bin")) {
            QFile huge(target);
            QVERIFY(huge.open(QIODevice::WriteOnly) && huge.resize((qint64(1) << 32) + 5000));
        }
        view.dialogAnswers.push_back(write(QStringLiteral("good.bin"), makeImage(4000, "GOOD0001")));
        cmdSelFile_Click(view, sel);
        if (cancel)
            view.dialogAnswers.push_back(std::nullopt);
        else
            view.dialogAnswers.push_back(target);
        cmdSelFile_Click(view, sel);
        QVERIFY(view.boxes.empty());
        QVERIFY(view.programEnabled);
        QCOMPARE(view.file, dir.filePath(QStringLiteral("good.bin")));
        QCOMPARE(view.size, QStringLiteral("4000"));
        QCOMPARE(sel.dialogFileName, cancel ? QString() : target);
    }
};

QTEST_GUILESS_MAIN(TestSelection)
#include "test_selection.moc"
