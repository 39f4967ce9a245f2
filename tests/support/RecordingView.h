#pragma once
// A window stand-in for the core: keeps what the update and the selection
// show, and answers the file dialog from a queue.

#include <QStringList>
#include <deque>
#include <vector>

#include "bootloader/UpdateView.h"

struct RecordedBox {
    QString text;
    BoxIcon icon;
    QString statusAtBox;  // status text while the box was up
};

class RecordingView : public UpdateView {
public:
    std::deque<std::optional<QString>> dialogAnswers;  // nullopt = cancel
    std::vector<FileDialogRequest> dialogRequests;
    std::vector<RecordedBox> boxes;
    QStringList events;          // "disable", "enable", "busy", "box"
    QStringList statusHistory;   // every text the status was set to
    QString file;
    QString size = QStringLiteral("----------");
    QString version = QStringLiteral("----------");
    bool labVisible = false;
    bool programEnabled = false;
    bool selectEnabled = true;
    bool exitEnabled = true;
    bool busy = false;
    QString status;

    std::optional<QString> chooseFile(const FileDialogRequest &request) override
    {
        dialogRequests.push_back(request);
        if (dialogAnswers.empty())
            return std::nullopt;
        const bool cancel = !dialogAnswers.front().has_value();
        const QString path = dialogAnswers.front().value_or(QString());
        dialogAnswers.pop_front();
        if (cancel)
            return std::nullopt;
        return path;
    }
    void showMessage(const QString &text, BoxIcon icon) override
    {
        boxes.push_back({text, icon, status});
        events << QStringLiteral("box");
    }
    QString fileText() const override { return file; }
    void setFileText(const QString &p) override { file = p; }
    QString fileSizeText() const override { return size; }
    void setFileSizeText(const QString &t) override { size = t; }
    void setFileVersionText(const QString &t) override { version = t; }
    void setLabVisible(bool v) override { labVisible = v; }
    void setProgramEnabled(bool e) override { programEnabled = e; }
    QString statusText() const override { return status; }
    void setStatusText(const QString &t) override
    {
        status = t;
        statusHistory << t;
    }
    void setBusyPointer() override
    {
        busy = true;
        events << QStringLiteral("busy");
    }
    void DisableButtons() override
    {
        programEnabled = selectEnabled = exitEnabled = false;
        events << QStringLiteral("disable");
    }
    void EnableButtons() override
    {
        busy = false;
        programEnabled = selectEnabled = exitEnabled = true;
        events << QStringLiteral("enable");
    }
    QStringList boxTexts() const
    {
        QStringList out;
        for (const auto &b : boxes)
            out << b.text;
        return out;
    }
};
