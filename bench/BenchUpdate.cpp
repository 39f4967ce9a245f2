#include "BenchUpdate.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <vector>

#include "BenchCommon.h"
#include "Simulator.h"
#include "SampleImage.h"
#include "app/core/StartUp.h"
#include "app/gui/frmBootLoader.h"
#include "bootloader/BootLoaderFuncs.h"
#include "bootloader/Update.h"
#include "image/FileSelection.h"

namespace {

class TimedWindow : public frmBootLoader {
public:
    using frmBootLoader::frmBootLoader;
    PhaseClock clock;
    void setStatusText(const QString &t) override
    {
        frmBootLoader::setStatusText(t);
        clock.onStatus(t);
    }
    void showMessage(const QString &text, BoxIcon) override { messages << text; }
    QStringList messages;
};

struct Rig {
    QTemporaryDir dir;
    std::unique_ptr<torvexsim::Simulator> sim;
    QString image;

    explicit Rig(torvexsim::Options o, qint64 size)
    {
        o.linkPath = QDir(dir.path()).filePath(QStringLiteral("com3")).toStdString();
        if (o.flashSize == 0)
            o.flashSize = std::size_t(qMax<qint64>(4 << 20, size + 4096));
        sim = std::make_unique<torvexsim::Simulator>(std::move(o));
        sim->start();
        QFile ini(QDir(dir.path()).filePath(QStringLiteral("BootLoaderTorvexII.ini")));
        ini.open(QIODevice::WriteOnly);
        ini.write("[SERIAL]\r\nCommNum=3\r\n");
        ini.close();
        torvexsim::SampleImageOptions io;
        io.size = std::size_t(size);
        const auto bytes = torvexsim::makeSampleImage(io);
        image = QDir(dir.path()).filePath(QStringLiteral("fw.bin"));
        QFile f(image);
        f.open(QIODevice::WriteOnly);
        f.write(reinterpret_cast<const char *>(bytes.data()), qint64(bytes.size()));
    }
};

}  // namespace

struct OwnTime {
    qint64 lastIn = -1;
    std::vector<double> us;
    void attach(CommPort &port)
    {
        port.setTracer([this](CommPort::Direction d, const QByteArray &bytes, qint64 ns) {
            if (d == CommPort::Direction::In) {
                lastIn = ns;
            } else if (bytes.size() == 3 && bytes.endsWith('\r') && lastIn >= 0) {
                us.push_back(double(ns - lastIn) / 1e3);  // a data frame's trailer
                lastIn = -1;
            }
        });
    }
    void report(UpdateFigures &f)
    {
        if (us.empty())
            return;
        double sum = 0;
        for (double v : us)
            sum += v;
        f.ownMeanUs = sum / double(us.size());
        std::nth_element(us.begin(), us.begin() + long(us.size() / 2), us.end());
        f.ownMedianUs = us[us.size() / 2];
    }
};

UpdateFigures benchUpdate(qint64 size, unsigned baud, bool window)
{
    torvexsim::Options o;
    o.baud = baud;
    o.eraseTime = std::chrono::milliseconds(0);
    Rig rig(o, size);
    UpdateFigures f;
    f.bytes = size;
    UpdateReport report;
    PhaseClock *clock = nullptr;
    std::unique_ptr<TimedWindow> w;
    NullView nv;
    Link link;
    OwnTime own;
    if (window) {
        w = std::make_unique<TimedWindow>(readConfiguration(rig.dir.path()));
        if (!w->Form_Load())
            return f;
        w->show();
        checkAndShowImage(*w, w->selection, rig.image);
        w->selection.dialogFileName = rig.image;
        clock = &w->clock;
        own.attach(w->link.com1);
        clock->wall.start();
        report = cmdProgram_Click(*w, w->link, w->selection);
    } else {
        if (!runStartUp(link, readConfiguration(rig.dir.path())).ok)
            return f;
        ImageSelection sel;
        checkAndShowImage(nv, sel, rig.image);
        sel.dialogFileName = rig.image;
        clock = &nv.clock;
        own.attach(link.com1);
        clock->wall.start();
        report = cmdProgram_Click(nv, link, sel);
    }
    f.ok = report.outcome == UpdateOutcome::Ok;
    f.blocks = report.blocks;
    f.blockSeconds = clock->seconds();
    f.blockCpu = clock->cpu();
    own.report(f);
    return f;
}

double benchEraseCpu(int ms, double *wallSeconds)
{
    torvexsim::Options o;
    o.eraseTime = std::chrono::milliseconds(ms);
    o.startInBootLoader = true;
    Rig rig(o, 2000);
    Link link;
    if (!runStartUp(link, readConfiguration(rig.dir.path())).ok)
        return -1;
    NullView view;
    QElapsedTimer t;
    t.start();
    const double cpu0 = threadCpuSeconds();
    funEraseFlash(link, view);
    *wallSeconds = double(t.nsecsElapsed()) / 1e9;
    return threadCpuSeconds() - cpu0;
}
