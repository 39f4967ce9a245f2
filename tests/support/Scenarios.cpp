#include "support/Scenarios.h"

#include "support/SimRig.h"

#include <QRegularExpression>
#include <QtTest>

namespace {

QString head(const QString &chip = QStringLiteral("M29W160EB"), bool versionLine = true)
{
    return QStringLiteral("Connection with indicator Ok. Flash:") + chip + QLatin1Char('\n')
         + (versionLine ? QStringLiteral("Indicator software version: V1.10.00\n") : QStringLiteral("\n"));
}

const QString Erased = QStringLiteral("Erasing flash .\nFlash erase finished ok.\nWriting program to flash  ");

QString done(int size)
{
    const QString n = QString::number(size);
    return Erased + QLatin1Char('(') + n + QLatin1Char('/') + n
         + QStringLiteral(")\nProgram update Ok.\nReseting indicator.\n");
}

const QString WriteFail = Erased + QStringLiteral("(98/1100)\nWrite Fail!!.\n");
const QString EraseFail = QStringLiteral("Erasing flash ... Fail !");
const QStringList Whole{"wake", "I", "E", "W", "blocks", "end", "S"};
const QStringList LateThenLast{"wake", "I", "E", "W", "b0-1", "b1", "b2-11", "b11", "end", "S"};
const QStringList BlockFailed{"wake", "I", "E", "W", "b0-1", "b1", "b1", "resync", "end"};

std::vector<Scenario> table()
{
    using O = UpdateOutcome;
    const QString noConnection = QStringLiteral("!Can't connect with indicator.");
    const QString writeError = QStringLiteral("Error al escribir en flash");
    const QString endWriteError = QStringLiteral("Error al salir del modo escritura flash");
    return {
        {"healthy indicator", {}, 1100, O::Ok, 0, {}, head() + done(1100), Whole, true},
        // A healthy indicator, at any latency: every frame once, no quiet wait.
        {"healthy, every reply 2 ms after its frame", {"latency=2"}, 1100, O::Ok, 0, {}, head() + done(1100), Whole,
         true},
        {"healthy, every reply 50 ms after its frame", {"latency=50"}, 1100, O::Ok, 0, {}, head() + done(1100),
         Whole, true},
        {"healthy, paced at 115200 baud", {"baud=115200"}, 1100, O::Ok, 0, {}, head() + done(1100), Whole, true},
        {"healthy, a byte after every reply that cannot start another", {"any:stray-after=1"}, 1100, O::Ok, 0, {},
         head() + done(1100), Whole, true},
        {"M29W320DB, 260 blocks: the sequence wraps", {"device=22CB"}, 260 * 98 - 5, O::Ok, 0, {},
         head("M29W320DB") + done(260 * 98 - 5), Whole, true},
        {"unknown chip, another model: no version", {"device=1234", "model=KD8"}, 1176, O::Ok, 0, {},
         head("???????", false) + done(1176), Whole, true},
        {"chip codes in hex letters, not nibbles", {"plain-hex", "device=22CB"}, 1100, O::Ok, 0, {},
         head("???????") + done(1100), Whole, true},
        {"identify refused", {"I:refuse"}, 1100, O::NoConnection, 4, {noConnection}, "", {"wake", "I"}, false},
        {"identify unanswered", {"I:silence"}, 1100, O::NoConnection, 4, {noConnection}, "", {"wake", "I"},
         false, true},
        {"erase refused", {"erase=nak"}, 1100, O::EraseFailed, 5, {"!Fail erasing the flash"},
         head() + EraseFail, {"wake", "I", "E"}, false},
        {"write mode refused", {"W:refuse"}, 1100, O::WriteModeFailed, 4, {noConnection}, head() + Erased,
         {"wake", "I", "E", "W"}, false},
        {"write mode answered with code 07", {"W:code=0x07"}, 1100, O::WriteModeFailed, 4, {noConnection},
         head() + Erased, {"wake", "I", "E", "W"}, false},
        {"block refused three times", {"block1:refuse=3"}, 1100, O::WriteFailed, 6, {writeError},
         head() + WriteFail, BlockFailed, false},
        {"block failed, end of write refused too", {"block1:refuse=3", "end:refuse"}, 1100, O::WriteFailed, 6,
         {writeError, endWriteError}, head() + WriteFail, BlockFailed, false},
        {"block refused twice, then taken", {"block2:refuse=2"}, 1100, O::Ok, 0, {}, head() + done(1100),
         {"wake", "I", "E", "W", "b0-2", "b2", "b2", "b3-11", "end", "S"}, true},
        {"end of write refused", {"end:refuse"}, 1100, O::EndWriteRefused, 7, {endWriteError},
         head() + done(1100), Whole, true},
        {"reset refused", {"S:refuse"}, 1100, O::ResetFailed, 8, {"!Fail reseting indicator."},
         head() + done(1100), Whole, true},
        {"block reply lost: the block goes again", {"block4:lose*1"}, 1100, O::Ok, 0, {}, head() + done(1100),
         {"wake", "I", "E", "W", "b0-4", "b4", "b5-11", "end", "S"}, true, true},
        {"block reply late, within its limit", {"block3:delay=1500*1"}, 1100, O::Ok, 0, {},
         head() + done(1100), Whole, true, true},
        {"erase reply late, within its limit", {"E:delay=3500"}, 1100, O::Ok, 0, {}, head() + done(1100),
         Whole, true, true},
        // A lost port ends the update at once through its failure path.
        {"unplugged after block 3", {"hang-up=3"}, 1100, O::WriteFailed, 9, {writeError, endWriteError},
         head() + Erased + QStringLiteral("(392/1100)\nWrite Fail!!.\n"), {"wake", "I", "E", "W", "b0-3"},
         false},
        // Replies carry no sequence number: one that comes after its limit must
        // not be read as the reply to a later frame, nor hide a lost last block.
        {"block 2.05 s late, last block ignored once", {"program=100", "block1:delay=2050*1", "block11:silence*1"},
         1100, O::Ok, 0, {}, head() + done(1100), LateThenLast, true, true},
        {"block 2.15 s late, last block refused", {"program=100", "block1:delay=2150*1", "block11:refuse=3"},
         1100, O::WriteFailed, 6, {writeError}, head() + Erased + QStringLiteral("(1078/1100)\nWrite Fail!!.\n"),
         {"wake", "I", "E", "W", "b0-1", "b1", "b2-11", "b11", "b11", "resync", "end"}, false, true},
        {"last block and every empty frame late", {"program=100", "block11:delay=2050*1", "end:delay=350"}, 1100,
         O::EndWriteRefused, 7, {endWriteError}, head() + done(1100),
         {"wake", "I", "E", "W", "b0-11", "b11", "end", "S"}, true, true},
        // An extra reply after the erase may have stood in for the erase's or
        // write mode's: unproven. (Wire unchecked: retries follow its timing.)
        {"every reply copied 120 ms late, last block's reply lost once", {"any:twice=120", "block11:lose*1"}, 1100,
         O::Unproven, 10, {writeError}, head() + Erased + QStringLiteral("(1100/1100)\nWrite Fail!!.\n"), {}, true,
         true},
        // A far slower reply to the last block: the block is asked for again.
        {"a reply copied 500 ms late into the wait of a last block the indicator ignored",
         {"block10:twice=500*1", "block11:silence*1"}, 1100, O::Ok, 0, {}, head() + done(1100),
         {"wake", "I", "E", "W", "b0-11", "b11", "end", "S"}, true, true},
        {"noise after block 10's reply, last block refused", {"block10:stray-after=3*1", "block11:refuse=3"}, 1100,
         O::WriteFailed, 6, {writeError}, head() + Erased + QStringLiteral("(1078/1100)\nWrite Fail!!.\n"), {},
         false, true},
        {"block 3 slow on every attempt, last block ignored once", {"block3:delay=2050", "block11:silence*1"}, 1100,
         O::WriteFailed, 6, {writeError}, head() + Erased + QStringLiteral("(294/1100)\nWrite Fail!!.\n"), {},
         false, true},
        // A line repeating an acknowledgement answers for a busy indicator.
        {"acknowledgement repeated every 80 ms while block 3 takes 2.5 s", {"block2:repeat=80", "block3:delay=2500*1"},
         1100, O::Unproven, 10, {writeError}, head() + Erased + QStringLiteral("(1100/1100)\nWrite Fail!!.\n"), {},
         false, true},
    };
}

}  // namespace

const std::vector<Scenario> &scenarios()
{
    static const std::vector<Scenario> rows = table();
    return rows;
}

void addScenarioRows(bool (*wanted)(const Scenario &))
{
    QTest::addColumn<int>("scenario");
    for (size_t i = 0; i < scenarios().size(); ++i) {
        const Scenario &s = scenarios()[i];
        if ((!wanted || wanted(s)) && rowRunsHere(s.slow))
            QTest::newRow(qPrintable(s.name)) << int(i);
    }
}

const Scenario *rowScenario(SimRig &rig)
{
    if (!QTest::currentDataTag())
        return nullptr;
    const Scenario &s = scenarios()[size_t(*static_cast<int *>(QTest::qData("scenario", QMetaType::Int)))];
    if (!rig.start(indicator(s.indicator)))
        qFatal("the simulated indicator did not start");
    return &s;
}

QString foldStatus(QString status)
{
    status.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    static const QRegularExpression dots(QStringLiteral("Erasing flash \\.+?(?=\\.\\. Fail !|\n|$)"));
    return status.replace(dots, QStringLiteral("Erasing flash ."));
}

bool slowShard()
{
    return qEnvironmentVariableIsSet("TORVEX_SLOW");
}

bool rowRunsHere(bool slow)
{
    static int slowSeen = 0;
    const QList<QByteArray> shard = qgetenv("TORVEX_SLOW").split('/');
    if (shard.size() != 2)
        return !slow;
    return slow && slowSeen++ % qMax(1, shard[1].toInt()) == shard[0].toInt();
}
