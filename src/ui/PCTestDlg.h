#pragma once
// "PC Operation": the bay task monitor's window. It mirrors TTaskMonitor; the
// buttons only store their request, the monitor's loop serves it.
#include <QDialog>
#include <functional>
#include <memory>

#include "service/TaskMonitor.h"

namespace Ui {
class TPCTestDlg;
}
class QLineSeries;
class QChart;
class QChartView;
class QTableWidget;
class TDockComm;

class TPCTestDlg : public QDialog {
    Q_OBJECT
public:
    TPCTestDlg(TDockComm& comm, const QString& programFolder, const QString& logDestination,
               QWidget* parent = nullptr);
    ~TPCTestDlg() override;

    // Fills the fixed texts of both tables and shows the dialog modally.
    int ShowDlg();
    // Shows it without waiting (tests).
    void prepare();

    TTaskMonitor& monitor() { return *m_monitor; }

    // Where a dialog of the natural size goes on a screen's available area: no larger
    // than the area less the window frame, no smaller than its minimum (unless the
    // screen is smaller still), centred, its title bar on the screen.
    static QRect FitRect(const QSize& natural, const QSize& minimum, const QRect& available, const QSize& frame);
    QChart* chart() const { return m_chart; }

public slots:
    void reject() override; // refused while the loop runs, as the "close" button is

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void refresh();
    void applyLanguage();
    void fitColumns();
    void fitToScreen();
    // Copies the monitor's cells, in the chosen language; `fixed` gives row 0 and column 0.
    void refreshGrid(QTableWidget* grid, int rows, int cols, const QString* cells,
                     const std::function<QString(int, int)>& fixed);
    void redrawChart();

    std::unique_ptr<Ui::TPCTestDlg> ui;
    std::unique_ptr<TTaskMonitor> m_monitor;
    QChart* m_chart = nullptr;
    QChartView* m_chartView = nullptr;
    QList<QLineSeries*> m_series;
    QString m_shownTab;
    int m_naturalWidth = 1180;
};
