#include <QApplication>

#include "app/core/StartUp.h"
#include "app/gui/frmBootLoader.h"

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromLatin1(AppTitle));
    QApplication::setApplicationVersion(programVersion());
    return runBootLoader(QCoreApplication::applicationDirPath());
}
