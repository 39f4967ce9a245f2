#include "PortView.h"

#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPainter>
#include <QStyledItemDelegate>

#include "FlashContract.h"
#include "PortTable.h"

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

}  // namespace

PortView::PortView(PortTable *ports, QWidget *parent) : QTableView(parent), m_ports(ports)
{
    setModel(ports);
    setItemDelegateForColumn(PortTable::ProgressColumn, new ProgressDelegate(this));
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setTabKeyNavigation(false);
    verticalHeader()->hide();
    setToolTip(QStringLiteral("Space ticks or clears the current port"));
    fixColumnWidths();
}

// Widths fixed once from the widest text each column can hold: the table
// must not jump while updates run.
void PortView::fixColumnWidths()
{
    const QFontMetrics metrics(font());
    QHeaderView *header = horizontalHeader();
    const auto fix = [&](int column, QStringList texts) {
        texts << m_ports->headerData(column, Qt::Horizontal, Qt::DisplayRole).toString();
        int width = 0;
        for (const QString &t : texts)
            width = qMax(width, metrics.horizontalAdvance(t));
        header->setSectionResizeMode(column, QHeaderView::Fixed);
        header->resizeSection(column, width + 24);
    };
    QStringList stages{QStringLiteral("stopping"), QStringLiteral("done"), outcome::Failed};
    for (const QLatin1String stage : StageWords)
        stages << stage;
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

// Space ticks the current row whichever column holds the focus.
void PortView::keyPressEvent(QKeyEvent *event)
{
    const QModelIndex current = currentIndex();
    if (event->key() != Qt::Key_Space) {
        QTableView::keyPressEvent(event);
    } else if (current.isValid()) {
        m_ports->setTicked(current.row(), !m_ports->ticked(current.row()));
    }
}
