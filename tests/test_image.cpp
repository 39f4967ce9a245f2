// The image's identification block, what "Select File" makes of each kind
// of image, and names that cannot be opened as given.

#include <QBuffer>
#include <QtTest>
#include <sys/stat.h>

#include "image/FileSelection.h"
#include "image/ImageFile.h"
#include "support/RecordingView.h"
#include "support/SimRig.h"

static const QString NotIndicator = QStringLiteral("!This file is not compatible with the indicator.");
static const QString NotBootloader = QStringLiteral("!This file is not compatible with this bootloader.");

class TestImage : public QObject {
    Q_OBJECT

    SimRig files;  // its folder only

private slots:
    void fields()
    {
        QByteArray full = QByteArray(1024, '\xA5') + "V1.02.03KD70LABT" + QByteArray(100, '\xA5'), cut = full.left(1031);
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
    // keeps or clears the old one. A cancelled dialog or something that is no
    // image file (huge.bin: sparse, over 2 GiB; U+FFFD, what bytes that are not
    // UTF-8 decode to, may name another file) changes nothing.
    void select_data()
    {
        QTest::addColumn<QString>("name");  // the second pick, where `image`, if any, is written
        QTest::addColumn<QByteArray>("image");
        QTest::addColumn<bool>("progMode");
        QTest::addColumn<QString>("box");    // "" for none
        QTest::addColumn<QString>("shown");  // "new", "old", "kept" (program still enabled) or "none"
        QTest::addColumn<bool>("labShown");
        const auto row = [](const char *name, const QByteArray &image, bool progMode, const QString &box,
                            const char *shown, bool lab = false) {
            QTest::newRow(name) << QStringLiteral("versión ñ.bin") << image << progMode << box << shown << lab;
        };
        row("release", makeImage(70000), false, "", "new");
        row("1034 bytes", makeImage(1034), false, NotIndicator, "none");
        row("exactly 1035 bytes: level reads NUL", makeImage(1035), false, "", "new");
        row("kd7", makeImage(2000, "V", "kd7"), false, NotIndicator, "none");
        row("model before level and tag", makeImage(2000, "V", "KD8", '5', "LABT"), true, NotIndicator, "none");
        row("level '/'", makeImage(2000, "V", "KD7", '/'), false, "", "new");
        row("level '1'", makeImage(2000, "V", "KD7", '1'), false, NotBootloader, "none");
        row("level 0x80, not negative", makeImage(2000, "V", "KD7", char(0x80)), false, NotBootloader, "none");
        row("lab build, mode on", makeImage(2000, "V", "KD7", '0', "LABT"), true, "", "new", true);
        row("lab build, mode off", makeImage(2000, "V", "KD7", '0', "LABT"), false, "!This file can't be loaded.", "old");
        row("labt is no lab build", makeImage(2000, "V", "KD7", '0', "labt"), false, "", "new");
        row("tag cut short", makeImage(1039, "V", "KD7", '0', "LABT"), false, "", "new");
        for (const char *name : {"cancel", "nothing-here.bin", ".", "/dev/zero", "fifo", "huge.bin"})
            QTest::newRow(name) << name << QByteArray() << false << "" << "kept" << false;
        QTest::newRow("U+FFFD") << QString(QChar(QChar::ReplacementCharacter)) + ".bin" << makeImage(1100) << false << ""
                                << "kept" << false;
    }
    void select()
    {
        QFETCH(QString, name); QFETCH(QByteArray, image); QFETCH(bool, progMode);
        QFETCH(QString, box); QFETCH(QString, shown); QFETCH(bool, labShown);
        RecordingView view;
        ImageSelection sel;
        sel.ProgMode = progMode;
        const QString old = files.writeFile(QStringLiteral("old.bin"), makeImage(4000, "GOOD0001"));
        const QString path = !image.isEmpty() ? files.writeFile(name, image)
                             : name.startsWith(QLatin1Char('/')) ? name : QDir(files.exeDir()).filePath(name);
        if (name == QLatin1String("fifo"))
            QVERIFY(::mkfifo(QFile::encodeName(path).constData(), 0600) == 0 || errno == EEXIST);
        if (QFile huge(path); name == QLatin1String("huge.bin"))
            QVERIFY(huge.open(QIODevice::WriteOnly) && huge.resize((qint64(1) << 31) + 5000));
        view.dialogAnswers = {old, name == QLatin1String("cancel") ? std::nullopt : std::optional(path)};
        cmdSelFile_Click(view, sel);
        cmdSelFile_Click(view, sel);
        QCOMPARE(view.dialogRequests[0].defaultSuffix, QStringLiteral("bin"));
        QCOMPARE(view.dialogRequests[0].filter, QStringLiteral(" Fichero binario(*.bin)|*.bin"));
        QCOMPARE(view.boxes, box.isEmpty() ? QStringList() : QStringList{box});
        QCOMPARE(view.programEnabled, shown == "new" || shown == "kept");
        QCOMPARE(view.labVisible, labShown);
        QCOMPARE(sel.dialogFileName, name == QLatin1String("cancel") ? QString() : path);
        const bool isNew = shown == "new", isOld = shown == "old" || shown == "kept";
        QCOMPARE(view.file, isNew ? path : isOld ? old : QString());
        QCOMPARE(view.size, isNew ? QString::number(image.size()) : QString::fromLatin1(isOld ? "4000" : "----------"));
        QCOMPARE(sel.FileSize, std::int32_t(isNew ? image.size() : isOld ? 4000 : 0));
        QCOMPARE(view.version, isNew ? QString::fromLatin1(image.mid(1024, 8)).leftJustified(8, QChar(0), true)
                                     : QString::fromLatin1(isOld ? "GOOD0001" : "----------"));
    }
};

QTEST_GUILESS_MAIN(TestImage)
#include "test_image.moc"
