#pragma once
// A simulated indicator linked as `com3` in a scratch directory that stands
// for the program's own directory, with the configuration file beside it.

#include <QByteArray>
#include <QTemporaryDir>
#include <memory>

#include "Simulator.h"

class Link;

struct SimRig {
    QTemporaryDir dir;
    std::unique_ptr<torvexsim::Simulator> sim;

    // Starts the simulator behind dir/com<port> and writes the configuration.
    bool start(torvexsim::Options options = {}, int port = 3, const char *modeProg = "0");
    void writeIni(const QByteArray &content);
    QString exeDir() const { return dir.path(); }
    QString writeFile(const QString &name, const QByteArray &content);
    // Link set up the way the program's start-up does it.
    bool startUp(Link &link);

    QByteArray flash(qsizetype n) const;
    QByteArray received() const;
};

// An image the updater accepts unless told otherwise: deterministic bytes
// with the identification block at offset 1024.
QByteArray makeImage(int size, const QByteArray &version = "V2.03.01", const QByteArray &model = "KD7",
                     char level = '0', const QByteArray &tag = "REL ");

// The bytes an updater puts on the line for a whole update of `image`.
QByteArray expectedUpdateStream(const QByteArray &image);
QByteArray wakeAndResync();
QByteArray dataFrame(const QByteArray &data, std::uint8_t seq);
