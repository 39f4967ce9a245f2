// The image's identification block, what "Select File" makes of each kind
// of image, and names that cannot be opened as given.

#include <QBuffer>
#include <QtTest>
#include <sys/stat.h>

#include "app/core/StartUp.h"
#include "image/FileSelection.h"
#include "image/ImageFile.h"
#include "link/Link.h"
#include "support/RecordingView.h"
#include "support/SimRig.h"

namespace {

const QString NotIndicator = QStringLiteral("!This file is not compatible with the indicator.");
const QString NotBootloader = QStringLiteral("!This file is not compatible with this bootloader.");

}  // namespace

class TestImage : public QObject {
    Q_OBJECT

    SimRig files;  // its folder only
    QString write(const QString &name, const QByteArray &bytes) { return files.writeFile(name, bytes); }

private slots:
    void fields()
    {
        QByteArray full = QByteArray(1024, char(0xA5)) + "V1.02.03KD70LABT" + QByteArray(100, char(0xA5));
        QByteArray cut = full.left(1031);
        QBuffer buffer(&full), shortBuffer(&cut);
        QVERIFY(buffer.open(QIODevice::ReadOnly) && shortBuffer.open(QIODevice::ReadOnly));
        QCOMPARE(funFileVersion(buffer), QStringLiteral("V1.02.03"));
        QCOMPARE(funFileModel(buffer), QStringLiteral("KD7"));
        QCOMPARE(funFileBootVersion(buffer), QStringLiteral("0"));
        QCOMPARE(funFileTag(buffer), QStringLiteral("LABT"));
        QCOMPARE(buffer.pos(), 1040);
        QCOMPARE(funFileVersion(shortBuffer), QStringLiteral("V1.02.0") + QChar(0));  // past the end: NUL
        QCOMPARE(funFileTag(shortBuffer), QString(4, QChar(0)));
        QBuffer closed(&full);
        QVERIFY_THROWS_EXCEPTION(ImageReadError, funFileModel(closed));
    }

    // Selected after an accepted file: the display shows the new file, or
    // keeps or clears the old one.
    void select_data()
    {
        QTest::addColumn<QByteArray>("image");
        QTest::addColumn<bool>("progMode");
        QTest::addColumn<QString>("box");  // "" for none
        QTest::addColumn<QString>("shown");  // "new", "old" or "none"
        QTest::addColumn<bool>("labShown");
        QTest::newRow("release") << makeImage(70000) << false << "" << "new" << false;
        QTest::newRow("1034 bytes") << makeImage(1034) << false << NotIndicator << "none" << false;
        QTest::newRow("exactly 1035 bytes: level reads NUL") << makeImage(1035) << false << "" << "new" << false;
        QTest::newRow("kd7") << makeImage(2000, "V", "kd7") << false << NotIndicator << "none" << false;
        QTest::newRow("model before level and tag") << makeImage(2000, "V", "KD8", '5', "LABT") << true
                                                    << NotIndicator << "none" << false;
        QTest::newRow("level '/'") << makeImage(2000, "V", "KD7", '/') << false << "" << "new" << false;
        QTest::newRow("level '1'") << makeImage(2000, "V", "KD7", '1') << false << NotBootloader << "none" << false;
        QTest::newRow("level 0x80, not negative") << makeImage(2000, "V", "KD7", char(0x80)) << false << NotBootloader
                                                  << "none" << false;
        QTest::newRow("lab build, mode on") << makeImage(2000, "V", "KD7", '0', "LABT") << true << "" << "new" << true;
        QTest::newRow("lab build, mode off") << makeImage(2000, "V", "KD7", '0', "LABT") << false
                                             << "!This file can't be loaded." << "old" << false;
        QTest::newRow("labt is no lab build") << makeImage(2000, "V", "KD7", '0', "labt") << false << "" << "new" << false;
        QTest::newRow("tag cut short") << makeImage(1039, "V", "KD7", '0', "LABT") << false << "" << "new" << false;
    }
    void select()
    {
        QFETCH(QByteArray, image);
        QFETCH(bool, progMode);
        QFETCH(QString, box);
        QFETCH(QString, shown);
        QFETCH(bool, labShown);
        RecordingView view;
        ImageSelection sel;
        sel.ProgMode = progMode;
        const QString old = write(QStringLiteral("old.bin"), makeImage(4000, "GOOD0001"));
        const QString path = write(QStringLiteral("versión ñ.bin"), image);
        view.dialogAnswers = {old, path};
        cmdSelFile_Click(view, sel);
        cmdSelFile_Click(view, sel);
        QCOMPARE(view.dialogRequests[0].defaultSuffix, QStringLiteral("bin"));
        QCOMPARE(view.dialogRequests[0].filter, QStringLiteral(" Fichero binario(*.bin)|*.bin"));
        QCOMPARE(view.boxes, box.isEmpty() ? QStringList() : QStringList{box});
        QCOMPARE(view.programEnabled, shown == "new");
        QCOMPARE(view.labVisible, labShown);
        QCOMPARE(sel.dialogFileName, path);
        const bool isNew = shown == "new", isOld = shown == "old";
        QCOMPARE(view.file, isNew ? path : isOld ? old : QString());
        QCOMPARE(view.size, isNew ? QString::number(image.size()) : QString::fromLatin1(isOld ? "4000" : "----------"));
        QCOMPARE(sel.FileSize, std::int32_t(isNew ? image.size() : isOld ? 4000 : 0));
        QCOMPARE(view.version, isNew ? QString::fromLatin1(image.mid(1024, 8)).leftJustified(8, QChar(0), true)
                                     : QString::fromLatin1(isOld ? "GOOD0001" : "----------"));
    }

    // A cancelled dialog or something that is no image file changes nothing.
    void notAnImageFile_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("cancelled") << "";
        QTest::newRow("missing file") << "nothing-here.bin";
        QTest::newRow("a directory") << ".";
        QTest::newRow("a device") << "/dev/zero";
        QTest::newRow("a FIFO") << "fifo";
        QTest::newRow("sparse, over 2 GiB") << "huge.bin";
    }
    void notAnImageFile()
    {
        QFETCH(QString, path);
        RecordingView view;
        ImageSelection sel;
        const QString target = path.startsWith(QLatin1Char('/')) ? path : QDir(files.exeDir()).filePath(path);
        if (path == QLatin1String("fifo"))
            QVERIFY(::mkfifo(QFile::encodeName(target).constData(), 0600) == 0 || errno == EEXIST);
        if (path == QLatin1String("huge.bin")) {
            QFile huge(target);
            QVERIFY(huge.open(QIODevice::WriteOnly) && huge.resize((qint64(1) << 31) + 5000));
        }
        view.dialogAnswers.push_back(write(QStringLiteral("good.bin"), makeImage(4000, "GOOD0001")));
        view.dialogAnswers.push_back(path.isEmpty() ? std::nullopt : std::optional(target));
        cmdSelFile_Click(view, sel);
        cmdSelFile_Click(view, sel);
        QVERIFY(view.boxes.empty());
        QVERIFY(view.programEnabled);
        QCOMPARE(view.file, QDir(files.exeDir()).filePath(QStringLiteral("good.bin")));
        QCOMPARE(view.size, QStringLiteral("4000"));
        QCOMPARE(sel.dialogFileName, path.isEmpty() ? QString() : target);
    }

    // Bytes that are not UTF-8 decode to U+FFFD, which may name another file.
    void inexactPathRefused()
    {
        const QString path = write(QString(QChar(QChar::ReplacementCharacter)) + ".bin", makeImage(1100));
        RecordingView view;
        ImageSelection selection;
        QCOMPARE(checkAndShowImage(view, selection, path), SelectOutcome::Unreadable);
        Link link;
        QVERIFY(!runStartUp(link, readConfiguration(files.exeDir() + QChar(QChar::ReplacementCharacter))).ok);
    }
};

QTEST_GUILESS_MAIN(TestImage)
#include "test_image.moc"
