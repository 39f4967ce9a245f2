// The pages that carry the contract's lists, read against it: a word added to
// contract/FlashContract.h and left out of a page fails here.

#include <QRegularExpression>
#include <QtTest>

#include "FlashContract.h"

namespace {

QString page(const char *path)
{
    QFile f(QFINDTESTDATA(QLatin1String("../") + QLatin1String(path)));
    if (!f.open(QIODevice::ReadOnly))
        qFatal("cannot read %s", path);
    return QString::fromUtf8(f.readAll());
}

// The first cells of the table rows in the section that begins with `heading`.
QStringList firstCells(const QString &text, const QString &heading)
{
    const qsizetype from = text.indexOf(QLatin1Char('\n') + heading + QLatin1Char('\n'));
    if (from < 0)
        return {};
    const qsizetype end = text.indexOf(QRegularExpression(QStringLiteral("\n#+ ")), from + 1);
    QStringList cells;
    for (const QString &line : text.mid(from, end < 0 ? -1 : end - from).split(QLatin1Char('\n')))
        if (line.startsWith(QLatin1String("| ")) && !line.startsWith(QLatin1String("| code ")))
            cells << line.section(QLatin1Char('|'), 1, 1).trimmed();
    return cells;
}

QString quoted(QLatin1String word) { return QLatin1Char('`') + word + QLatin1Char('`'); }

}  // namespace

class TestPages : public QObject {
    Q_OBJECT

private slots:
    // The README's exit table has one row per exit status; both pages name every doubt cause.
    void pagesNameTheContract()
    {
        QStringList codes;
        for (const ExitMeaning &m : ExitMeanings)
            codes << QLatin1String(m.codes);
        QCOMPARE(firstCells(page("README.md"), QStringLiteral("### Exit status")), codes);
        for (const char *path : {"README.md", "doc/json-events.md"})
            for (const DoubtMeaning &d : DoubtMeanings)
                QVERIFY2(page(path).contains(QStringLiteral("| ") + quoted(d.cause) + QStringLiteral(" |")),
                         qPrintable(QStringLiteral("%1 has no row for %2").arg(QLatin1String(path), d.cause)));
        // doc/json-events.md names every event, outcome (with its status) and stage.
        const QString text = page("doc/json-events.md");
        const QString words = text.simplified();  // a line may wrap anywhere
        const QStringList events = firstCells(text, QStringLiteral("## Progress as JSON lines (`--json`)"));
        for (QLatin1String e : {event::Start, event::Stage, event::Indicator, event::Progress, event::Status,
                                event::Message, event::Waiting, event::Doubt, event::End})
            QVERIFY2(events.contains(quoted(e)), qPrintable(QStringLiteral("no row for the event ") + e));
        for (const ExitMeaning &m : ExitMeanings) {
            const QString said = quoted(m.outcome) + QStringLiteral(" (") + QLatin1String(m.codes);
            QVERIFY2(words.contains(said), qPrintable(QStringLiteral("not said: ") + said));
        }
        QVERIFY(text.contains(quoted(outcome::Failed)));
        for (QLatin1String stage : StageWords)
            QVERIFY2(text.contains(quoted(stage)), qPrintable(QStringLiteral("stage not named: ") + stage));
    }
};

QTEST_GUILESS_MAIN(TestPages)
#include "test_pages.moc"
