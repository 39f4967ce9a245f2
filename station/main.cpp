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

bool given(int argc, char **argv, std::initializer_list<const char *> names)
{
    for (int i = 1; i < argc; ++i)
        for (const char *n : names)
            if (qstrcmp(argv[i], n) == 0)
                return true;
    return false;
}

}  // namespace

int main(int argc, char *argv[])
{
    // --help and --version work without a display.
    if (given(argc, argv, {"-h", "--help", "--help-all"})) {
        QCommandLineParser p;
        describe(p);
        std::fputs(qPrintable(p.helpText().replace(QLatin1String("<executable_name>"),
                                                   QLatin1String("torvex-station"))), stdout);
        return 0;
    }
    if (given(argc, argv, {"-v", "--version"})) {
        std::printf("torvex-station %s\n", qPrintable(programVersion()));
        return 0;
    }
    // Qt aborts when its default platform finds no display; say it plainly instead.
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
        && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && !given(argc, argv, {"-platform", "--platform"})) {
        std::fputs("torvex-station: needs a graphical display (none found in DISPLAY or WAYLAND_DISPLAY)\n", stderr);
        return 1;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("torvex-station"));
    QApplication::setApplicationVersion(programVersion());
    QCommandLineParser p;
    describe(p);
    p.process(app);

    StationSettings settings;
    const QString exeDir = QCoreApplication::applicationDirPath();
    settings.configDir = p.isSet(ConfigOption) ? QDir(p.value(ConfigOption)).absolutePath() : exeDir;
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
    const int status = app.exec();
    return stops.received() ? stops.exitStatus() : status;
}
