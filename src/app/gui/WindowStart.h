#pragma once
// What a program with a window needs before its window: its arguments read
// before Qt needs a display (--help and --version work without one), and a
// missing display said in one line instead of Qt's abort.

#include <QApplication>
#include <initializer_list>
#include <memory>

// Whether any of `names` stands among the arguments.
bool argumentGiven(int argc, char **argv, std::initializer_list<const char *> names);

// The application; without a reachable graphical display the program ends
// with status 1 and one line on standard error that names it and points to
// torvex-flash.
std::unique_ptr<QApplication> makeWindowApplication(int &argc, char **argv, const char *program);
