#include "StationWindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

#include "FlashContract.h"
#include "PortTable.h"
#include "app/core/StartUp.h"
#include "bootloader/Update.h"

namespace {

// The progress column: a bar with the percentage on it.
class ProgressDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        const int percent = index.data(PortTable::PercentRole).toInt();
        if (percent < 0) {
            QStyledItemDelegate::paint(painter, option, index);
            return;
        }
        QStyleOptionProgressBar bar;
        bar.rect = option.rect.adjusted(2, 2, -2, -2);
        bar.minimum = 0;
        bar.maximum = 100;
        bar.progress = percent;
        bar.text = index.data().toString();
        bar.textVisible = true;
        bar.state = option.state | QStyle::State_Horizontal;
        const QWidget *w = option.widget;
        (w ? w->style() : QApplication::style())->drawControl(QStyle::CE_ProgressBar, &bar, painter, w);
    }
};

// Widths fixed once from the widest text each column can hold: the table
// must not jump while updates run.
void fixColumnWidths(QTableView *table)
{
    const QFontMetrics metrics(table->font());
    QHeaderView *header = table->horizontalHeader();
    const auto fix = [&](int column, QStringList texts) {
        texts << table->model()->headerData(column, Qt::Horizontal).toString();
        int width = 0;
        for (const QString &t : texts)
            width = qMax(width, metrics.horizontalAdvance(t));
        header->setSectionResizeMode(column, QHeaderView::Fixed);
        header->resizeSection(column, width + 24);
    };
    QStringList stages{QStringLiteral("stopping"), QStringLiteral("done"), outcome::Failed};
    for (int s = int(UpdateStage::WakeUp); s <= int(UpdateStage::Reset); ++s)
        stages << stageName(UpdateStage(s));
    for (const ExitMeaning &m : ExitMeanings)
        stages << m.outcome;
    fix(PortTable::StageColumn, stages);
    fix(PortTable::RateColumn, {QStringLiteral("999.9 kB/s  (999 retries)")});
    fix(PortTable::IndicatorColumn, {QStringLiteral("KD7 V10.10.00")});
    header->setSectionResizeMode(PortTable::ProgressColumn, QHeaderView::Fixed);
    header->resizeSection(PortTable::ProgressColumn, 160);
    header->setSectionResizeMode(PortTable::PortColumn, QHeaderView::ResizeToContents);
    header->setStretchLastSection(true);
}

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

    m_table = new QTableView(this);
    m_table->setModel(m_ports);
    m_table->setItemDelegateForColumn(PortTable::ProgressColumn, new ProgressDelegate(m_table));
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setTabKeyNavigation(false);
    m_table->verticalHeader()->hide();
    fixColumnWidths(m_table);
    m_table->installEventFilter(this);
    m_table->setToolTip(QStringLiteral("Space ticks or clears the current port"));

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
    connect(m_tickAllButton, &QPushButton::clicked, this, [this] {
        bool all = true;
        for (int r = 0; r < m_ports->rowCount(); ++r)
            all &= m_ports->ticked(r);
        for (int r = 0; r < m_ports->rowCount(); ++r)
            m_ports->setTicked(r, !all);
    });
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
    for (int r = 0; r < m_ports->rowCount(); ++r)
        if (m_ports->job(r).running())
            return true;
    return false;
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
    int ticked = 0, running = 0, ok = 0, failed = 0;
    for (int r = 0; r < m_ports->rowCount(); ++r) {
        const FlashJob &job = m_ports->job(r);
        ticked += m_ports->ticked(r);
        running += job.running();
        ok += !job.running() && job.state().phase == JobState::Phase::Done && job.state().exitCode == 0;
        failed += !job.running() && job.failed();
    }
    const bool idle = running == 0;
    m_selectButton->setEnabled(idle && !m_closing);
    m_refreshButton->setEnabled(idle && !m_closing);
    m_tickAllButton->setEnabled(idle && !m_closing && m_ports->rowCount() > 0);
    m_updateButton->setEnabled(m_imageAccepted && !m_closing && ticked > 0);
    m_rerunButton->setEnabled(m_imageAccepted && !m_closing && failed > 0);
    m_stopButton->setEnabled(!idle);
    QString text = m_ports->rowCount() == 0
        ? QStringLiteral("No serial ports found.")
        : QStringLiteral("%1 ports, %2 ticked").arg(m_ports->rowCount()).arg(ticked);
    if (running)
        text += QStringLiteral(", %1 updating").arg(running);
    if (ok)
        text += QStringLiteral(", %1 updated").arg(ok);
    if (failed)
        text += QStringLiteral(", %1 failed").arg(failed);
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
    int running = 0;
    for (int r = 0; r < m_ports->rowCount(); ++r)
        running += m_ports->job(r).running();
    QMessageBox ask(QMessageBox::Warning, QString::fromLatin1(AppTitle),
                    QStringLiteral("%1 updates are running. Stop them and close?\n\nA stopped indicator stays "
                                   "in its boot loader and needs a new update.").arg(running),
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

bool StationWindow::eventFilter(QObject *watched, QEvent *event)
{
    // Space ticks the current row whichever column holds the focus.
    if (watched == m_table && event->type() == QEvent::KeyPress
        && static_cast<QKeyEvent *>(event)->key() == Qt::Key_Space) {
        const QModelIndex current = m_table->currentIndex();
        if (current.isValid())
            m_ports->setTicked(current.row(), !m_ports->ticked(current.row()));
        return true;
    }
    return QWidget::eventFilter(watched, event);
}
