#pragma once
// The update's window on a terminal: the status log becomes lines on standard
// output, message boxes become "error: TEXT" on standard error.

#include <QElapsedTimer>
#include <QString>

#include "Console.h"
#include "StatusLines.h"
#include "bootloader/UpdateView.h"

class TerminalView : public UpdateView {
public:
    // interactive: the unfinished line is redrawn in place (a terminal);
    // otherwise only finished lines and every tenth of the progress are printed.
    explicit TerminalView(bool interactive) : m_interactive(interactive) {}

    std::optional<QString> chooseFile(const FileDialogRequest &) override { return std::nullopt; }
    void showMessage(const QString &text, BoxIcon icon) override;
    QString fileText() const override { return m_file; }
    void setFileText(const QString &path) override { m_file = path; }
    QString fileSizeText() const override { return m_size; }
    void setFileSizeText(const QString &text) override { m_size = text; }
    void setFileVersionText(const QString &text) override { m_version = text; }
    void setLabVisible(bool visible) override { m_lab = visible; }
    void setProgramEnabled(bool) override {}

    QString statusText() const override { return m_lines.status(); }
    void setStatusText(const QString &text) override;
    void setBusyPointer() override {}
    void DisableButtons() override {}
    void EnableButtons() override;  // the sequence is over: the last line is let out
    void stopDeferred(UpdateStage) override { sayWaitingForErase(); }

    QString fileVersion() const { return m_version; }
    bool labBuild() const { return m_lab; }

private:
    void finishLine(const QString &line, bool alreadyOut);
    void showPartial(const QString &line);
    void cutPartial();
    QString decorated(const QString &line, qint64 sent, qint64 total);
    void draw(const QString &text);

    bool m_interactive;
    QString m_file;
    QString m_size = QStringLiteral("----------");
    QString m_version;
    bool m_lab = false;

    StatusLines m_lines;
    int m_drawnWidth = 0;  // width of the line drawn in place; 0 when none
    int m_decile = 0;
    QElapsedTimer m_progressClock;
    QElapsedTimer m_sinceDraw;
};
