#include "StationWindow.h"

#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "PortTable.h"
#include "PortView.h"
#include "app/core/StartUp.h"

namespace {

QPushButton *button(const QString &text, QWidget *parent)
{
    auto *b = new QPushButton(text, parent);
    b->setAutoDefault(false);
    return b;
}

}  // namespace

StationWindow::StationWindow(const StationSettings &settings, QWidget *parent)
    : QWidget(parent), m_settings(settings),
      m_image(this, [this](bool accepted) { m_imageAccepted = accepted; updateControls(); }),
      m_ports(new PortTable(this))
{
    setWindowTitle(QStringLiteral("Torvex-II update station"));
    setMinimumSize(720, 360);
    resize(900, 480);
    m_selection.ProgMode = settings.config.progMode;

    m_selectButton = button(QStringLiteral("&Select File"), this);
    m_selectButton->setToolTip(QStringLiteral("Choose the firmware image (Alt+S)"));
    m_image.file->setFocusPolicy(Qt::ClickFocus);
    m_image.lab->setContentsMargins(6, 1, 6, 1);
    auto *image = new QHBoxLayout;
    image->addWidget(m_selectButton);
    image->addWidget(m_image.file, 1);
    for (QWidget *w : {m_image.versionCaption, m_image.version, m_image.sizeCaption, m_image.size, m_image.lab})
        image->addWidget(w);

    m_table = new PortView(m_ports, this);

    m_refreshButton = button(QStringLiteral("&Refresh ports"), this);
    m_tickAllButton = button(QStringLiteral("Tick &all"), this);
    m_updateButton = button(QStringLiteral("&Update ticked"), this);
    m_rerunButton = button(QStringLiteral("Re-run &failed"), this);
    m_stopButton = button(QStringLiteral("S&top"), this);
    m_closeButton = button(QStringLiteral("&Close"), this);
    auto *actions = new QHBoxLayout;
    for (QPushButton *b : {m_refreshButton, m_tickAllButton, m_updateButton, m_rerunButton, m_stopButton})
        actions->addWidget(b);
    actions->addStretch(1);
    actions->addWidget(m_closeButton);

    m_summary = new QLabel(this);
    m_log = new QLabel(QStringLiteral("Update log: ") + QDir::toNativeSeparators(settings.logFile), this);
    m_log->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_log->setToolTip(QStringLiteral("One line per update: port, image, indicator, outcome"));

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(image);
    layout->addWidget(m_table, 1);
    layout->addLayout(actions);
    layout->addWidget(m_summary);
    layout->addWidget(m_log);

    connect(m_selectButton, &QPushButton::clicked, this, [this] { cmdSelFile_Click(m_image, m_selection); });
    connect(m_refreshButton, &QPushButton::clicked, this, &StationWindow::refreshPorts);
    connect(m_tickAllButton, &QPushButton::clicked, m_ports, &PortTable::tickAll);
    connect(m_updateButton, &QPushButton::clicked, this, &StationWindow::updateTicked);
    connect(m_rerunButton, &QPushButton::clicked, this, &StationWindow::rerunFailed);
    connect(m_stopButton, &QPushButton::clicked, this, &StationWindow::stopAll);
    connect(m_closeButton, &QPushButton::clicked, this, &QWidget::close);
    connect(m_ports, &PortTable::ticksChanged, this, &StationWindow::updateControls);
    connect(m_ports, &PortTable::jobFinished, this, &StationWindow::onJobFinished);
    connect(m_ports, &PortTable::dataChanged, this, &StationWindow::updateControls);

    // Adapters plugged in or out, links made or removed: the list follows by
    // itself, once the burst of changes is over.
    m_portWatcher = new QFileSystemWatcher(this);
    auto *settle = new QTimer(this);
    settle->setSingleShot(true);
    settle->setInterval(300);
    connect(m_portWatcher, &QFileSystemWatcher::directoryChanged, settle, qOverload<>(&QTimer::start));
    connect(settle, &QTimer::timeout, this, &StationWindow::refreshPorts);

    setTabOrder(m_selectButton, m_table);
    refreshPorts();
}

void StationWindow::refreshPorts()
{
    // /dev tells when /dev/serial/by-id comes or goes with the first or last adapter.
    QStringList folders = m_settings.config.linkFolders;
    folders << QStringLiteral("/dev/serial/by-id") << QStringLiteral("/dev");
    for (const QString &folder : folders)
        if (QFileInfo(folder).isDir() && !m_portWatcher->directories().contains(folder))
            m_portWatcher->addPath(folder);
    m_ports->setPorts(discoverPorts(m_settings.config.linkFolders));
    updateControls();
}

SelectOutcome StationWindow::selectImage(const QString &path)
{
    m_selection.dialogFileName = path;
    return checkAndShowImage(m_image, m_selection, path);
}

bool StationWindow::busy() const
{
    return m_ports->tally().running > 0;
}

void StationWindow::startRow(int row)
{
    FlashJob &job = m_ports->job(row);
    const DiscoveredPort &port = m_ports->port(row);
    if (job.running() || (port.number == 0 && port.device.isEmpty()))
        return;
    QStringList args{QStringLiteral("--json"), QStringLiteral("--log"), m_settings.logFile,
                     QStringLiteral("--config"), m_settings.config.folder};
    // A comN link is resolved by the child at its open, like every front end does.
    if (port.number > 0)
        args << QStringLiteral("--port") << QString::number(port.number);
    else
        args << QStringLiteral("--device") << port.device;
    args << m_image.fileText();
    job.start(m_settings.flashProgram, args);
}

void StationWindow::updateTicked()
{
    if (!m_imageAccepted || m_closing)
        return;
    for (int r = 0; r < m_ports->rowCount(); ++r)
        if (m_ports->ticked(r))
            startRow(r);
    updateControls();
}

void StationWindow::rerunFailed()
{
    if (!m_imageAccepted || m_closing)
        return;
    for (int r = 0; r < m_ports->rowCount(); ++r)
        if (m_ports->job(r).failed()) {
            m_ports->setTicked(r, true);
            startRow(r);
        }
    updateControls();
}

void StationWindow::stopAll()
{
    for (int r = 0; r < m_ports->rowCount(); ++r)
        m_ports->job(r).stop();
    updateControls();
}

void StationWindow::onJobFinished()
{
    updateControls();
    if (m_closing && !busy())
        close();
}

void StationWindow::updateControls()
{
    const PortTable::Tally t = m_ports->tally();
    const bool idle = t.running == 0;
    m_selectButton->setEnabled(idle && !m_closing);
    m_refreshButton->setEnabled(idle && !m_closing);
    m_tickAllButton->setEnabled(idle && !m_closing && m_ports->rowCount() > 0);
    m_updateButton->setEnabled(m_imageAccepted && !m_closing && t.ticked > 0);
    m_rerunButton->setEnabled(m_imageAccepted && !m_closing && t.failed > 0);
    m_stopButton->setEnabled(!idle);
    QString text = m_ports->rowCount() == 0
        ? QStringLiteral("No serial ports found.")
        : QStringLiteral("%1 ports, %2 ticked").arg(m_ports->rowCount()).arg(t.ticked);
    if (t.running)
        text += QStringLiteral(", %1 updating").arg(t.running);
    if (t.updated)
        text += QStringLiteral(", %1 updated").arg(t.updated);
    if (t.failed)
        text += QStringLiteral(", %1 failed").arg(t.failed);
    if (m_closing)
        text += QStringLiteral(": stopping the updates, the window closes when they have ended");
    m_summary->setText(text);
}

void StationWindow::closeEvent(QCloseEvent *event)
{
    if (!busy()) {
        event->accept();
        return;
    }
    event->ignore();
    if (m_closing)
        return;
    QMessageBox ask(QMessageBox::Warning, QString::fromLatin1(AppTitle),
                    QStringLiteral("%1 updates are running. Stop them and close?\n\nA stopped indicator stays "
                                   "in its boot loader and needs a new update.").arg(m_ports->tally().running),
                    QMessageBox::Ok | QMessageBox::Cancel, this);
    ask.button(QMessageBox::Ok)->setText(QStringLiteral("Stop and close"));
    ask.setDefaultButton(QMessageBox::Cancel);
    if (ask.exec() != QMessageBox::Ok || !busy()) {
        if (!busy())
            close();
        return;
    }
    m_closing = true;
    stopAll();
}
