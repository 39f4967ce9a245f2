#pragma once
// Passes every call of the update on to the view a person reads, if any,
// and reports it to UpdateEvents: status lines once they are finished, boxes,
// stages, the indicator, progress, and the start once the image is taken.

#include "StatusLines.h"
#include "UpdateEvents.h"
#include "bootloader/UpdateView.h"

class EventView : public UpdateView {
public:
    // echo: the view a person reads, or nullptr.
    EventView(UpdateView *echo, UpdateEvents &events) : m_echo(echo), m_events(events) {}

    std::optional<QString> chooseFile(const FileDialogRequest &) override { return std::nullopt; }
    void showMessage(const QString &text, BoxIcon icon) override;
    QString fileText() const override { return m_file; }
    void setFileText(const QString &path) override;
    QString fileSizeText() const override { return m_size; }
    void setFileSizeText(const QString &text) override;
    void setFileVersionText(const QString &text) override;
    void setLabVisible(bool visible) override;
    void setProgramEnabled(bool) override {}

    QString statusText() const override { return m_lines.status(); }
    void setStatusText(const QString &text) override;
    void setBusyPointer() override {}
    void DisableButtons() override {}
    void EnableButtons() override;

    void stageStarted(UpdateStage stage) override;
    void indicatorIdentified(const IndicatorFacts &facts) override;
    void blockAcknowledged(qint64 sent, qint64 total, int retries) override;
    void imageTaken(const QByteArray &image) override;
    void stopDeferred(UpdateStage stage) override;

private:
    void cutPartial();

    UpdateView *m_echo;
    UpdateEvents &m_events;
    QString m_file, m_size = QStringLiteral("----------");
    StatusLines m_lines;
};
