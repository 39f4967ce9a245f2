#pragma once
// torvex-station's window: one image, many ports, a torvex-flash child per
// ticked port, and the update log of every run.

#include <QWidget>

#include "image/FileSelection.h"
#include "image/SelectionView.h"

class QFileSystemWatcher;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;
class PortTable;

struct StationSettings {
    QString configDir;     // BootLoaderTorvexII.ini and the comN links
    QString flashProgram;  // torvex-flash
    QString logFile;       // the update log
};

class StationWindow : public QWidget, public SelectionView {
    Q_OBJECT
public:
    explicit StationWindow(const StationSettings &settings, QWidget *parent = nullptr);

    PortTable &ports() { return *m_ports; }
    // Also done by itself when the port folders change; rows of running updates stay.
    void refreshPorts();
    // Checks and shows an image as "Select File" does.
    SelectOutcome selectImage(const QString &path);
    void updateTicked();
    void rerunFailed();
    void stopAll();
    bool busy() const;

    // SelectionView: the image part of the window.
    std::optional<QString> chooseFile(const FileDialogRequest &request) override;
    void showMessage(const QString &text, BoxIcon icon) override;
    QString fileText() const override;
    void setFileText(const QString &path) override;
    QString fileSizeText() const override;
    void setFileSizeText(const QString &text) override;
    void setFileVersionText(const QString &text) override;
    void setLabVisible(bool visible) override;
    void setProgramEnabled(bool enabled) override;

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void startRow(int row);
    void onJobFinished();
    void updateControls();

    StationSettings m_settings;
    ImageSelection m_selection;
    bool m_imageAccepted = false;
    bool m_closing = false;
    PortTable *m_ports;
    QTableView *m_table;
    QPushButton *m_selectButton, *m_refreshButton, *m_tickAllButton, *m_updateButton, *m_rerunButton,
        *m_stopButton, *m_closeButton;
    QLineEdit *m_file;
    QLabel *m_version, *m_size, *m_lab, *m_summary, *m_log;
    QFileSystemWatcher *m_portWatcher = nullptr;
};
