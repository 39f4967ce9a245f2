#include "app/gui/WindowStart.h"

#include <QList>
#include <QPair>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const char *g_program = "";
QtMessageHandler g_qtHandler = nullptr;
QList<QPair<QtMsgType, QString>> g_held;

[[noreturn]] void noDisplay(const QString &why)
{
    std::fprintf(stderr, "%s: needs a graphical display (%s); without one, use torvex-flash "
                         "(torvex-flash --help)\n", g_program, qPrintable(why));
    std::_Exit(1);
}

// A display named but out of reach (a stale DISPLAY, a closed X server) is
// found only while the application is made: Qt's messages of that moment are
// held back, and its fatal one becomes the single line.
void holdStartMessage(QtMsgType type, const QMessageLogContext &, const QString &text)
{
    if (type != QtFatalMsg) {
        g_held.append({type, text});
        return;
    }
    // Qt's own first message says why ("could not connect to display :1").
    noDisplay(g_held.isEmpty() ? text.section(QLatin1Char('\n'), 0, 0) : g_held.constFirst().second);
}

}  // namespace

bool argumentGiven(int argc, char **argv, std::initializer_list<const char *> names)
{
    for (int i = 1; i < argc; ++i)
        for (const char *n : names)
            if (std::strcmp(argv[i], n) == 0)
                return true;
    return false;
}

std::unique_ptr<QApplication> makeWindowApplication(int &argc, char **argv, const char *program)
{
    g_program = program;
    const auto set = [](const char *name) {
        const char *v = std::getenv(name);
        return v && *v;
    };
    if (!set("DISPLAY") && !set("WAYLAND_DISPLAY") && !set("QT_QPA_PLATFORM")
        && !argumentGiven(argc, argv, {"-platform", "--platform"}))
        noDisplay(QStringLiteral("none found in DISPLAY or WAYLAND_DISPLAY"));
    g_qtHandler = qInstallMessageHandler(holdStartMessage);
    auto app = std::make_unique<QApplication>(argc, argv);
    qInstallMessageHandler(g_qtHandler);
    for (const auto &[type, text] : std::as_const(g_held))
        g_qtHandler(type, QMessageLogContext(), text);
    g_held.clear();
    return app;
}
