#pragma once
// torvex-station's window: one image, many ports, a torvex-flash child per
// ticked port, and the update log of every run.

#include <QWidget>

#include "app/core/Configuration.h"
#include "app/gui/ImageFields.h"
#include "image/FileSelection.h"

class QFileSystemWatcher;
class QLabel;
class QPushButton;
class PortTable;
class PortView;

struct StationSettings {
    Configuration config;  // read at start; its folder is handed to every torvex-flash
    QString flashProgram;  // torvex-flash
    QString logFile;       // the update log
};

class StationWindow : public QWidget {
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

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void startRow(int row);
    void onJobFinished();
    void updateControls();

    StationSettings m_settings;
    ImageSelection m_selection;
    ImageFields m_image;
    bool m_imageAccepted = false;
    bool m_closing = false;
    PortTable *m_ports;
    PortView *m_table;
    QPushButton *m_selectButton, *m_refreshButton, *m_tickAllButton, *m_updateButton, *m_rerunButton,
        *m_stopButton, *m_closeButton;
    QLabel *m_summary, *m_log;
    QFileSystemWatcher *m_portWatcher = nullptr;
};
