#pragma once
// Answers the modal boxes and file dialogs that the window opens, from a
// timer that runs inside their event loops, and keeps what they showed.

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QTimer>
#include <deque>
#include <functional>
#include <optional>

struct SeenBox {
    QString title, text;
    QMessageBox::Icon icon;
    bool windowVisible;  // whether any other top-level window was visible meanwhile
};

struct ModalAnswerer {
    std::vector<SeenBox> boxes;
    std::vector<std::pair<QString, QString>> dialogs;  // name filters, default suffix
    std::deque<std::optional<QString>> files;          // answers for file dialogs; nullopt = cancel
    std::function<void()> whileBusy;                   // called on each tick while no modal is up
    QTimer timer;

    ModalAnswerer()
    {
        QObject::connect(&timer, &QTimer::timeout, [this] { tick(); });
        timer.start(5);
    }
    void tick()
    {
        QWidget *modal = QApplication::activeModalWidget();
        if (auto *box = qobject_cast<QMessageBox *>(modal)) {
            bool visible = false;
            for (QWidget *w : QApplication::topLevelWidgets())
                visible |= w != box && w->isVisible() && !qobject_cast<QMessageBox *>(w);
            boxes.push_back({box->windowTitle(), box->text(), box->icon(), visible});
            box->button(QMessageBox::Ok)->click();
        } else if (auto *dialog = qobject_cast<QFileDialog *>(modal)) {
            dialogs.emplace_back(dialog->nameFilters().join(QStringLiteral(";;")), dialog->defaultSuffix());
            const std::optional<QString> answer = files.empty() ? std::nullopt : files.front();
            if (!files.empty())
                files.pop_front();
            if (answer)
                dialog->selectFile(*answer);
            answer ? static_cast<QDialog *>(dialog)->accept() : dialog->reject();
        } else if (!modal && whileBusy) {
            whileBusy();
        }
    }
};
