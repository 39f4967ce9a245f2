#include "support/ModalAnswerer.h"

#include <QApplication>
#include <QAbstractButton>
#include <QDialog>
#include <QFileDialog>

ModalAnswerer::ModalAnswerer()
{
    m_timer.setInterval(5);
    connect(&m_timer, &QTimer::timeout, this, &ModalAnswerer::tick);
    m_timer.start();
}

void ModalAnswerer::tick()
{
    QWidget *modal = QApplication::activeModalWidget();
    if (auto *box = qobject_cast<QMessageBox *>(modal)) {
        bool visible = false;
        for (QWidget *w : QApplication::topLevelWidgets())
            visible |= w != box && w->isVisible() && !qobject_cast<QMessageBox *>(w);
        boxes.push_back({box->windowTitle(), box->text(), box->icon(), visible});
        box->button(QMessageBox::Ok)->click();
        return;
    }
    if (auto *dialog = qobject_cast<QFileDialog *>(modal)) {
        dialogs.push_back({dialog->nameFilters().join(QStringLiteral(";;")), dialog->defaultSuffix(),
                           dialog->selectedFiles().value(0)});
        std::optional<QString> answer;
        if (!files.empty()) {
            answer = files.front();
            files.pop_front();
        }
        if (answer) {
            dialog->selectFile(*answer);
            static_cast<QDialog *>(dialog)->accept();
        } else {
            dialog->reject();
        }
        return;
    }
    if (!modal && whileBusy)
        whileBusy();
}
