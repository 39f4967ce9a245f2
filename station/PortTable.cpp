#include "PortTable.h"

#include <QBrush>
#include <QColor>
#include <algorithm>

namespace {

QString portText(const DiscoveredPort &p)
{
    if (p.kind == DiscoveredPort::Kind::ComLink)
        return p.device.isEmpty() ? p.name + QStringLiteral(" (no device)") : p.name + QStringLiteral(" (") + p.device + QLatin1Char(')');
    return p.name;
}

QString rateText(double bytesPerSecond)
{
    return bytesPerSecond >= 1000 ? QStringLiteral("%1 kB/s").arg(bytesPerSecond / 1000, 0, 'f', 1)
                                  : QStringLiteral("%1 B/s").arg(qRound(bytesPerSecond));
}

// Printable characters as they are, others as \xNN: a version field may hold anything.
QString shown(const QString &raw)
{
    QString out;
    for (const QChar c : raw)
        out += c.unicode() >= 0x20 && c.unicode() < 0x7F ? QString(c)
                                                        : QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
    return out;
}

}  // namespace

PortTable::PortTable(QObject *parent) : QAbstractTableModel(parent)
{
    m_flush.setInterval(200);
    m_flush.setSingleShot(true);
    connect(&m_flush, &QTimer::timeout, this, &PortTable::flushChanges);
}

FlashJob *PortTable::newJob()
{
    auto *job = new FlashJob(this);
    connect(job, &FlashJob::changed, this, [this, job] {
        m_dirty.insert(job);
        if (!m_flush.isActive())
            m_flush.start();
    });
    connect(job, &FlashJob::finished, this, [this, job] {
        for (size_t i = 0; i < m_rows.size(); ++i)
            if (m_rows[i].job == job)
                emit jobFinished(int(i));
    });
    return job;
}

// Row by row rather than a reset, so that the view keeps its current row
// and a running update is never repainted from scratch.
void PortTable::setPorts(const QList<DiscoveredPort> &ports)
{
    const auto listed = [&ports](const QString &name) {
        return std::any_of(ports.begin(), ports.end(), [&](const DiscoveredPort &p) { return p.name == name; });
    };
    for (int i = int(m_rows.size()) - 1; i >= 0; --i) {
        if (listed(m_rows[size_t(i)].port.name) || m_rows[size_t(i)].job->running())
            continue;
        beginRemoveRows({}, i, i);
        m_dirty.remove(m_rows[size_t(i)].job);
        delete m_rows[size_t(i)].job;
        m_rows.erase(m_rows.begin() + i);
        endRemoveRows();
    }
    for (int i = 0; i < ports.size(); ++i) {
        if (const int old = row(ports[i].name); old >= 0) {
            m_rows[size_t(old)].port = ports[i];
            emit dataChanged(index(old, PortColumn), index(old, PortColumn));
            continue;
        }
        const int at = qMin(i, int(m_rows.size()));
        beginInsertRows({}, at, at);
        m_rows.insert(m_rows.begin() + at, Row{ports[i], false, newJob()});
        endInsertRows();
    }
    emit ticksChanged();
}

int PortTable::row(const QString &name) const
{
    for (size_t i = 0; i < m_rows.size(); ++i)
        if (m_rows[i].port.name == name)
            return int(i);
    return -1;
}

void PortTable::setTicked(int row, bool on)
{
    if (m_rows[size_t(row)].ticked == on || m_rows[size_t(row)].job->running())
        return;
    m_rows[size_t(row)].ticked = on;
    emit dataChanged(index(row, PortColumn), index(row, PortColumn), {Qt::CheckStateRole});
    emit ticksChanged();
}

void PortTable::tickAll()
{
    const bool all = std::all_of(m_rows.begin(), m_rows.end(), [](const Row &r) { return r.ticked; });
    for (size_t i = 0; i < m_rows.size(); ++i)
        setTicked(int(i), !all);
}

PortTable::Tally PortTable::tally() const
{
    Tally t;
    for (const Row &r : m_rows) {
        const bool running = r.job->running();
        t.ticked += r.ticked;
        t.running += running;
        t.updated += !running && r.job->state().phase == JobState::Phase::Done && r.job->state().exitCode == 0;
        t.failed += !running && r.job->failed();
    }
    return t;
}

void PortTable::flushChanges()
{
    for (size_t i = 0; i < m_rows.size(); ++i)
        if (m_dirty.contains(m_rows[i].job))
            emit dataChanged(index(int(i), 0), index(int(i), ColumnCount - 1));
    m_dirty.clear();
}

int PortTable::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int PortTable::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant PortTable::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    static const char *const names[] = {"Port", "Stage", "Progress", "Rate", "Indicator", "Outcome"};
    return QString::fromLatin1(names[section]);
}

Qt::ItemFlags PortTable::flags(const QModelIndex &index) const
{
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (index.column() == PortColumn && !m_rows[size_t(index.row())].job->running())
        f |= Qt::ItemIsUserCheckable;
    return f;
}

bool PortTable::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (role != Qt::CheckStateRole || index.column() != PortColumn || !(flags(index) & Qt::ItemIsUserCheckable))
        return false;
    setTicked(index.row(), value.value<Qt::CheckState>() == Qt::Checked);
    return true;
}

QVariant PortTable::data(const QModelIndex &index, int role) const
{
    if (!index.isValid())
        return {};
    const Row &r = m_rows[size_t(index.row())];
    if (index.column() != PortColumn)
        return jobCell(r.job->state(), index.column(), role);
    if (role == Qt::DisplayRole)
        return portText(r.port);
    if (role == Qt::CheckStateRole)
        return r.ticked ? Qt::Checked : Qt::Unchecked;
    if (role == Qt::ToolTipRole) {
        QStringList lines{r.port.device.isEmpty() ? QStringLiteral("The link names no device") : r.port.device};
        if (!r.port.description.isEmpty())
            lines << r.port.description;
        if (!r.port.aliases.isEmpty())
            lines << QStringLiteral("Also: ") + r.port.aliases.join(QStringLiteral(", "));
        return lines.join(QLatin1Char('\n'));
    }
    return {};
}

QVariant jobCell(const JobState &s, int column, int role)
{
    const bool idle = s.phase == JobState::Phase::Idle;
    switch (column) {
    case PortTable::StageColumn:
        if (role != Qt::DisplayRole)
            break;
        if (s.phase == JobState::Phase::Done)
            return s.exitCode == 0 ? QStringLiteral("done") : s.outcome;
        return s.phase == JobState::Phase::Stopping ? QStringLiteral("stopping") : s.stage;
    case PortTable::ProgressColumn:
        if (role == PortTable::PercentRole)
            return idle || s.total <= 0 ? -1 : int(s.sent * 100 / s.total);
        if (role == Qt::DisplayRole && !idle && s.total > 0)
            return QStringLiteral("%1 %").arg(s.sent * 100 / s.total);
        if (role == Qt::ToolTipRole && !idle)
            return QStringLiteral("%1 of %2 bytes acknowledged").arg(s.sent).arg(s.total);
        break;
    case PortTable::RateColumn:
        if (role == Qt::DisplayRole && !idle) {
            QStringList parts;
            if (s.rate > 0)
                parts << rateText(s.rate);
            if (s.retries > 0)
                parts << QStringLiteral("(%1 retries)").arg(s.retries);
            return parts.join(QStringLiteral("  "));
        }
        break;
    case PortTable::IndicatorColumn:
        if (role == Qt::DisplayRole && !s.model.isEmpty())
            return shown(s.model) + QLatin1Char(' ') + shown(s.version);
        if (role == Qt::ToolTipRole && !s.chip.isEmpty())
            return QStringLiteral("Flash: ") + shown(s.chip);
        break;
    case PortTable::OutcomeColumn: {
        const OutcomeKind kind = outcomeKind(s);
        if (role == Qt::DisplayRole)
            return s.phase == JobState::Phase::Done ? s.outcomeText : QString();
        if (role == Qt::ToolTipRole) {
            const QString tip = outcomeToolTip(s);
            return tip.isEmpty() ? QVariant() : tip;
        }
        if (role == Qt::BackgroundRole && kind != OutcomeKind::None)
            return QBrush(kind == OutcomeKind::Ok        ? QColor(198, 239, 198)
                          : kind == OutcomeKind::Warning ? QColor(255, 230, 170)
                                                         : QColor(255, 199, 199));
        if (role == Qt::ForegroundRole && kind != OutcomeKind::None)
            return QBrush(kind == OutcomeKind::Ok ? QColor(0, 90, 0) : kind == OutcomeKind::Warning ? QColor(120, 70, 0) : QColor(150, 0, 0));
        break;
    }
    default:
        break;
    }
    return {};
}
