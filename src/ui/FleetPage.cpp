#include "FleetPage.h"

#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QDateTimeAxis>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QPen>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QScatterSeries>
#include <QSortFilterProxyModel>
#include <QSplitter>
#include <QThread>
#include <QStandardItemModel>
#include <QTabWidget>
#include <QTableView>
#include <QValueAxis>
#include <QVBoxLayout>
#include <algorithm>
#include <memory>
#include <tuple>

#include "PrintPage.h"
#include "app/AppState.h"
#include "app/FleetAllSites.h"
#include "app/FleetServerSync.h"
#include "app/FleetUpdate.h"
#include "fleet/FleetDb.h"
#include "fleet/FleetPush.h"
#include "lang/LangTable.h"
#include "logview/TestResult.h"

namespace {

enum Column { ColStatus, ColSerial, ColSite, ColGas, ColDock, ColLocation, ColBump, ColCal, ColDue, ColAlarms, ColReason, ColCount };
constexpr int kStatusRole = Qt::UserRole + 1;
constexpr int kSortRole = Qt::UserRole + 2;
constexpr int kPathRole = Qt::UserRole + 3;

QColor statusColour(FleetStatus s)
{
    switch (s) {
    case FleetStatus::Failed: return QColor(0xD3, 0x2F, 0x2F);
    case FleetStatus::Overdue: return QColor(0xEF, 0x6C, 0x00);
    case FleetStatus::DueSoon: return QColor(0xF9, 0xA8, 0x25);
    case FleetStatus::Alarm: return QColor(0x8E, 0x24, 0xAA);
    case FleetStatus::Ok: return QColor(0x2E, 0x7D, 0x32);
    case FleetStatus::Unknown: break;
    }
    return QColor(0x75, 0x75, 0x75);
}

QStandardItem* cell(const QString& text, const QVariant& sort = QVariant())
{
    auto* it = new QStandardItem(text);
    it->setEditable(false);
    it->setData(sort.isValid() ? sort : QVariant(text), kSortRole);
    return it;
}

QString day(TDateTime t) { return FleetDayText(t); }
// A due date; none means no passed test on record, so the test is due now.
QString dueText(TDateTime t) { return t > 0 ? FleetDayText(t) : LangText(938); }

} // namespace

// The filters and the search, applied by the proxy so that sorting keeps them.
class TFleetFilter : public QSortFilterProxyModel {
public:
    using QSortFilterProxyModel::QSortFilterProxyModel;
    void set(int status, const QString& gas, const QString& dock, const QString& search)
    {
        m_status = status;
        m_gas = gas;
        m_dock = dock;
        m_search = search;
        invalidateFilter();
    }

protected:
    bool filterAcceptsRow(int row, const QModelIndex& parent) const override
    {
        auto text = [&](int col) { return sourceModel()->index(row, col, parent).data().toString(); };
        return (m_status < 0 || sourceModel()->index(row, ColStatus, parent).data(kStatusRole).toInt() == m_status) &&
               (m_gas.isEmpty() || text(ColGas) == m_gas) && (m_dock.isEmpty() || text(ColDock) == m_dock) &&
               (m_search.isEmpty() || text(ColSerial).contains(m_search, Qt::CaseInsensitive));
    }

private:
    int m_status = -1;
    QString m_gas, m_dock, m_search;
};

QString FleetStatusCaption(FleetStatus s) { return LangText(937 + int(s)); }

QString FleetReasonCaption(const RFleetReason& r)
{
    // The English wording is the program's own record of the rule; the window shows
    // the status caption with the dates that matter.
    const QString d = day(r.mDate);
    switch (r.mKind) {
    case RFleetReason::BumpFailed: return LangText(948) + QStringLiteral(" : ") + LangText(937) + QStringLiteral(" (") + d + QLatin1Char(')');
    case RFleetReason::CalFailed: return LangText(947) + QStringLiteral(" : ") + LangText(937) + QStringLiteral(" (") + d + QLatin1Char(')');
    case RFleetReason::BumpOverdue: return LangText(948) + QStringLiteral(" : ") + LangText(938) + QStringLiteral(" (") + d + QLatin1Char(')');
    case RFleetReason::CalOverdue: return LangText(947) + QStringLiteral(" : ") + LangText(938) + QStringLiteral(" (") + d + QLatin1Char(')');
    case RFleetReason::BumpNever: return LangText(948) + QStringLiteral(" : ") + LangText(942);
    case RFleetReason::CalNever: return LangText(947) + QStringLiteral(" : ") + LangText(942);
    case RFleetReason::CalDueSoon: return LangText(947) + QStringLiteral(" : ") + LangText(939) + QStringLiteral(" (") + d + QLatin1Char(')');
    case RFleetReason::GasAlarms: return LangText(940) + QStringLiteral(" : %1 (%2)").arg(r.mCount).arg(r.mDays);
    case RFleetReason::NeverTested: return LangText(942);
    case RFleetReason::AllDue: return LangText(932) + QStringLiteral(" : ") + d;
    }
    return QString();
}

TFleetPage::TFleetPage(AppState& state, TPrintPage* printPage, QWidget* parent)
    : QWidget(parent), m_state(state), m_printPage(printPage)
{
    setObjectName(QStringLiteral("FleetPage"));
    auto* top = new QVBoxLayout(this);
    m_counts = new QLabel(this);
    m_counts->setObjectName(QStringLiteral("FleetCountsLabel"));
    QFont bold = m_counts->font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.2);
    m_counts->setFont(bold);
    auto* head = new QHBoxLayout;
    head->addWidget(m_counts, 1);
    m_push = new QLabel(this);
    m_push->setObjectName(QStringLiteral("FleetPushLabel"));
    m_push->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_push->hide();
    head->addWidget(m_push);
    top->addLayout(head);

    auto* bar = new QHBoxLayout;
    auto labelled = [&](int text, QWidget* w) {
        auto* l = new QLabel(this);
        m_captions.append({l, text});
        l->setBuddy(w);
        bar->addWidget(l);
        bar->addWidget(w);
    };
    m_source = new QComboBox(this);
    m_source->setObjectName(QStringLiteral("FleetSourceCombo"));
    m_source->addItem(QString(), int(ThisPc));
    m_source->addItem(QString(), int(AllSites));
    bar->addWidget(m_source);
    bar->addSpacing(12);
    m_status = new QComboBox(this);
    m_status->setObjectName(QStringLiteral("FleetStatusCombo"));
    m_status->addItem(QString(), -1);
    for (int i = 0; i < FLEET_STATUS_COUNT; ++i)
        m_status->addItem(QString(), i);
    labelled(925, m_status);
    m_gas = new QComboBox(this);
    m_gas->setObjectName(QStringLiteral("FleetGasCombo"));
    labelled(927, m_gas);
    m_dock = new QComboBox(this);
    m_dock->setObjectName(QStringLiteral("FleetDockCombo"));
    labelled(928, m_dock);
    m_search = new QLineEdit(this);
    m_search->setObjectName(QStringLiteral("FleetSearchEdit"));
    m_search->setClearButtonEnabled(true);
    bar->addWidget(m_search, 1);
    top->addLayout(bar);
    m_message = new QLabel(this);
    m_message->setObjectName(QStringLiteral("FleetMessageLabel"));
    m_message->setWordWrap(true);
    m_message->hide();
    top->addWidget(m_message);

    m_model = new QStandardItemModel(0, ColCount, this);
    m_proxy = new TFleetFilter(this);
    m_proxy->setSourceModel(m_model);
    m_proxy->setSortRole(kSortRole);
    m_table = new QTableView(this);
    m_table->setObjectName(QStringLiteral("FleetTable"));
    m_table->setModel(m_proxy);
    m_table->setSortingEnabled(true);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setAlternatingRowColors(true);
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->sortByColumn(ColStatus, Qt::AscendingOrder);
    m_table->setColumnHidden(ColSite, true);
    top->addWidget(m_table, 1);

    retranslate();
    connect(m_source, &QComboBox::currentIndexChanged, this, [this] { refresh(); });
    connect(m_status, &QComboBox::currentIndexChanged, this, &TFleetPage::applyFilter);
    connect(m_gas, &QComboBox::currentIndexChanged, this, &TFleetPage::applyFilter);
    connect(m_dock, &QComboBox::currentIndexChanged, this, &TFleetPage::applyFilter);
    connect(m_search, &QLineEdit::textChanged, this, &TFleetPage::applyFilter);
    connect(m_table, &QTableView::doubleClicked, this, [this](const QModelIndex& i) {
        // The history is read from this PC's index: another site's instrument has none here.
        if (!showHistory(m_proxy->index(i.row(), ColSerial).data().toString()) && source() == AllSites)
            showMessage(LangText(1156), false);
    });
}

TFleetPage* TFleetPage::AddTo(QTabWidget* tabs, AppState& state, TPrintPage* printPage)
{
    auto* page = new TFleetPage(state, printPage, tabs);
    page->m_tabs = tabs;
    tabs->addTab(page, LangText(924));
    return page;
}

void TFleetPage::retranslate()
{
    for (const auto& [label, text] : m_captions)
        label->setText(LangText(text));
    m_source->setItemText(0, LangText(974));
    m_source->setItemText(1, LangText(975));
    m_status->setItemText(0, LangText(935));
    for (int i = 0; i < FLEET_STATUS_COUNT; ++i)
        m_status->setItemText(i + 1, FleetStatusCaption(FleetStatus(i)));
    for (QComboBox* combo : {m_gas, m_dock})
        if (combo->count() > 0)
            combo->setItemText(0, LangText(935));
    m_search->setPlaceholderText(LangText(936));
    const int heads[ColCount] = {925, 926, 970, 927, 928, 929, 930, 931, 932, 933, 934};
    for (int c = 0; c < ColCount; ++c)
        m_model->setHorizontalHeaderItem(c, new QStandardItem(LangText(heads[c])));
    if (m_tabs && m_tabs->indexOf(this) >= 0)
        m_tabs->setTabText(m_tabs->indexOf(this), LangText(924));
    // Rows already shown carry status words and reasons in the language they were made in.
    if (m_generation >= 0 && source() == ThisPc)
        refresh();
}

void TFleetPage::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    refreshIfChanged();
}

void TFleetPage::refreshIfChanged()
{
    if (m_generation != FleetUpdateGeneration() && (isVisible() || m_generation < 0))
        refresh();
}

void TFleetPage::refresh()
{
    m_generation = FleetUpdateGeneration();
    refreshPushState();
    if (source() == AllSites) {
        readAllSites();
        return;
    }
    ++m_request; // a read of the server still under way is no longer wanted
    showMessage(QString(), false);
    QVector<RFleetSiteStatusRow> rows;
    const QString dest = AppState::AddLastSlash(m_state.FLogDestDir);
    if (!m_state.FLogDestDir.trimmed().isEmpty() && QFileInfo::exists(dest + TFleetDb::FileName())) {
        TFleetDb db(dest);
        if (db.Open())
            for (const RFleetStatusRow& r : FleetStatusRows(db, FleetPolicyOf(m_state.settings), NowDays()))
                rows.append(RFleetSiteStatusRow{r, QString()});
    }
    showRows(rows, false);
}

void TFleetPage::setSource(Source s) { m_source->setCurrentIndex(std::max(0, m_source->findData(int(s)))); }

TFleetPage::Source TFleetPage::source() const
{
    return m_source->currentData().toInt() == int(AllSites) ? AllSites : ThisPc;
}

void TFleetPage::showMessage(const QString& text, bool problem)
{
    m_message->setText(text);
    m_message->setStyleSheet(problem ? QStringLiteral("QLabel { color: #b71c1c; font-weight: bold; }") : QString());
    m_message->setVisible(!text.isEmpty());
}

void TFleetPage::readAllSites()
{
    const int request = ++m_request;
    if (!FleetServerConfigured(m_state)) {
        showRows({}, true);
        showMessage(LangText(976), true);
        return;
    }
    showMessage(LangText(1152), false);
    // A far or silent server takes up to its time-out: the window never waits for it.
    struct Outcome {
        bool ok = false;
        QVector<RFleetSiteStatusRow> rows;
        QString error;
    };
    auto outcome = std::make_shared<Outcome>();
    const RFleetServerSettings settings = FleetServerSettingsOf(m_state);
    const RFleetPolicy policy = FleetPolicyOf(m_state.settings);
    QThread* worker = QThread::create([outcome, settings, policy] {
        outcome->ok = ReadFleetAllSites(settings, policy, NowDays(), &outcome->rows, &outcome->error);
    });
    ++m_reading;
    connect(worker, &QThread::finished, worker, &QObject::deleteLater);
    connect(worker, &QThread::finished, this, [this, outcome, request] {
        --m_reading;
        if (request != m_request || source() != AllSites)
            return;
        if (!outcome->ok) {
            showRows({}, true);
            showMessage(LangText(977).arg(outcome->error), true);
            return;
        }
        showMessage(QString(), false);
        showRows(outcome->rows, true);
    });
    worker->start();
}

void TFleetPage::refreshPushState()
{
    const QString dest = AppState::AddLastSlash(m_state.FLogDestDir);
    if (!FleetServerConfigured(m_state) || m_state.FLogDestDir.trimmed().isEmpty()) {
        m_push->hide();
        return;
    }
    RFleetOutbox o;
    if (QFileInfo::exists(dest + TFleetDb::FileName()))
        o = TFleetPush(dest).Outbox();
    QString text = o.mLastPush > 0 ? LangText(978).arg(FleetDateText(o.mLastPush).left(16)) : LangText(979);
    text += QStringLiteral("  \u00b7  ") + (o.Waiting() > 0 ? LangText(980).arg(o.Waiting()) : LangText(1151));
    const bool failed = !o.mLastError.isEmpty();
    if (failed)
        text += QStringLiteral("  \u00b7  ") + LangText(1153);
    m_push->setText(text);
    m_push->setToolTip(failed ? o.mLastError : o.mServer);
    m_push->setStyleSheet(failed ? QStringLiteral("QLabel { color: #b71c1c; }") : QString());
    m_push->show();
}

void TFleetPage::showRows(const QVector<RFleetSiteStatusRow>& rows, bool withSites)
{
    const QString gas = m_gas->currentData().toString();
    const QString dock = m_dock->currentData().toString();
    m_model->setRowCount(0);
    m_table->setColumnHidden(ColSite, !withSites);
    QStringList gases, docks;
    int n[FLEET_STATUS_COUNT] = {};
    for (const RFleetSiteStatusRow& sr : rows) {
        const RFleetStatusRow& r = sr.mRow;
        const RFleetInstrument& i = r.mInst;
        ++n[int(r.mStatus)];
        QStandardItem* st = cell(FleetStatusCaption(r.mStatus), int(r.mStatus));
        st->setData(int(r.mStatus), kStatusRole);
        st->setBackground(statusColour(r.mStatus));
        st->setForeground(Qt::white);
        QStringList reasons;
        for (const RFleetReason& x : r.mReasons)
            reasons << FleetReasonCaption(x);
        QStandardItem* reason = cell(reasons.join(QStringLiteral("; ")));
        reason->setToolTip(FleetReasonsText(r));
        m_model->appendRow({st, cell(i.mInstrument), cell(sr.mSite), cell(i.mGas), cell(i.mDock), cell(i.mLocation),
                            cell(day(i.mLastBump) + QLatin1Char(' ') + i.mLastBumpResult, i.mLastBump),
                            cell(day(i.mLastCal) + QLatin1Char(' ') + i.mLastCalResult, i.mLastCal),
                            cell(day(r.mNextDue), r.mNextDue > 0 ? r.mNextDue : 1e9),
                            cell(QString::number(r.mAlarms), r.mAlarms), reason});
        if (!i.mGas.isEmpty() && !gases.contains(i.mGas))
            gases << i.mGas;
        if (!i.mDock.isEmpty() && !docks.contains(i.mDock))
            docks << i.mDock;
    }
    gases.sort();
    docks.sort();
    for (auto [combo, items, keep] : {std::tuple{m_gas, gases, gas}, std::tuple{m_dock, docks, dock}}) {
        const QSignalBlocker block(combo);
        combo->clear();
        combo->addItem(LangText(935), QString());
        for (const QString& s : items)
            combo->addItem(s, s);
        combo->setCurrentIndex(std::max(0, combo->findData(keep)));
    }
    QStringList parts;
    for (int s = 0; s < FLEET_STATUS_COUNT; ++s)
        if (n[s] > 0)
            parts << QStringLiteral("%1 %2").arg(n[s]).arg(FleetStatusCaption(FleetStatus(s)));
    m_counts->setText(rows.isEmpty() ? (withSites ? LangText(1154) : LangText(953)) : parts.join(QStringLiteral(", ")));
    m_table->resizeColumnsToContents();
    applyFilter();
}

void TFleetPage::applyFilter()
{
    m_proxy->set(m_status->currentData().toInt(), m_gas->currentData().toString(), m_dock->currentData().toString(),
                 m_search->text().trimmed());
}

int TFleetPage::visibleRows() const { return m_proxy->rowCount(); }

void TFleetPage::openResult(const QString& storePath)
{
    if (!m_printPage)
        return;
    const QString file = AppState::AddLastSlash(m_state.FLogDestDir) + storePath;
    const uint8_t kind = storePath.contains(QStringLiteral("/CAL/")) ? TEST_KIND_CAL : TEST_KIND_BUMP;
    RDockTestInfo info;
    if (GetDockTestInfo(kind, file, info) != DOCKTEST_OK)
        return;
    m_printPage->render(kind, info);
    if (m_tabs) {
        for (int i = 0; i < m_tabs->count(); ++i)
            if (m_tabs->widget(i)->isAncestorOf(m_printPage))
                m_tabs->setCurrentIndex(i);
    }
}

QDialog* TFleetPage::showHistory(const QString& serial)
{
    const QString dest = AppState::AddLastSlash(m_state.FLogDestDir);
    TFleetDb db(dest);
    if (!db.Open())
        return nullptr;
    RFleetStatusRow row;
    if (!FleetStatusRow(db, serial, FleetPolicyOf(m_state.settings), NowDays(), &row))
        return nullptr;
    const QVector<RFleetResult> results = db.Results(serial);
    const QVector<RFleetEvent> events = db.Events(serial);

    auto* dlg = new QDialog(this);
    dlg->setObjectName(QStringLiteral("FleetHistoryDialog"));
    dlg->setAttribute(Qt::WA_DeleteOnClose);
    dlg->setWindowTitle(LangText(943) + QStringLiteral(" : ") + row.mInst.mInstrument);
    auto* lay = new QVBoxLayout(dlg);
    QStringList reasons;
    for (const RFleetReason& x : row.mReasons)
        reasons << FleetReasonCaption(x);
    auto* head = new QLabel(QStringLiteral("<b>%1</b> &nbsp; %2 &nbsp; %3 &nbsp; %4<br><span style='color:%5'><b>%6</b></span>"
                                           " &nbsp; %7<br>%8 %9 &nbsp; %10 %11")
                                .arg(row.mInst.mInstrument.toHtmlEscaped(), row.mInst.mGas.toHtmlEscaped(),
                                     row.mInst.mDock.toHtmlEscaped(), row.mInst.mLocation.toHtmlEscaped(),
                                     statusColour(row.mStatus).name(), FleetStatusCaption(row.mStatus),
                                     reasons.join(QStringLiteral("; ")).toHtmlEscaped(), LangText(948) + ':',
                                     dueText(row.mNextBump), LangText(947) + ':', dueText(row.mNextCal)),
                            dlg);
    lay->addWidget(head);

    auto* split = new QSplitter(Qt::Vertical, dlg);
    auto* list = new QTableView(split);
    list->setObjectName(QStringLiteral("FleetHistoryTable"));
    auto* model = new QStandardItemModel(0, 5, list);
    model->setHorizontalHeaderLabels({LangText(944), LangText(945), LangText(946), LangText(1157), QStringLiteral("SHA-256")});
    struct Line {
        TDateTime when;
        QList<QStandardItem*> items;
    };
    QVector<Line> lines;
    for (const RFleetResult& r : results) {
        QStandardItem* res = cell(r.mOverall);
        res->setForeground(r.mOverall == QLatin1String("PASS") ? statusColour(FleetStatus::Ok) : statusColour(FleetStatus::Failed));
        QStandardItem* first = cell(FleetDateText(r.mDate));
        first->setData(r.mPath, kPathRole);
        lines.append(Line{r.mDate, {first, cell(LangText(r.mKind == 1 ? 947 : 948)), res,
                                cell(QStringLiteral("%1 / %2 %3").arg(r.mSpan.mReading).arg(r.mSpan.mConcentration).arg(r.mUnit)),
                                cell(r.mSha256)}});
    }
    for (const RFleetEvent& e : events) {
        if (!e.mCounted)
            continue;
        QStandardItem* kind = cell(LangText(940));
        kind->setForeground(statusColour(FleetStatus::Alarm));
        lines.append(Line{e.mDate, {cell(FleetDateText(e.mDate)), kind, cell(e.mAlarm),
                                cell(QStringLiteral("%1 s, %2").arg(e.mDuration).arg(e.mReading)), cell(e.mSha256)}});
    }
    std::stable_sort(lines.begin(), lines.end(), [](const Line& a, const Line& b) { return a.when > b.when; });
    for (const Line& l : lines)
        model->appendRow(l.items);
    list->setModel(model);
    list->verticalHeader()->hide();
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->horizontalHeader()->setStretchLastSection(true);
    list->resizeColumnsToContents();
    list->setToolTip(LangText(952));
    connect(list, &QTableView::doubleClicked, dlg, [this, model, dlg](const QModelIndex& i) {
        const QString path = model->item(i.row(), 0)->data(kPathRole).toString();
        if (!path.isEmpty()) {
            openResult(path);
            dlg->close();
        }
    });

    const RFleetWear wear = FleetWear(results, NowDays());
    auto* chart = new QChart;
    chart->setTitle(LangText(949) + (FleetWearText(wear).isEmpty() ? QString() : QStringLiteral(" : ") + FleetWearText(wear)));
    auto* points = new QScatterSeries;
    points->setName(LangText(949));
    points->setMarkerSize(9);
    for (const RFleetWearPoint& p : wear.mPoints)
        points->append(DaysToDateTime(p.mDate).toMSecsSinceEpoch(), p.mSensitivity);
    chart->addSeries(points);
    auto* axisX = new QDateTimeAxis;
    axisX->setFormat(QStringLiteral("yyyy-MM"));
    auto* axisY = new QValueAxis;
    chart->addAxis(axisX, Qt::AlignBottom);
    chart->addAxis(axisY, Qt::AlignLeft);
    points->attachAxis(axisX);
    points->attachAxis(axisY);
    double lo = 1e9, hi = -1e9;
    for (const RFleetWearPoint& p : wear.mPoints) {
        lo = std::min(lo, p.mSensitivity);
        hi = std::max(hi, p.mSensitivity);
    }
    if (!wear.mPoints.isEmpty()) {
        const TDateTime from = wear.mPoints.first().mDate;
        const TDateTime to = std::max(wear.mPoints.last().mDate, wear.mPredicted) + 15;
        if (wear.mHasLine) {
            auto* line = new QLineSeries;
            line->setName(LangText(950));
            line->append(DaysToDateTime(from).toMSecsSinceEpoch(), wear.lineAt(from));
            line->append(DaysToDateTime(to).toMSecsSinceEpoch(), wear.lineAt(to));
            chart->addSeries(line);
            line->attachAxis(axisX);
            line->attachAxis(axisY);
            lo = std::min(lo, wear.lineAt(to));
        }
        if (wear.mHasLimit) {
            auto* limit = new QLineSeries;
            limit->setName(LangText(951));
            limit->setPen(QPen(statusColour(FleetStatus::Failed), 2, Qt::DashLine));
            limit->append(DaysToDateTime(from).toMSecsSinceEpoch(), wear.mLimit);
            limit->append(DaysToDateTime(to).toMSecsSinceEpoch(), wear.mLimit);
            chart->addSeries(limit);
            limit->attachAxis(axisX);
            limit->attachAxis(axisY);
            lo = std::min(lo, wear.mLimit);
            hi = std::max(hi, wear.mLimit);
        }
        axisX->setRange(DaysToDateTime(from - 15), DaysToDateTime(to));
        axisY->setRange(std::max(0.0, lo - 0.05), hi + 0.05);
    }
    auto* view = new QChartView(chart, split);
    view->setObjectName(QStringLiteral("FleetWearChart"));
    view->setRenderHint(QPainter::Antialiasing);
    view->setMinimumHeight(220);
    lay->addWidget(split, 1);
    auto* buttons = new QDialogButtonBox(dlg);
    buttons->addButton(LangText(954), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::rejected, dlg, &QDialog::close);
    lay->addWidget(buttons);
    dlg->resize(900, 640);
    dlg->show();
    return dlg;
}
