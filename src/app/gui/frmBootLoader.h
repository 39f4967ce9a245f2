#pragma once
// The one window: layout and wiring. The work is done by the core.

#include <QCursor>
#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

#include "app/core/StartUp.h"
#include "app/gui/ImageFields.h"
#include "bootloader/UpdateView.h"
#include "image/FileSelection.h"
#include "link/Link.h"

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

class frmBootLoader : public QWidget, public UpdateView {
    Q_OBJECT
public:
    explicit frmBootLoader(const Configuration &config, QWidget *parent = nullptr);

    // Start-up before the window is shown; false when the port is unusable.
    bool Form_Load();

    Link link;
    ImageSelection selection;
    ImageFields fields;

    QPushButton *cmdSelFile;
    QLineEdit *txtFile;
    QLabel *Label2;
    QLabel *lblFileVersion;
    QLabel *Label3;
    QLabel *lblFileSize;
    QLabel *lblLabVersion;
    QPushButton *cmdProgram;
    QPushButton *cmdExit;
    QPlainTextEdit *txt1;

    void cmdSelFile_Click();
    void cmdProgram_Click();
    void cmdExit_Click();

    // SIGINT, SIGTERM, SIGHUP: stop the update at its next safe point, close
    // the port, and end with 128 + the signal's number.
    void stopBySignal(int signalNumber);
    // Why start-up failed, for a technician reading standard error.
    const StartUpResult &startUpFailure() const { return m_startUpFailure; }

    // UpdateView: the file display is `fields`.
    std::optional<QString> chooseFile(const FileDialogRequest &r) override { return fields.chooseFile(r); }
    void showMessage(const QString &text, BoxIcon icon) override { fields.showMessage(text, icon); }
    QString fileText() const override { return fields.fileText(); }
    void setFileText(const QString &path) override { fields.setFileText(path); }
    QString fileSizeText() const override { return fields.fileSizeText(); }
    void setFileSizeText(const QString &text) override { fields.setFileSizeText(text); }
    void setFileVersionText(const QString &text) override { fields.setFileVersionText(text); }
    void setLabVisible(bool visible) override { fields.setLabVisible(visible); }
    void setProgramEnabled(bool enabled) override { fields.setProgramEnabled(enabled); }
    QString statusText() const override { return m_status; }
    void setStatusText(const QString &text) override;
    void setBusyPointer() override;
    void DisableButtons() override;
    void EnableButtons() override;
    void stopDeferred(UpdateStage stage) override;
    void lineWait(bool waiting) override;


protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void renderStatus();
    void endBySignal();

    Configuration m_config;
    QString m_status;
    QTimer m_renderTimer;
    QElapsedTimer m_sinceRender;
    StartUpResult m_startUpFailure;
    int m_exitStatus = 0;
    QCursor m_textCursor;
    QCursor m_fileCursor;
};

// Start-up, the failure box or the window, and the event loop.
int runBootLoader(const Configuration &config);
void showStartUpFailure();
