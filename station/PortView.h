#pragma once
// The station's table as the technician sees it: a progress bar in the
// progress column, widths that do not jump while updates run, and Space to
// tick the current port.

#include <QTableView>

class PortTable;

class PortView : public QTableView {
    Q_OBJECT
public:
    explicit PortView(PortTable *ports, QWidget *parent = nullptr);

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    void fixColumnWidths();

    PortTable *m_ports;
};
