#include <QApplication>
#include <cstdio>

#include "app/core/StartUp.h"
#include "app/gui/WindowStart.h"
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
    "                          location; without one, port N is /dev/ttyS<N-1>.\n"
    "                          torvex-flash --set-port N PATH makes it.\n";

}  // namespace

int main(int argc, char *argv[])
{
    if (argumentGiven(argc, argv, {"-h", "--help"})) {
        std::fputs(HelpText, stdout);
        return 0;
    }
    if (argumentGiven(argc, argv, {"-v", "--version"})) {
        std::printf("BootLoaderTorvexII %s\n", qPrintable(programVersion()));
        return 0;
    }
    const auto app = makeWindowApplication(argc, argv, AppTitle);
    QApplication::setApplicationName(QString::fromLatin1(AppTitle));
    QApplication::setApplicationVersion(programVersion());
    return runBootLoader(readConfiguration(QCoreApplication::applicationDirPath()));
}
