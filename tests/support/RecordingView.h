#pragma once
// A window stand-in for the core: keeps what the update and the selection
// show, and answers the file dialog from a queue.

#include <QStringList>
#include <deque>
#include <vector>

#include "bootloader/UpdateView.h"

class RecordingView : public UpdateView {
public:
    std::deque<std::optional<QString>> dialogAnswers;  // nullopt = cancel
    std::vector<FileDialogRequest> dialogRequests;
    QStringList boxes;          // texts, "!" in front for the error icon
    QStringList events;         // "disable", "enable", "busy", "box"
    QStringList statusHistory;  // every text the status was set to
    QString file, status;
    QString size = QStringLiteral("----------");
    QString version = QStringLiteral("----------");
    bool labVisible = false, programEnabled = false, selectEnabled = true, exitEnabled = true, busy = false;

    std::optional<QString> chooseFile(const FileDialogRequest &request) override
    {
        dialogRequests.push_back(request);
        if (dialogAnswers.empty())
            return std::nullopt;
        const auto answer = dialogAnswers.front();
        dialogAnswers.pop_front();
        return answer;
    }
    void showMessage(const QString &text, BoxIcon icon) override
    {
        boxes << (icon == BoxIcon::Error ? QStringLiteral("!") : QString()) + text;
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
};
