#include <QApplication>
#include <QList>
#include <QPair>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/core/StartUp.h"
#include "app/gui/frmBootLoader.h"

namespace {

const char *const HelpText =
    "Usage: BootLoaderTorvexII [--help | --version]\n"
    "Writes firmware images into a Torvex-II weighing indicator over a serial port.\n"
    "In its window, Select File chooses the image (*.bin) and UPDATE PROGRAM writes\n"
    "it. It needs a graphical display; torvex-flash does the same from a terminal.\n"
    "\n"
    "Options:\n"
    "  -h, --help              Displays this help.\n"
    "  -v, --version           Displays version information.\n"
    "\n"
    "Files:\n"
    "  BootLoaderTorvexII.ini  Read at start-up from the program's own directory\n"
    "                          (links resolved): [SERIAL] CommNum=N names the port\n"
    "                          (1 to 255), [MODE] ModeProg=1 admits laboratory builds.\n"
    "  comN                    A link to the serial device of port N, looked up beside\n"
    "                          the program, then beside the configuration file's real\n"
    "                          location; without one, port N is /dev/ttyS<N-1>.\n";

bool given(int argc, char **argv, const char *shortName, const char *longName)
{
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], shortName) == 0 || std::strcmp(argv[i], longName) == 0)
            return true;
    return false;
}

// Qt aborts when its default platform finds no display; say it plainly instead.
bool displayMissing(int argc, char **argv)
{
    const auto set = [](const char *name) {
        const char *v = std::getenv(name);
        return v && *v;
    };
    return !set("DISPLAY") && !set("WAYLAND_DISPLAY") && !set("QT_QPA_PLATFORM")
        && !given(argc, argv, "-platform", "--platform");
}

// A display named but out of reach (a stale DISPLAY, a closed X server) also
// ends in Qt's abort, found only while the application is made: Qt's messages
// of that moment are held back, and its fatal one becomes a single line.
QtMessageHandler qtHandler = nullptr;
QList<QPair<QtMsgType, QString>> heldMessages;

void holdStartMessage(QtMsgType type, const QMessageLogContext &, const QString &text)
{
    if (type != QtFatalMsg) {
        heldMessages.append({type, text});
        return;
    }
    // Qt's own first word says why ("could not connect to display :1").
    const QString why = heldMessages.isEmpty() ? text.section(QLatin1Char('\n'), 0, 0)
                                               : heldMessages.constFirst().second;
    std::fprintf(stderr, "BootLoaderTorvexII: needs a graphical display (%s); without one, "
                         "use torvex-flash (torvex-flash --help)\n", qPrintable(why));
    std::_Exit(1);
}

}  // namespace

int main(int argc, char *argv[])
{
    if (given(argc, argv, "-h", "--help")) {
        std::fputs(HelpText, stdout);
        return 0;
    }
    if (given(argc, argv, "-v", "--version")) {
        std::printf("BootLoaderTorvexII %s\n", qPrintable(programVersion()));
        return 0;
    }
    if (displayMissing(argc, argv)) {
        std::fputs("BootLoaderTorvexII: needs a graphical display (none found in DISPLAY or "
                   "WAYLAND_DISPLAY); without one, use torvex-flash (torvex-flash --help)\n",
                   stderr);
        return 1;
    }
    qtHandler = qInstallMessageHandler(holdStartMessage);
    QApplication app(argc, argv);
    qInstallMessageHandler(qtHandler);
    for (const auto &[type, text] : std::as_const(heldMessages))
        qtHandler(type, QMessageLogContext(), text);
    heldMessages.clear();
    QApplication::setApplicationName(QString::fromLatin1(AppTitle));
    QApplication::setApplicationVersion(programVersion());
    return runBootLoader(QCoreApplication::applicationDirPath());
}
