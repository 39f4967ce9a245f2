// Speed and CPU figures of the updater against the simulated indicator.
// Prints markdown tables; bench/run.sh adds the multi-process figures.

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <cstdio>

#include "BenchCommon.h"
#include "BenchUpdate.h"
#include "Simulator.h"
#include "app/core/StartUp.h"
#include "link/Exchange.h"
#include "link/Link.h"
#include "protocol/frames.h"

namespace {

constexpr double Ceiling115200 = 98.0 / 111.0 * 11520.0;  // payload bytes/s, stop-and-wait

struct ExchangeFigures {
    double perSecond = 0, cpuPerWaitSecond = 0, addedMs = 0;
    int failures = 0;
};

ExchangeFigures benchExchanges(bool blocks, unsigned baud, int count)
{
    QTemporaryDir dir;
    torvexsim::Options o;
    o.startInBootLoader = true;
    o.baud = baud;
    o.flashSize = 8u << 20;
    o.linkPath = QDir(dir.path()).filePath(QStringLiteral("sim")).toStdString();
    torvexsim::Simulator sim(o);
    sim.start();
    Link link;
    link.com1.setPort({0, QString::fromStdString(sim.slavePath()), {}});
    configurePort(link);
    ExchangeFigures f;
    std::array<std::uint8_t, RxBufferSize> block{};
    for (int i = 0; i < proto::MaxBlockLength; ++i)
        block[size_t(i)] = std::uint8_t(i * 7);
    if (blocks)
        funSendCommand(link, 'W', 0, 0, 5, 200, true);

    QElapsedTimer t;
    t.start();
    const double cpu0 = threadCpuSeconds();
    std::uint8_t seq = 0;
    for (int i = 0; i < count; ++i) {
        const CmdResult r = blocks ? funSendBlock(link, block, proto::MaxBlockLength, seq++, 2000)
                                   : funSendCommand(link, 'W', 0, 0, 5, 200, true);
        f.failures += r != CmdResult::Ack;
    }
    const double wall = double(t.nsecsElapsed()) / 1e9;
    const double cpu = threadCpuSeconds() - cpu0;
    const double wireBytes = blocks ? 8 + 98 + 5 : 15 + 5;
    const double wire = baud ? wireBytes * 10.0 / baud : 0.0;
    f.perSecond = count / wall;
    f.cpuPerWaitSecond = cpu / wall;
    f.addedMs = (wall / count - wire) * 1e3;
    link.com1.close();
    return f;
}

void exchanges(int count)
{
    std::printf("\n### Exchanges (%d each)\n\n", count);
    std::printf("| exchange | pacing | round trips/s | CPU s per s of waiting | added to wire time (ms) | failed |\n");
    std::printf("|---|---|---:|---:|---:|---:|\n");
    for (unsigned baud : {0u, 115200u})
        for (bool blocks : {false, true}) {
            const int n = baud ? count / 10 : count;
            const auto f = benchExchanges(blocks, baud, n);
            std::printf("| %s | %s | %.0f | %.4f | %.3f | %d |\n", blocks ? "98-byte block" : "command \"W\"",
                        baud ? "115200" : "none", f.perSecond, f.cpuPerWaitSecond, f.addedMs, f.failures);
            std::fflush(stdout);
        }
}

void updates(qint64 pacedSize, qint64 fastSize)
{
    std::printf("\n### Updates, in process\n\n");
    std::printf("| front | pacing | bytes | blocks | block phase (s) | payload B/s | of ceiling | ms per block | updater's own ms per block (median / mean) | CPU of updater |\n");
    std::printf("|---|---|---:|---:|---:|---:|---:|---:|---:|---:|\n");
    for (bool window : {false, true})
        for (unsigned baud : {115200u, 0u}) {
            const qint64 size = baud ? pacedSize : fastSize;
            const auto f = benchUpdate(size, baud, window);
            const double rate = double(size) / f.blockSeconds;
            std::printf("| %s | %s | %lld | %d | %.3f | %.0f | %s | %.4f | %.4f / %.4f | %.1f %% |\n",
                        window ? "window (offscreen)" : "core", baud ? "115200" : "none", size, f.blocks,
                        f.blockSeconds, rate,
                        baud ? qPrintable(QString::asprintf("%.1f %%", 100.0 * rate / Ceiling115200)) : "-",
                        1e3 * f.blockSeconds / qMax(1, f.blocks), f.ownMedianUs / 1e3, f.ownMeanUs / 1e3,
                        100.0 * f.blockCpu / f.blockSeconds);
            if (!f.ok)
                std::printf("| (update failed) |\n");
            std::fflush(stdout);
        }
}

void erase(int ms)
{
    double wall = 0;
    const double cpu = benchEraseCpu(ms, &wall);
    std::printf("\n### Waiting for an erase\n\n| erase (s) | CPU s | of one core |\n|---:|---:|---:|\n");
    std::printf("| %.2f | %.4f | %.2f %% |\n", wall, cpu, 100.0 * cpu / wall);
}

}  // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    const bool quick = args.contains(QStringLiteral("--quick"));
    const auto wants = [&](const char *what) {
        return args.isEmpty() || args == QStringList{QStringLiteral("--quick")} || args.contains(QLatin1String(what));
    };
    if (wants("exchanges"))
        exchanges(quick ? 500 : 5000);
    if (wants("updates"))
        updates(quick ? 32 * 1024 : 256 * 1024, quick ? 256 * 1024 : 2 * 1024 * 1024);
    if (wants("erase"))
        erase(quick ? 2000 : 10000);
    return 0;
}
