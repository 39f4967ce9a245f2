#pragma once
// The ports the station can update, one row each: tick, stage, progress,
// indicator and outcome. Rows own their update job.

#include <QAbstractTableModel>
#include <QSet>
#include <QTimer>
#include <vector>

#include "FlashJob.h"
#include "link/PortDiscovery.h"

class PortTable : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { PortColumn, StageColumn, ProgressColumn, RateColumn, IndicatorColumn, OutcomeColumn, ColumnCount };
    static constexpr int PercentRole = Qt::UserRole;  // progress, 0..100; -1 for no bar

    explicit PortTable(QObject *parent = nullptr);

    // The ports found now; ticks, jobs and results of ports still there stay,
    // and so does the row of a port gone while its update runs.
    void setPorts(const QList<DiscoveredPort> &ports);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role) override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    const DiscoveredPort &port(int row) const { return m_rows[size_t(row)].port; }
    FlashJob &job(int row) const { return *m_rows[size_t(row)].job; }
    int row(const QString &name) const;
    bool ticked(int row) const { return m_rows[size_t(row)].ticked; }
    void setTicked(int row, bool on);
    // Ticks every port, or clears every tick when all are ticked.
    void tickAll();

    struct Tally {
        int ticked = 0, running = 0, updated = 0, failed = 0;
    };
    Tally tally() const;

signals:
    void jobFinished(int row);
    void ticksChanged();

private:
    struct Row {
        DiscoveredPort port;
        bool ticked = false;
        FlashJob *job = nullptr;
    };
    void flushChanges();
    FlashJob *newJob();

    std::vector<Row> m_rows;
    QSet<FlashJob *> m_dirty;  // repainted together, five times a second at most
    QTimer m_flush;
};

// What the job's columns (stage to outcome) show for a role: a function of
// the job's state alone.
QVariant jobCell(const JobState &state, int column, int role);
