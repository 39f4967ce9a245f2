// The line's trust rule as tables of timed events in, verdicts out. A script
// is events "TIME" + what: >R >I >E >W >B >N >S a frame went out (resync,
// identify, erase, write mode, block, end of write, reset); <a <n its wait
// ended with an ACK, a NAK; <d <g <u <- a damaged reply, garbage without STX,
// an unknown code, none; a trailing + or . : another reply, or a CR, came
// with it; ! , a reply, or bytes without STX, while no frame waits; q the
// line waited out; b a new update. "0>E 9<a 10>W 12<a+": write mode
// acknowledged with an extra reply.

#include <QtTest>

#include "link/LineTrust.h"

using namespace trust;

Q_DECLARE_METATYPE(trust::Verdict)

namespace {

using Bytes = std::vector<std::uint8_t>;
const Bytes Ack{0x02, 0x06, 0x00, 0x0A, 0x0D};

// Runs a script; the event texts after the time are as in the header.
void play(LineTrust &rule, const QString &script)
{
    static const QHash<QChar, std::pair<Frame, int>> frames{
        {'R', {Frame::Resync, 300}}, {'I', {Frame::Identify, 200}}, {'E', {Frame::Erase, 25000}},
        {'W', {Frame::WriteMode, 200}}, {'B', {Frame::Block, 2000}}, {'N', {Frame::EndWrite, 300}},
        {'S', {Frame::Reset, 300}}};
    static const QHash<QChar, std::pair<Reply, Bytes>> replies{
        {'a', {Reply::Ack, Ack}}, {'n', {Reply::Refused, {0x02, 0x15, 0x00, 0x19, 0x0D}}},
        {'d', {Reply::Damaged, {0x02, 0x06, 0x00, 0x0B, 0x0D}}}, {'g', {Reply::Damaged, {0x55, 0x55, 0x55, 0x55}}},
        {'u', {Reply::UnknownCode, {0x02, 0x07, 0x00, 0x0B, 0x0D}}}, {'-', {Reply::None, {}}}};
    for (const QString &event : script.split(' ', Qt::SkipEmptyParts)) {
        const qsizetype cut = event.indexOf(QRegularExpression("[^0-9.]"));
        const Nanos t = Nanos(event.left(cut).toDouble() * double(Ms));
        const QString what = event.mid(cut);
        if (what[0] == '>') {
            rule.frameSent(t, frames[what[1]].first, frames[what[1]].second);
        } else if (what[0] == '<') {
            auto [reply, bytes] = replies.value(what[1]);
            if (what.endsWith('+'))
                bytes.insert(bytes.end(), Ack.begin(), Ack.end());
            if (what.endsWith('.'))
                bytes.push_back(0x0D);
            rule.replyEnded(t, reply, bytes, 5);
        } else if (what == "!" || what == ",") {
            rule.bytesOutside(t, what == "!" ? Ack : Bytes{0x0D, 0x0A, 0x00});
        } else if (what == "q") {
            rule.waitedOut();
        } else {
            rule.beginUpdate(t);
        }
    }
}

// A healthy update, every reply `lat` ms after its frame; `extra` follows
// each reply in its read.
QString healthy(double lat, int blocks, const QString &extra = {})
{
    QStringList s;
    double t = 0;
    const auto exchange = [&](char frame) {
        s << QStringLiteral("%1>%2").arg(t).arg(frame);
        t += lat;
        s << QStringLiteral("%1<a%2").arg(t).arg(extra);
    };
    s << "0b";
    for (char f : {'R', 'I', 'E', 'W'})
        exchange(f);
    for (int k = 0; k < blocks; ++k)
        exchange('B');
    exchange('N');
    exchange('S');
    return s.join(' ');
}

}  // namespace

class TestTrust : public QObject {
    Q_OBJECT

private slots:
    // What an update may still claim after each kind of event.
    void verdicts_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<Verdict>("verdict");
        QTest::addColumn<int>("cause");  // of the deciding doubt, -1: none
        QTest::addColumn<bool>("stands");  // the last exchange's take

        const auto row = [](const char *name, const QString &script, Verdict v, int cause, bool stands) {
            QTest::newRow(name) << script << v << cause << stands;
        };
        const int none = -1, extra = int(Cause::ExtraReply);
        // A healthy line is never doubted, whatever its latency; bytes that
        // cannot start a reply are not doubt either.
        row("healthy, no latency", healthy(0, 12), Verdict::Clean, none, true);
        row("healthy, 2 ms", healthy(2, 12), Verdict::Clean, none, true);
        row("healthy, 50 ms", healthy(50, 12), Verdict::Clean, none, true);
        row("healthy, a trailing CR on every reply", healthy(2, 12, "."), Verdict::Clean, none, true);
        row("firmware chatter before the resync", "0b 0! 1, 2>R 3<a 4>I 6<a", Verdict::Clean, none, true);

        // Nothing the indicator keeps is undone by an extra reply before the erase.
        row("extra reply after the resync", "0b 0>R 1<a 2! 3>I 4<a", Verdict::Doubted, none, true);
        row("extra reply with the identify's", "0b 0>R 1<a 2>I 4<a+", Verdict::Doubted, none, true);

        // After the erase, an extra reply may stand for its own or write
        // mode's: nothing can prove them again.
        const QString written = "0b 0>R 1<a 2>I 3<a 4>E 500<a 501>W 502<a 503>B 504<a 505>B 506<a";
        row("extra reply with the erase's", "0b 0>R 1<a 2>I 3<a 4>E 500<a+", Verdict::Unproven, extra, false);
        row("extra reply with write mode's", "0b 0>R 1<a 2>I 3<a 4>E 500<a 501>W 502<a+", Verdict::Unproven, extra,
            false);
        row("extra reply between blocks", written + " 507!", Verdict::Unproven, extra, false);
        row("copy of the resync's reply taken for the erase's", "0b 0>R 1<a 2>I 3<a 4>E 120<a 121>W 130<a+",
            Verdict::Unproven, extra, false);
        row("late reply of a timed-out block, paid", written + " 507>B 2507<- 2600! 5000q", Verdict::Clean, none,
            false);
        row("garbage, then the real reply", written + " 507>B 508<g 509!", Verdict::Doubted, none, false);
        row("two late replies for one time-out", written + " 507>B 2507<- 2600! 2601!", Verdict::Unproven, extra,
            false);
        // An erase's reply is owed for twice its limit: later, the erase and
        // write mode stand, a block not yet guarded by the next is sent again.
        const QString late = "0b 0>R 1<a 2>I 3<a 4>E 500<a 501>W 502<a 60000>B 60001<a";
        row("block with an extra reply, past the erase's time", late + "+", Verdict::Void, extra, false);
        row("extra reply before the last block", late + " 60005!", Verdict::Void, extra, false);
        row("guarded block: the next one went out", late + " 60002>B 60004<a+", Verdict::Void, extra, false);
        row("extra reply after the end of write", late + " 60002>N 60003<a 60010!", Verdict::Unproven, extra,
            false);
        row("refused end of write, then an extra reply", late + " 60002>N 60003<n 60010!", Verdict::Unproven,
            extra, false);
        row("extra reply with the reset's", late + " 60002>N 60003<a 60100>S 60101<a+", Verdict::Unproven,
            extra, false);
        // Doubt the last update left is the next one's.
        row("a time-out carried over", "0b 0>R 1<a 2>I 202<- 300b", Verdict::Doubted, none, false);
        row("waited out before the wake-up", "0b 0>R 1<a 2>I 202<- 300b 900q 901>R 902<a", Verdict::Clean, none,
            true);
    }
    void verdicts()
    {
        QFETCH(QString, script);
        QFETCH(Verdict, verdict);
        QFETCH(int, cause);
        QFETCH(bool, stands);
        LineTrust rule;
        play(rule, script);
        QCOMPARE(rule.verdict(), verdict);
        QCOMPARE(rule.deciding() ? int(rule.deciding()->cause) : -1, cause);
        QCOMPARE(rule.lastTakeStands(), stands);
    }

    // Every suspect event keeps its cause and the frame it came after.
    void causes()
    {
        LineTrust rule;
        play(rule, "0b 0>R 1<a 2>I 202<- 900q 901>I 902<d 1400q 1401>I 1402<u 1900q 1901>I 1902<a 2000>E 2100<a "
                   "2101>W 2102<a 2103>B 2104<a 2105!");
        QStringList seen;
        for (const Doubt &d : rule.doubts())
            seen << QStringLiteral("%1@%2").arg(int(d.cause)).arg(int(d.frame));
        const auto at = [](Cause c, Frame f) { return QStringLiteral("%1@%2").arg(int(c)).arg(int(f)); };
        QCOMPARE(seen, (QStringList{at(Cause::NoReply, Frame::Identify), at(Cause::DamagedReply, Frame::Identify),
                                    at(Cause::UnknownCode, Frame::Identify), at(Cause::ExtraReply, Frame::Block)}));
        QCOMPARE(rule.deciding()->at, 2105 * Ms);
    }

    // When the next frame may go out.
    void gate_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<double>("now");
        QTest::addColumn<double>("lastRx");
        QTest::addColumn<double>("since");
        QTest::addColumn<int>("kind");
        QTest::addColumn<double>("until");
        const QString timedOut = "0b 0>R 1<a 2>I 3<a 4>E 5<a 6>W 7<a 10>B 2010<-";
        QTest::newRow("clean: at once") << "0b 0>R 1<a" << 1.0 << 1.0 << 1.0 << int(Gate::Go) << 1.0;
        QTest::newRow("time-out: twice the limit after the frame")
            << timedOut << 2010.0 << 0.0 << 2010.0 << int(Gate::Wait) << 4010.0;
        QTest::newRow("time-out: quiet for the limit after a late byte")
            << timedOut << 4010.0 << 3000.0 << 2010.0 << int(Gate::Wait) << 5000.0;
        QTest::newRow("time-out: quiet long enough") << timedOut << 5000.0 << 3000.0 << 2010.0 << int(Gate::Go)
                                                     << 5000.0;
        QTest::newRow("a line that never goes quiet") << timedOut << 12010.0 << 12009.0 << 2010.0
                                                      << int(Gate::Unusable) << 12010.0;
        QTest::newRow("earlier run: its limit, at least the policy's")
            << "0b 0>R 1<a 2>I 202<- 300b" << 300.0 << 0.0 << 300.0 << int(Gate::Wait) << 602.0;
    }
    void gate()
    {
        QFETCH(QString, script);
        QFETCH(double, now);
        QFETCH(double, lastRx);
        QFETCH(double, since);
        QFETCH(int, kind);
        QFETCH(double, until);
        LineTrust rule;
        play(rule, script);
        const Gate g = rule.gate(Nanos(now * Ms), Nanos(lastRx * Ms), Nanos(since * Ms));
        QCOMPARE(int(g.kind), kind);
        QCOMPARE(g.until, Nanos(until * Ms));
    }

    // The end watches: the writing's longest reply time and an eighth, plus
    // slack, never under the minimum; before the last block counted from the
    // last reply's frame, after the end from the reply itself. A last reply
    // far slower than the usual may have been a stand-in for a busy
    // indicator: both watches then last a block's limit, until a quiet watch
    // shows it was the indicator's own.
    void watches_data()
    {
        QTest::addColumn<double>("lat");
        QTest::addColumn<double>("slow");    // the last reply's time, ms
        QTest::addColumn<double>("before");  // ms after the last reply's frame; -1: the long watch
        QTest::addColumn<double>("after");   // ms after the last reply
        QTest::newRow("no latency") << 0.0 << 0.0 << 20.0 << 20.0;
        QTest::newRow("2 ms") << 2.0 << 2.0 << 20.0 << 20.0;
        QTest::newRow("paced line, 18 ms") << 18.0 << 18.0 << 24.25 << 24.25;
        QTest::newRow("50 ms") << 50.0 << 50.0 << 60.25 << 60.25;
        QTest::newRow("1 ms line, a 21 ms reply") << 1.0 << 21.0 << 27.625 << 27.625;
        QTest::newRow("1 ms line, a 40 ms reply") << 1.0 << 40.0 << -1.0 << -1.0;
        QTest::newRow("50 ms line, a 115 ms reply") << 50.0 << 115.0 << 133.375 << 133.375;
        QTest::newRow("50 ms line, a 125 ms reply") << 50.0 << 125.0 << -1.0 << -1.0;
    }
    void watches()
    {
        QFETCH(double, lat);
        QFETCH(double, slow);
        QFETCH(double, before);
        QFETCH(double, after);
        LineTrust rule;
        // A busy indicator's own reply comes within a block's limit.
        QCOMPARE(rule.policy().longWatch, 2000 * Ms);
        play(rule, healthy(lat, 8));
        const double frame = 14 * lat + 1, reply = frame + slow;
        play(rule, QStringLiteral("%1>B %2<a").arg(frame).arg(reply));
        const Nanos longWatch = Nanos(reply * Ms) + rule.policy().longWatch;
        QCOMPARE(rule.lastReplyStandsOut(), before < 0);
        QCOMPARE(rule.watchBeforeLastBlock(), before < 0 ? longWatch : Nanos((frame + before) * Ms));
        QCOMPARE(rule.watchAfterEnd(), after < 0 ? longWatch : Nanos((reply + after) * Ms));
        rule.watchedQuietly();
        QVERIFY(rule.watchAfterEnd() < longWatch);
    }
};

QTEST_GUILESS_MAIN(TestTrust)
#include "test_trust.moc"
