// torvex-station: updates several indicators at once, one torvex-flash per
// port, with every update recorded in the update log.

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <cstdio>

#include "PortTable.h"
#include "StationWindow.h"
#include "app/core/StartUp.h"
#include "app/core/StopSignals.h"
#include "app/gui/WindowStart.h"

namespace {

const QCommandLineOption ConfigOption({QStringLiteral("c"), QStringLiteral("config")},
    QStringLiteral("Directory of BootLoaderTorvexII.ini and the comN links (default: the "
                   "program's own directory)."), QStringLiteral("DIR"));
const QCommandLineOption LogOption(QStringLiteral("log"),
    QStringLiteral("Update log to append to (default: updates.log in the user's data folder, "
                   "shown in the window)."), QStringLiteral("FILE"));

void describe(QCommandLineParser &p)
{
    p.setApplicationDescription(QStringLiteral(
        "Updates several Torvex-II indicators at once from one window.\n"
        "The ticked serial ports get the same firmware image side by side, one torvex-flash\n"
        "per port, and every update adds one line to the update log. Closing the window\n"
        "while updates run asks first, then stops them between two frames."));
    p.addHelpOption();
    p.addVersionOption();
    p.addOptions({ConfigOption, LogOption});
    p.addPositionalArgument(QStringLiteral("IMAGE"), QStringLiteral("Firmware image to select at start."),
                            QStringLiteral("[IMAGE]"));
}

}  // namespace

int main(int argc, char *argv[])
{
    // --help and --version work without a display.
    if (argumentGiven(argc, argv, {"-h", "--help", "--help-all"})) {
        QCommandLineParser p;
        describe(p);
        std::fputs(qPrintable(p.helpText().replace(QLatin1String("<executable_name>"),
                                                   QLatin1String("torvex-station"))), stdout);
        return 0;
    }
    if (argumentGiven(argc, argv, {"-v", "--version"})) {
        std::printf("torvex-station %s\n", qPrintable(programVersion()));
        return 0;
    }
    const auto app = makeWindowApplication(argc, argv, "torvex-station");
    QApplication::setApplicationName(QStringLiteral("torvex-station"));
    QApplication::setApplicationVersion(programVersion());
    QCommandLineParser p;
    describe(p);
    p.process(*app);

    StationSettings settings;
    const QString exeDir = QCoreApplication::applicationDirPath();
    settings.config = readConfiguration(p.isSet(ConfigOption) ? QDir(p.value(ConfigOption)).absolutePath() : exeDir);
    settings.flashProgram = QDir(exeDir).filePath(QStringLiteral("torvex-flash"));
#ifdef Q_OS_WIN
    settings.flashProgram += QStringLiteral(".exe");
#endif
    settings.logFile = p.isSet(LogOption)
        ? QFileInfo(p.value(LogOption)).absoluteFilePath()
        : QDir(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)).filePath(QStringLiteral("updates.log"));

    StationWindow window(settings);
    // A signal to the station stops its children as closing the window does.
    StopSignals stops;
    QObject::connect(&stops, &StopSignals::stopRequested, &window, [&window] {
        window.stopAll();
        QObject::connect(&window.ports(), &PortTable::jobFinished, &window, [&window] {
            if (!window.busy())
                QApplication::quit();
        });
        if (!window.busy())
            QApplication::quit();
    });
    window.show();
    if (!p.positionalArguments().isEmpty())
        window.selectImage(QFileInfo(p.positionalArguments().constFirst()).absoluteFilePath());
    const int status = QApplication::exec();
    return stops.received() ? stops.exitStatus() : status;
}
