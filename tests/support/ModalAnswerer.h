#pragma once
// Answers the modal boxes and file dialogs that the window opens, from a
// timer that runs inside their event loops, and keeps what they showed.

#include <QMessageBox>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <deque>
#include <functional>
#include <optional>

struct SeenBox {
    QString title;
    QString text;
    QMessageBox::Icon icon;
    bool windowVisible;  // whether any other top-level window was visible meanwhile
};

struct SeenDialog {
    QString nameFilter;
    QString defaultSuffix;
    QString preset;
};

class ModalAnswerer : public QObject {
    Q_OBJECT
public:
    ModalAnswerer();
    std::vector<SeenBox> boxes;
    std::vector<SeenDialog> dialogs;
    std::deque<std::optional<QString>> files;  // answers for file dialogs; nullopt = cancel
    std::function<void()> whileBusy;           // called on each tick while no modal is up

private:
    void tick();
    QTimer m_timer;
};
