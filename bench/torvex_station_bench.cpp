// torvex-station against eight paced simulated indicators (torvex-flash and
// torvex-sim as processes): each update's time against one update alone, and
// the station's own CPU while they run. Prints a markdown table.

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <cstdio>
#include <memory>
#include <sys/resource.h>
#include <vector>

#include "PortTable.h"
#include "StationWindow.h"

namespace {

double processCpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

struct Run {
    std::vector<double> seconds;  // each update, start of its child to its end
    std::vector<int> exits;
    double wall = 0, cpu = 0;     // the whole run, and the station's CPU meanwhile
};

// Ticks ports com1..comN, updates them and waits until all have ended.
Run run(StationWindow &station, int ports)
{
    PortTable &table = station.ports();
    for (int r = 0; r < table.rowCount(); ++r)
        table.setTicked(r, false);
    for (int i = 1; i <= ports; ++i)
        table.setTicked(table.row(QStringLiteral("com%1").arg(i)), true);
    QEventLoop loop;
    QObject::connect(&table, &PortTable::jobFinished, &loop, [&] {
        if (!station.busy())
            loop.quit();
    });
    QElapsedTimer wall;
    wall.start();
    const double cpu0 = processCpuSeconds();
    station.updateTicked();
    loop.exec();
    Run r;
    r.cpu = processCpuSeconds() - cpu0;
    r.wall = double(wall.nsecsElapsed()) / 1e9;
    for (int i = 1; i <= ports; ++i) {
        const JobState &s = table.job(table.row(QStringLiteral("com%1").arg(i))).state();
        r.seconds.push_back(s.seconds);
        r.exits.push_back(s.exitCode);
    }
    return r;
}

}  // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const bool quick = app.arguments().contains(QStringLiteral("--quick"));
    const int size = quick ? 32768 : 131072;
    constexpr int Ports = 8;

    QTemporaryDir dir;
    const QString image = dir.filePath(QStringLiteral("fw.bin"));
    QProcess make;
    make.setStandardOutputFile(QProcess::nullDevice());
    make.start(QStringLiteral(TORVEX_SIM_BIN), {"--make-image", image, "--image-size", QString::number(size)});
    make.waitForFinished();
    std::vector<std::unique_ptr<QProcess>> sims;
    for (int i = 1; i <= Ports; ++i) {
        const QString link = dir.filePath(QStringLiteral("com%1").arg(i));
        sims.push_back(std::make_unique<QProcess>());
        sims.back()->setStandardOutputFile(QProcess::nullDevice());
        sims.back()->setStandardErrorFile(QProcess::nullDevice());
        sims.back()->start(QStringLiteral(TORVEX_SIM_BIN), {"--link", link, "--baud", "115200", "--erase-time", "0"});
        for (int t = 0; t < 200 && !QFileInfo(link).isSymLink(); ++t)
            QThread::msleep(10);
    }

    StationWindow station({readConfiguration(dir.path()), QStringLiteral(TORVEX_FLASH_BIN), dir.filePath(QStringLiteral("updates.log"))});
    station.show();
    station.refreshPorts();
    if (station.selectImage(image) != SelectOutcome::Accepted)
        return 1;

    const Run alone = run(station, 1);
    const Run eight = run(station, Ports);
    double slowest = 0;
    QString exits;
    for (size_t i = 0; i < eight.seconds.size(); ++i) {
        slowest = std::max(slowest, eight.seconds[i]);
        exits += QString::number(eight.exits[i]);
    }
    std::printf("\n### Station: eight paced updates side by side (torvex-station, torvex-flash and torvex-sim as processes)\n\n");
    std::printf("| bytes each | alone (s) | slowest of 8 (s) | slower by | station CPU alone | station CPU with 8 | exit codes |\n");
    std::printf("|---:|---:|---:|---:|---:|---:|---|\n");
    std::printf("| %d | %.3f | %.3f | %.1f %% | %.2f %% | %.2f %% | %d, %s |\n", size, alone.seconds[0], slowest,
                100 * (slowest - alone.seconds[0]) / alone.seconds[0], 100 * alone.cpu / alone.wall,
                100 * eight.cpu / eight.wall, alone.exits[0], qPrintable(exits));

    for (auto &sim : sims) {
        sim->terminate();
        sim->waitForFinished(5000);
    }
    return 0;
}
