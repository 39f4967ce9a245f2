#pragma once
// A simulated indicator linked as `com3` in a scratch directory that stands
// for the program's own directory, with the configuration file beside it.

#include <QByteArray>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>

#include "Simulator.h"
#include "app/core/StartUp.h"

// The simulator told how to behave: fault rules as torvex-sim takes them
// ("block3:delay=2050*1", "I:silence"), and "erase=nak|silent|bad-checksum|
// wrong-code", "model=KD8", "device=22CB", "plain-hex", "hang-up=N",
// "program=MS" (programming time per block), "baud=N" (paced line),
// "latency=MS" (every reply that long after its frame), "erase-time=MS",
// "erase-background" (frames handled while the erase runs, then wiped).
torvexsim::Options indicator(const QStringList &behaviour);

struct SimRig {
    QTemporaryDir dir;
    std::unique_ptr<torvexsim::Simulator> sim;

    // Starts the simulator behind dir/com<port> and writes the configuration.
    bool start(torvexsim::Options options = {}, int port = 3);
    void writeIni(const QByteArray &content);
    QString exeDir() const { return dir.path(); }
    QString writeFile(const QString &name, const QByteArray &content);
    Configuration config() const { return readConfiguration(exeDir()); }
    // The image as fw.bin; its path.
    QString writeImage(const QByteArray &image) { return writeFile(QStringLiteral("fw.bin"), image); }
    QString slave() const { return QString::fromStdString(sim->slavePath()); }
    // Link set up the way the program's start-up does it.
    bool startUp(Link &link) { return runStartUp(link, config()).ok; }

    QByteArray flash(qsizetype n) const;
    QByteArray received() const;
};

// An image the updater accepts unless told otherwise: deterministic bytes
// with the identification block at offset 1024.
QByteArray makeImage(int size, const QByteArray &version = "V2.03.01", const QByteArray &model = "KD7",
                     char level = '0', const QByteArray &tag = "REL ");

// Whether Qt's lock file for a device is still there.
bool lockFileLeft(const QString &device);

QByteArray dataFrame(const QByteArray &data, std::uint8_t seq);
// Frames named by tokens: wake (wake-up and re-synchronisation), resync, I,
// E, W, S, end (empty data frame), bK (block K of image), bK-M, blocks (all).
QByteArray wireOf(const QStringList &tokens, const QByteArray &image);
