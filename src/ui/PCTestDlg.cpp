#include "PCTestDlg.h"

#include "ui_PCTestDlg.h"

#include <QCloseEvent>
#include <QHeaderView>
#include <QPainter>
#include <QScreen>
#include <QSplitter>
#include <QStyledItemDelegate>
#include <QVBoxLayout>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QLegend>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>

#include "lang/LangTable.h"
#include "link/serial/DockComm.h"

namespace {

const QColor kFixed(238, 238, 247);

// Fixed cells (row 0, column 0) lavender with bold text, data cells white; in the
// result table the labels of column 0 stand 8 pixels in, everything else centred.
class GridCellDelegate : public QStyledItemDelegate {
public:
    GridCellDelegate(bool resultTable, QObject* parent) : QStyledItemDelegate(parent), m_result(resultTable) {}
    void paint(QPainter* p, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        const bool fixed = index.row() == 0 || index.column() == 0;
        p->save();
        p->fillRect(option.rect, fixed ? kFixed : Qt::white);
        QFont f = option.font;
        f.setBold(fixed);
        p->setFont(f);
        p->setPen(Qt::black);
        const QString text = index.data().toString();
        if (m_result && index.column() == 0 && index.row() > 0)
            p->drawText(option.rect.adjusted(8, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, text);
        else
            p->drawText(option.rect, Qt::AlignCenter, text);
        p->setPen(QColor(200, 200, 210));
        p->drawLine(option.rect.bottomLeft(), option.rect.bottomRight());
        p->drawLine(option.rect.topRight(), option.rect.bottomRight());
        p->restore();
    }

private:
    bool m_result;
};

QColor tileColour(BayLook look)
{
    switch (look) {
    case BayLook::Running: return QColor(255, 213, 79);
    case BayLook::Pass: return QColor(102, 187, 106);
    case BayLook::Error: return QColor(239, 83, 80);
    case BayLook::Idle: break;
    }
    return QColor(224, 224, 224);
}

QColor linkColour(TTaskMonitor::Link link)
{
    return tileColour(link == TTaskMonitor::Link::Open ? BayLook::Pass : BayLook::Error);
}

void setBackground(QWidget* w, const QColor& c)
{
    QPalette pal = w->palette();
    pal.setColor(QPalette::Window, c);
    pal.setColor(QPalette::WindowText, Qt::black);
    w->setPalette(pal);
    w->setAutoFillBackground(true);
}

} // namespace

TPCTestDlg::TPCTestDlg(TDockComm& comm, const QString& programFolder, const QString& logDestination,
                       QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::TPCTestDlg>()), m_monitor(std::make_unique<TTaskMonitor>(comm))
{
    ui->setupUi(this);
    m_monitor->ProgramFolder = programFolder;
    m_monitor->LogDestination = logDestination;

    const std::pair<QPushButton*, uint8_t> requests[] = {
        {ui->BtnTestOpBtn, MONITOR_BTN_OPERATION},     {ui->BtnTestStatusBtn, MONITOR_BTN_STATUS},
        {ui->BtnTestResultBtn, MONITOR_BTN_RESULT},    {ui->BtnTestLogBtn, MONITOR_BTN_LOG},
        {ui->BtnTestFlowOnBtn, MONITOR_BTN_FLOWON},    {ui->BtnTestFlowOffBtn, MONITOR_BTN_FLOWOFF},
        {ui->ResSaveResultBtn, MONITOR_BTN_SAVERESULT}, {ui->ResSaveLogBtn, MONITOR_BTN_SAVELOG}};
    for (const auto& [b, tag] : requests) {
        b->setProperty("tag", int(tag));
        connect(b, &QPushButton::clicked, this, [this, t = tag] { m_monitor->Press(t); });
    }
    connect(ui->BtnStartBtn, &QPushButton::clicked, this, [this] { m_monitor->TestStart(); });
    connect(ui->BtnStopBtn, &QPushButton::clicked, this, [this] { m_monitor->Stop(); });
    connect(ui->BtnCloseBtn, &QPushButton::clicked, this, [this] { reject(); });
    connect(ui->BtnTestOpCombo, &QComboBox::currentIndexChanged, this,
            [this](int i) { m_monitor->BtnTestOpComboIndex = i; });
    connect(ui->LogOpReadCheck, &QCheckBox::toggled, this, [this](bool on) { m_monitor->SetLogRead(on); });
    connect(ui->LogOpSendCheck, &QCheckBox::toggled, this, [this](bool on) { m_monitor->SetLogSend(on); });
    connect(ui->LogOpClearBtn, &QPushButton::clicked, ui->LogMemo, &QPlainTextEdit::clear);
    m_monitor->LogLine = [this](const QString& s) { ui->LogMemo->appendPlainText(s); };
    m_monitor->Changed = [this] { refresh(); };
    m_monitor->LogRead = [this] { redrawChart(); };

    // The grids: fixed sizes, no headers of their own (row 0 and column 0 are the headers).
    applyLanguage();
    QTableWidget* res = ui->ResTestGrid;
    res->setItemDelegate(new GridCellDelegate(true, res));
    for (int r = 0; r < TTaskMonitor::RES_ROWS; ++r)
        res->setRowHeight(r, 18);
    QTableWidget* lg = ui->ResLogGrid;
    lg->setItemDelegate(new GridCellDelegate(false, lg));
    lg->verticalHeader()->setDefaultSectionSize(18);
    fitColumns();
    res->verticalHeader()->setMinimumSectionSize(1); // the 5-pixel separator row
    for (QTableWidget* g : {res, lg}) {
        g->setShowGrid(false);
        g->setWordWrap(false);
        g->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
        g->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
        for (int r = 0; r < g->rowCount(); ++r)
            for (int c = 0; c < g->columnCount(); ++c)
                g->setItem(r, c, new QTableWidgetItem);
    }

    // The curves as a chart above their table: one line per bay and kind, a bay's
    // purge dashed and lighter than its gas, and the legend drawn with each line's pen.
    m_chart = new QChart;
    m_chart->setTitle(LangText(908, "Gas and purge curves"));
    m_chart->legend()->setAlignment(Qt::AlignRight);
    m_chart->legend()->setMarkerShape(QLegend::MarkerShapeFromSeries);
    QFont legendFont = m_chart->legend()->font();
    legendFont.setPointSizeF(legendFont.pointSizeF() * 0.85);
    m_chart->legend()->setFont(legendFont);
    m_chart->setMargins(QMargins(4, 4, 4, 4));
    static const QColor kBay[4] = {QColor(33, 150, 243), QColor(229, 57, 53), QColor(67, 160, 71),
                                   QColor(251, 140, 0)};
    auto* x = new QValueAxis;
    x->setRange(1, 125);
    x->setLabelFormat(QStringLiteral("%d"));
    x->setTitleText(LangText(909, "Sample"));
    auto* y = new QValueAxis;
    y->setRange(0, 100);
    y->setLabelFormat(QStringLiteral("%d"));
    y->setTitleText(LangText(910, "Reading"));
    m_chart->addAxis(x, Qt::AlignBottom);
    m_chart->addAxis(y, Qt::AlignLeft);
    for (int c = 1; c < TTaskMonitor::LOG_COLS; ++c) {
        const int bay = (c - 1) / 2 + 1;
        const bool purge = (c - 1) % 2 == 1;
        auto* s = new QLineSeries;
        s->setName(purge ? LangText(903, "Bay %1 purge").arg(bay) : LangText(902, "Bay %1 gas").arg(bay));
        QPen pen(purge ? kBay[bay - 1].lighter(135) : kBay[bay - 1]);
        pen.setWidthF(purge ? 1.4 : 2.0);
        if (purge)
            pen.setStyle(Qt::DashLine);
        s->setPen(pen);
        m_chart->addSeries(s);
        s->attachAxis(x);
        s->attachAxis(y);
        m_series << s;
    }
    m_chartView = new QChartView(m_chart, ui->ResLogChartBox);
    m_chartView->setObjectName(QStringLiteral("ResLogChart"));
    m_chartView->setRenderHint(QPainter::Antialiasing);
    auto* box = new QVBoxLayout(ui->ResLogChartBox);
    box->setContentsMargins(0, 0, 0, 0);
    box->addWidget(m_chartView);
    ui->ResLogChartBox->setMinimumSize(280, 160);

    // Chart and curve table share the tab in a splitter; the displays on the left and
    // the tables on the right share the dialog in another. Both tables scroll.
    auto* curves = new QSplitter(Qt::Vertical, ui->ResLogTS);
    curves->setObjectName(QStringLiteral("ResLogSplitter"));
    curves->setChildrenCollapsible(false);
    ui->ResLogRowLayout->removeWidget(ui->ResLogGrid);
    ui->ResLogRowLayout->removeWidget(ui->ResLogChartBox);
    curves->addWidget(ui->ResLogChartBox);
    curves->addWidget(lg);
    curves->setStretchFactor(0, 3);
    curves->setStretchFactor(1, 2);
    ui->ResLogLayout->removeItem(ui->ResLogRowLayout);
    delete ui->ResLogRowLayout;
    ui->ResLogRowLayout = nullptr;
    ui->ResLogLayout->insertWidget(0, curves, 1);

    auto* body = new QSplitter(Qt::Horizontal, this);
    body->setObjectName(QStringLiteral("BodySplitter"));
    body->setChildrenCollapsible(false);
    auto* left = new QWidget(body);
    left->setObjectName(QStringLiteral("LeftPanel"));
    ui->BodyLayout->removeItem(ui->LeftLayout);
    ui->LeftLayout->setParent(nullptr);
    left->setLayout(ui->LeftLayout);
    ui->BodyLayout->removeWidget(ui->ResPage);
    body->addWidget(left);
    body->addWidget(ui->ResPage);
    body->setStretchFactor(0, 0);
    body->setStretchFactor(1, 1);
    ui->BodyLayout->addWidget(body);
    // Extra height goes to the tables and the chart, not to the button rows.
    ui->BtnTestPanel->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Maximum);
    ui->MainLayout->setStretchFactor(ui->BodyLayout, 1);
    curves->setSizes({340, 260});
    // The result table shown whole when the screen has room for it.
    int resWidth = 0;
    for (int c = 0; c < TTaskMonitor::RES_COLS; ++c)
        resWidth += res->columnWidth(c);
    resWidth += 2 * res->frameWidth() + style()->pixelMetric(QStyle::PM_ScrollBarExtent) + 12;
    body->setSizes({left->sizeHint().width(), resWidth});
    // Wide enough for both when the screen allows: longer texts widen the columns.
    m_naturalWidth = std::max(1180, left->sizeHint().width() + resWidth + body->handleWidth() + 40);

    // The traffic of the dialog's own link, from the start; a long watch keeps the last lines.
    ui->LogMemo->setMaximumBlockCount(5000);
    ui->LogOpSendCheck->setChecked(true);
    ui->LogOpReadCheck->setChecked(true);
    if (comm.FComEnable)
        ui->LogMemo->appendPlainText(LangText(1028, "USB port allocated ... %1").arg(comm.RSCom ? comm.RSCom->DeviceName() : QString()));
    ui->TaskUsbLabel->setText(QStringLiteral("USB"));
    for (int b = 1; b <= 4; ++b)
        if (auto* l = findChild<QLabel*>(QStringLiteral("BayStatusLabel%1").arg(b)))
            setBackground(l, tileColour(BayLook::Idle));
    refresh();
}

// The dialog's own captions; the texts of the tables come from the monitor.
void TPCTestDlg::applyLanguage()
{
    setWindowTitle(LangText(402, "PC Operation"));
    const std::pair<QAbstractButton*, QString> buttons[] = {
        {ui->BtnStartBtn, LangText(1121, "Start")},
        {ui->BtnStopBtn, LangText(1122, "Stop")},
        {ui->BtnCloseBtn, LangText(954, "Close")},
        {ui->BtnTestOpBtn, LangText(1135, "Operation")},
        {ui->BtnTestStatusBtn, LangText(925, "Status")},
        {ui->BtnTestResultBtn, LangText(124, "Result")},
        {ui->BtnTestLogBtn, LangText(1129, "Log")},
        {ui->BtnTestFlowOnBtn, LangText(1130, "Flow On")},
        {ui->BtnTestFlowOffBtn, LangText(1131, "Flow Off")},
        {ui->LogOpSendCheck, LangText(260, "Comm-Send")},
        {ui->LogOpReadCheck, LangText(258, "Comm-Read")},
        {ui->LogOpClearBtn, LangText(254, "Clear")},
        {ui->ResSaveResultBtn, LangText(1136, "Save Result")},
        {ui->ResSaveLogBtn, LangText(103, "Save Log")},
    };
    for (const auto& [b, text] : buttons)
        b->setText(text);
    ui->TaskGB->setTitle(LangText(1132, "Task"));
    ui->BayGB->setTitle(LangText(1133, "Bay"));
    ui->LogGB->setTitle(LangText(1129, "Log"));
    ui->BayHeadLabel1->setText(LangText(925, "Status"));
    ui->BayHeadLabel2->setText(LangText(1134, "Step"));
    ui->BayHeadLabel3->setText(LangText(113, "Duration"));
    ui->BayHeadLabel4->setText(LangText(8, "Gas"));
    ui->ResPage->setTabText(ui->ResPage->indexOf(ui->ResResultTS), LangText(124, "Result"));
    ui->ResPage->setTabText(ui->ResPage->indexOf(ui->ResLogTS), LangText(908, "Gas and purge curves"));
    const QStringList actions = ShownActionCaptions();
    for (int i = 0; i < ui->BtnTestOpCombo->count() && i < actions.size(); ++i)
        ui->BtnTestOpCombo->setItemText(i, actions[i]);
}

// Columns as wide as their texts in the chosen language, never narrower than the
// usual 128/132 and 40/72 pixels.
void TPCTestDlg::fitColumns()
{
    QFont bold = font();
    bold.setBold(true);
    const QFontMetrics fixed(bold);
    const QFontMetrics plain(font());
    QTableWidget* res = ui->ResTestGrid;
    int labels = 128;
    for (int r = 0; r < TTaskMonitor::RES_ROWS; ++r)
        labels = std::max(labels, fixed.horizontalAdvance(ShownResultLabel(r)) + 20);
    res->setColumnWidth(0, labels);
    int bays = 132;
    for (uint8_t code = 0; code <= 6; ++code)
        bays = std::max(bays, plain.horizontalAdvance(ShownMonitorText(GetTestResult(code)) + LedBitsSuffix(0)) + 12);
    for (int c = 1; c < TTaskMonitor::RES_COLS; ++c)
        res->setColumnWidth(c, bays);
    QTableWidget* lg = ui->ResLogGrid;
    for (int c = 0; c < TTaskMonitor::LOG_COLS; ++c)
        lg->setColumnWidth(c, std::max(c == 0 ? 40 : 72, fixed.horizontalAdvance(ShownLogHeader(c)) + 12));
    // The tiles as wide as the longest status word.
    int tile = 0, task = 0;
    for (uint8_t code = 0; code <= 13; ++code)
        tile = std::max(tile, plain.horizontalAdvance(ShownMonitorText(BayStatusText(code))) + 12);
    for (uint8_t code = 0; code <= 7; ++code)
        task = std::max(task, plain.horizontalAdvance(ShownMonitorText(TaskStatusText(code))) + 12);
    for (int b = 1; b <= 4; ++b)
        if (auto* l = findChild<QLabel*>(QStringLiteral("BayStatusLabel%1").arg(b)))
            l->setMinimumWidth(std::max(l->minimumWidth(), tile));
    ui->TaskStatusLabel->setMinimumWidth(std::max(ui->TaskStatusLabel->minimumWidth(), task));
}

TPCTestDlg::~TPCTestDlg()
{
    m_monitor->Stop();
    m_monitor->Changed = nullptr;
    m_monitor->LogLine = nullptr;
    m_monitor->LogRead = nullptr;
}

void TPCTestDlg::prepare()
{
    m_monitor->FillFixedTexts();
    ui->ResTestGrid->setRowHeight(7, 5); // the unlabelled separator row
    refresh();
    fitToScreen();
}

QRect TPCTestDlg::FitRect(const QSize& natural, const QSize& minimum, const QRect& available, const QSize& frame)
{
    const QSize room = (available.size() - frame).expandedTo(QSize(1, 1));
    const QSize size = natural.boundedTo(room).expandedTo(minimum.boundedTo(room));
    QRect r(QPoint(0, 0), size);
    r.moveCenter(available.center());
    // The title bar stays on the screen: the frame's top and left lie inside it.
    const int top = available.top() + frame.height() - frame.width() / 2;
    r.moveTop(std::max(r.top(), top));
    r.moveLeft(std::max(r.left(), available.left() + frame.width() / 2));
    return r;
}

void TPCTestDlg::fitToScreen()
{
    const QWidget* anchor = parentWidget() ? parentWidget() : this;
    const QScreen* s = anchor->screen() ? anchor->screen() : QGuiApplication::primaryScreen();
    if (!s)
        return;
    // Before the first show the window manager's frame is not known: room for a usual one.
    QSize frame = frameGeometry().size() - geometry().size();
    if (frame.width() <= 0 || frame.height() <= 0)
        frame = QSize(16, 40);
    setGeometry(FitRect(QSize(m_naturalWidth, 760), minimumSizeHint(), s->availableGeometry(), frame));
}

int TPCTestDlg::ShowDlg()
{
    prepare();
    return exec();
}

void TPCTestDlg::reject()
{
    if (!m_monitor->CloseEnabled)
        return;
    QDialog::reject();
}

void TPCTestDlg::closeEvent(QCloseEvent* event)
{
    if (!m_monitor->CloseEnabled) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void TPCTestDlg::refreshGrid(QTableWidget* grid, int rows, int cols, const QString* cells,
                             const std::function<QString(int, int)>& fixed)
{
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c) {
            QTableWidgetItem* it = grid->item(r, c);
            const QString v = r == 0 || c == 0 ? fixed(r, c) : ShownMonitorText(cells[r * cols + c]);
            if (it && it->text() != v)
                it->setText(v);
        }
}

void TPCTestDlg::refresh()
{
    TTaskMonitor& m = *m_monitor;
    ui->BtnStartBtn->setEnabled(m.StartEnabled);
    ui->BtnCloseBtn->setEnabled(m.CloseEnabled);
    ui->BtnStopBtn->setEnabled(m.StopEnabled);
    ui->BtnTestPanel->setEnabled(m.PanelEnabled);
    ui->ResSaveResultBtn->setEnabled(m.SaveEnabled);
    ui->ResSaveLogBtn->setEnabled(m.SaveEnabled);
    ui->BtnTestFlowOnBtn->setEnabled(m.FlowOnEnabled);
    ui->BtnTestFlowOffBtn->setEnabled(m.FlowOffEnabled);
    if (ui->BtnTestOpCombo->currentIndex() != m.BtnTestOpComboIndex)
        ui->BtnTestOpCombo->setCurrentIndex(m.BtnTestOpComboIndex);

    if (m.TaskUsbKnown)
        ui->TaskStatusLabel->setText(ShownMonitorText(m.TaskStatusLabel));
    // The tile follows the link; the dock's own USB flag is told in its tip.
    setBackground(ui->TaskUsbLabel, linkColour(m.LinkState));
    QString tip = m.LinkState == TTaskMonitor::Link::Open     ? LangText(904, "USB link open")
                  : m.LinkState == TTaskMonitor::Link::Silent ? LangText(911, "The dock does not answer")
                                                               : LangText(905, "USB link closed");
    if (m.TaskUsbKnown)
        tip += QLatin1Char('\n') + (m.TaskUsb ? LangText(912, "The dock reports its USB flag set")
                                              : LangText(913, "The dock reports its USB flag clear"));
    ui->TaskUsbLabel->setToolTip(tip);
    ui->TaskUsbLabel->setAccessibleDescription(tip);
    for (int b = 0; b < 4; ++b) {
        const TTaskMonitor::BayDisplay& d = m.Bays[size_t(b)];
        if (!d.known)
            continue;
        auto* status = findChild<QLabel*>(QStringLiteral("BayStatusLabel%1").arg(b + 1));
        auto* step = findChild<QLabel*>(QStringLiteral("BayStepLabel%1").arg(b + 1));
        auto* timer = findChild<QLabel*>(QStringLiteral("BayTimerLabel%1").arg(b + 1));
        status->setText(ShownMonitorText(d.status));
        setBackground(status, tileColour(BayStatusLook(d.code)));
        step->setText(d.step);
        timer->setText(d.timer);
    }
    refreshGrid(ui->ResTestGrid, TTaskMonitor::RES_ROWS, TTaskMonitor::RES_COLS, &m.ResTestGrid[0][0],
                [](int r, int c) { return c == 0 ? ShownResultLabel(r) : QStringLiteral("#%1").arg(c); });
    refreshGrid(ui->ResLogGrid, TTaskMonitor::LOG_ROWS, TTaskMonitor::LOG_COLS, &m.ResLogGrid[0][0],
                [](int r, int c) { return r == 0 ? ShownLogHeader(c) : QString::number(r); });
    if (m.ShownTab != m_shownTab) {
        m_shownTab = m.ShownTab;
        ui->ResPage->setCurrentWidget(m.ShownTab == QLatin1String("Logging Data") ? ui->ResLogTS : ui->ResResultTS);
    }
}

void TPCTestDlg::redrawChart()
{
    int lo = 0, hi = 10;
    for (int c = 1; c < TTaskMonitor::LOG_COLS; ++c) {
        const QVector<int> v = m_monitor->Curve(c);
        QList<QPointF> pts;
        pts.reserve(v.size());
        for (int i = 0; i < v.size(); ++i) {
            pts << QPointF(i + 1, v[i]);
            lo = std::min(lo, v[i]);
            hi = std::max(hi, v[i]);
        }
        m_series[c - 1]->replace(pts);
    }
    const auto axes = m_chart->axes(Qt::Vertical);
    if (!axes.isEmpty()) {
        auto* y = static_cast<QValueAxis*>(axes.first());
        y->setRange(lo, hi + (hi - lo) / 10 + 1);
        y->applyNiceNumbers();
    }
}
