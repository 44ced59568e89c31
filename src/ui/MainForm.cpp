#include "MainForm.h"

#include <QAbstractItemDelegate>
#include <QApplication>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QFontDatabase>
#include <QHeaderView>
#include <QLibraryInfo>
#include <QLinearGradient>
#include <QCheckBox>
#include <QComboBox>
#include <QBoxLayout>
#include <QGridLayout>
#include <QKeySequence>
#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QSpinBox>
#include <QMenu>
#include <QPushButton>
#include <QLabel>
#include <QRadioButton>
#include <QMouseEvent>
#include <QKeyEvent>
#include <QPainter>
#include <QSignalBlocker>
#include <QStackedWidget>
#include <QStyle>
#include <QTimeEdit>
#include <QTimer>
#include <QTranslator>
#include <cmath>

#include "AutoModeView.h"
#include "DockPage.h"
#include "WindowLayout.h"
#include "WheelGuard.h"
#include "ReadOriginView.h"
#include "GDPage.h"
#include "LogPage.h"
#include "PrintPage.h"
#include "FleetPage.h"
#include "FleetServerBox.h"
#include "ReportPage.h"
#include "app/Downloads.h"
#include "app/Reporting.h"
#include "QtOperatorPort.h"
#include "app/MainCore.h"
#include "lang/CaptionTable.h"
#include "lang/LangTable.h"
#include "PCTestDlg.h"
#include "service/ServiceCommands.h"
#include "ui_MainForm.h"
#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QRegularExpressionValidator>

namespace {

// Qt's own dialogs (message-box buttons, file, folder and print dialogs) speak the
// chosen language; English needs no translator.
void InstallQtTranslations(const RLangList& lang)
{
    static QTranslator* installed = nullptr;
    if (installed) {
        QCoreApplication::removeTranslator(installed);
        delete installed;
        installed = nullptr;
    }
    const QString code = LangTable::qtLanguageCode(lang);
    if (code.isEmpty())
        return;
    auto* t = new QTranslator(QCoreApplication::instance());
    if (t->load(QStringLiteral("qtbase_") + code, QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QCoreApplication::installTranslator(t);
        installed = t;
    } else {
        delete t;
    }
}

constexpr int kUserColWidth = 160;
constexpr int kSchFirstColWidth = 80;
constexpr int kSchDayColWidth = 30;

QTime daysToTime(TDateTime d)
{
    const double frac = d - std::floor(d);
    return QTime::fromMSecsSinceStartOfDay(int(std::llround(frac * 86400000.0) % 86400000));
}

TDateTime timeToDays(const QTime& t) { return t.msecsSinceStartOfDay() / 86400000.0; }

QTableWidgetItem* makeCell(const QString& text, bool editable, bool bold = false)
{
    auto* item = new QTableWidgetItem(text);
    item->setTextAlignment(Qt::AlignCenter);
    item->setBackground(Qt::white);
    item->setForeground(Qt::black);
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (editable)
        flags |= Qt::ItemIsEditable;
    item->setFlags(flags);
    if (bold) {
        QFont f = item->font();
        f.setBold(true);
        item->setFont(f);
    }
    return item;
}

QString headerStyle(int padding)
{
    return QStringLiteral("QHeaderView::section { background-color: rgb(238,238,247); color: black;"
                          " font-weight: bold; border: none; border-right: 1px solid #b4b4c4;"
                          " border-bottom: 1px solid #b4b4c4; padding: %1px; }")
        .arg(padding);
}

void hideWidget(QWidget* w, bool hidden)
{
    if (w)
        w->setHidden(hidden);
}

// Restores the cursor however the guarded code is left.
struct BusyCursor {
    BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyCursor() { QApplication::restoreOverrideCursor(); }
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;
};

// Sets a flag for the lifetime of the guard, restoring the previous value.
struct FlagGuard {
    explicit FlagGuard(bool& f) : flag(f), old(f) { flag = true; }
    ~FlagGuard() { flag = old; }
    bool& flag;
    bool old;
};

} // namespace

TMainForm::TMainForm(AppState* state, QWidget* parent)
    : QMainWindow(parent), ui(std::make_unique<Ui::TMainForm>())
{
    ui->setupUi(this);
    m_port = std::make_unique<QtOperatorPort>(this);
    if (!state) {
        m_ownState = std::make_unique<AppState>(m_port.get());
        state = m_ownState.get();
    } else if (!state->port()) {
        state->setPort(m_port.get());
    }
    m_state = state;
    setupWidgets();
    connectSignals();
    setupOperations();
    windowlayout::Apply(this);
    TWheelGuard::install();
    m_readOrigin = new TReadOriginView(this, *m_core);
    m_readOrigin->refresh();
    setupTesterButtons();
    m_core->FConfirmWrite = true;
}

TMainForm::~TMainForm()
{
    m_core.reset();
    // A state that outlives the window must not keep a pointer to its port.
    if (m_state && m_state->port() == m_port.get())
        m_state->setPort(nullptr);
}

QWidget* TMainForm::named(const char* name) const
{
    return findChild<QWidget*>(QLatin1String(name));
}

OperatorPort& TMainForm::messages()
{
    return m_state->port() ? *m_state->port() : *m_port;
}

void TMainForm::setupWidgets()
{
    // Pages as the window is created: service page and the off-screen page without tabs.
    ui->CfgPage->setTabVisible(ui->CfgPage->indexOf(ui->PCTS), false);
    ui->CfgPage->setTabVisible(ui->CfgPage->indexOf(ui->HideTS), false);
    ui->CfgPage->setCurrentIndex(0);
    m_cfgPagePrev = ui->CfgPage->currentWidget();
    m_configPagePrev = ui->ConfigPage->currentWidget();

    // The central fleet database, under the network settings.
    m_fleetBox = new TFleetServerBox(ui->ConfigPrNRightBox);
    if (auto* right = qobject_cast<QBoxLayout*>(ui->ConfigPrNRightBox->layout()))
        right->insertWidget(1, m_fleetBox);

    m_dateGroup = new QButtonGroup(this);
    m_dateGroup->addButton(ui->ConfigSetDateRadio0, CFG_DATE_YYYYMMDD);
    m_dateGroup->addButton(ui->ConfigSetDateRadio1, CFG_DATE_MMDDYYYY);
    m_dateGroup->addButton(ui->ConfigSetDateRadio2, CFG_DATE_DDMMYYYY);

    const QStringList families = QFontDatabase::families();
    ui->ConfigSetEtcLangFontCombo->addItems(families);
    ui->ConfigPrNPrintFontCombo->addItems(families);
    ui->ConfigSetEtcLangFontCombo->setCurrentIndex(-1);
    ui->ConfigPrNPrintFontCombo->setCurrentIndex(-1);

    // Tester grid: three fixed columns under a lavender header.
    QTableWidget* user = ui->ConfigSetUserGrid;
    user->horizontalHeader()->setStyleSheet(headerStyle(2));
    user->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    for (int c = 0; c < 3; ++c)
        user->setColumnWidth(c, kUserColWidth);
    user->setStyleSheet(QStringLiteral("QTableWidget { background-color: white; color: black; }"));
    user->setMinimumWidth(3 * kUserColWidth + 2 * user->frameWidth() +
                          user->style()->pixelMetric(QStyle::PM_ScrollBarExtent) + 2);
    for (int r = 0; r < user->rowCount(); ++r)
        for (int c = 0; c < 3; ++c)
            user->setItem(r, c, makeCell(QString(), true));

    m_popupConfigSet = new QMenu(this);
    m_popupConfigSet->setObjectName(QStringLiteral("PopupConfigSet"));
    m_popupConfigSet->addAction(ui->PopupConfigSetAddBtn);
    m_popupConfigSet->addAction(ui->PopupConfigSetDelBtn);

    // Schedule grid: the header row and the time column stay put; day cells hold "Y".
    QTableWidget* sch = ui->ConfigSetSchGrid;
    sch->horizontalHeader()->setStyleSheet(headerStyle(0)); // day columns are narrow
    sch->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    sch->setStyleSheet(QStringLiteral("QTableWidget { background-color: white; color: black;"
                                      " gridline-color: black; }"));
    sch->setColumnWidth(0, kSchFirstColWidth);
    // Only a set time looks set: no selection colour over the cells.
    sch->setSelectionMode(QAbstractItemView::NoSelection);
    for (int c = 1; c < 8; ++c)
        sch->setColumnWidth(c, kSchDayColWidth);
    QTimeEdit* pickers[] = {ui->ConfigSetSchTimePicker1, ui->ConfigSetSchTimePicker2,
                            ui->ConfigSetSchTimePicker3, ui->ConfigSetSchTimePicker4};
    for (int r = 0; r < 4; ++r) {
        sch->setItem(r, 0, makeCell(QString(), false, true));
        for (int c = 1; c < 8; ++c)
            sch->setItem(r, c, makeCell(QString(), false));
        pickers[r]->setFrame(false);
        pickers[r]->setAlignment(Qt::AlignCenter);
        sch->setCellWidget(r, 0, pickers[r]); // the picker stands in the row's time cell
    }
    ui->ConfigSetSchPickerBox->hide();

    // Service-level gesture.
    ui->OpDeviceOpLabel1->installEventFilter(this);
    ui->CustomerLabel->installEventFilter(this);
    ui->LogListBtnMake->hide();

    ui->DebugLogMemo->setReadOnly(true);
    ui->DebugCommMemo->setReadOnly(true);
    ui->OpProgressBar->hide();
    ui->OpAllProgressbar->hide();
    fitScheduleGrid();
}

void TMainForm::fitScheduleGrid()
{
    QTableWidget* sch = ui->ConfigSetSchGrid;
    int w = 2 * sch->frameWidth();
    for (int c = 0; c < sch->columnCount(); ++c)
        w += sch->columnWidth(c);
    int h = 2 * sch->frameWidth() + sch->horizontalHeader()->sizeHint().height();
    for (int r = 0; r < sch->rowCount(); ++r)
        h += sch->rowHeight(r);
    sch->setFixedSize(w, h);
}

void TMainForm::connectSignals()
{
    connect(ui->CfgPage, &QTabWidget::currentChanged, this, &TMainForm::onCfgPageChanged);
    connect(ui->ConfigPage, &QTabWidget::currentChanged, this, &TMainForm::onConfigPageChanged);

    QTableWidget* user = ui->ConfigSetUserGrid;
    connect(user, &QTableWidget::cellChanged, this, &TMainForm::onTesterCellChanged);
    connect(user, &QTableWidget::currentCellChanged, this,
            [this](int row, int, int, int) { onTesterCurrentCellChanged(row); });
    connect(user, &QWidget::customContextMenuRequested, this, [this, user](const QPoint& pos) {
        m_popupConfigSet->popup(user->viewport()->mapToGlobal(pos));
    });
    connect(ui->PopupConfigSetAddBtn, &QAction::triggered, this, &TMainForm::onTesterInsert);
    connect(ui->PopupConfigSetDelBtn, &QAction::triggered, this, &TMainForm::onTesterDelete);

    // One click or the space bar sets or clears a report time (a double-click is one click).
    connect(ui->ConfigSetSchGrid, &QTableWidget::cellClicked, this, &TMainForm::onScheduleDoubleClick);
    ui->ConfigSetSchGrid->installEventFilter(this);
    QTimeEdit* pickers[] = {ui->ConfigSetSchTimePicker1, ui->ConfigSetSchTimePicker2,
                            ui->ConfigSetSchTimePicker3, ui->ConfigSetSchTimePicker4};
    for (int n = 1; n <= 4; ++n)
        connect(pickers[n - 1], &QTimeEdit::timeChanged, this,
                [this, n](const QTime&) { onSchedulePickerChanged(n); });

    connect(ui->PrintResUserCombo, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (!m_pushing)
            m_state->SelectTester(index >= 0 ? ui->PrintResUserCombo->itemText(index) : QString());
    });

    // Every settings control reaches the application state as it is edited, so an
    // operation started next uses what the page shows.
    const QStringList ownHandlers = {"ConfigSetUserGrid", "ConfigSetSchGrid",
                                     "ConfigSetEtcLangLangCombo", "ConfigSetEtcLangFontCombo"};
    for (QWidget* w : ui->ConfigPage->findChildren<QWidget*>()) {
        if (ownHandlers.contains(w->objectName()))
            continue;
        auto edited = [this] { onSettingEdited(); };
        if (auto* x = qobject_cast<QSpinBox*>(w))
            connect(x, &QSpinBox::valueChanged, this, edited);
        else if (auto* x = qobject_cast<QDoubleSpinBox*>(w))
            connect(x, &QDoubleSpinBox::valueChanged, this, edited);
        else if (auto* x = qobject_cast<QDateTimeEdit*>(w))
            connect(x, &QDateTimeEdit::dateTimeChanged, this, edited);
        else if (auto* x = qobject_cast<QAbstractButton*>(w); x && x->isCheckable())
            connect(x, &QAbstractButton::toggled, this, edited);
        else if (auto* x = qobject_cast<QLineEdit*>(w); x && !qobject_cast<QAbstractSpinBox*>(w->parent()))
            connect(x, &QLineEdit::textChanged, this, edited);
        else if (auto* x = qobject_cast<QComboBox*>(w))
            connect(x, &QComboBox::currentIndexChanged, this, edited);
    }

    connect(ui->ConfigSetEtcLangLangChangeBtn, &QPushButton::clicked, this,
            &TMainForm::onLanguageChange);
    connect(ui->ConfigSetEtcLangFontChangeBtn, &QPushButton::clicked, this, &TMainForm::onFontChange);
    connect(ui->PCLangBtn, &QPushButton::clicked, this, &TMainForm::onMakeLanguageFile);

    connect(ui->DebugLogClearBtn, &QPushButton::clicked, ui->DebugLogMemo, &QPlainTextEdit::clear);
    connect(ui->DebugCommClearBtn, &QPushButton::clicked, ui->DebugCommMemo, &QPlainTextEdit::clear);
}

// ---------------------------------------------------------------------------
// Start-up

void TMainForm::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (!m_started)
        StartUp();
}

void TMainForm::StartUp()
{
    if (m_started)
        return;
    m_started = true;
    if (!m_state->StartUp(false)) { // InitLang reads the language file
        // Without its own transfer folder the program would leave settings and
        // results where others can read or replace them; the message said why.
        m_refused = true;
        QTimer::singleShot(0, this, &QWidget::close);
    }
    windowlayout::PlaceWindow(this, m_state->FWindowGeometry);
    setWindowTitle(ProgramCaption());
    InitLang();
    InitComponent();
    applyServiceLevel(0);
    m_reportPage->showLastReport(*m_state);
    // The staged logs of a Read that were not saved before the window closed.
    restoreWindowChoices();
    m_core->RestoreUnsavedLogs();
    // The values of the last Read stand again, named as such; without them Write stays off.
    if (!m_refused)
        m_core->RestoreLastReadValues();
    refreshConnection();
    m_autoView->AutoStartIfSet();
}

void TMainForm::InitLang()
{
    FlagGuard pushing(m_pushing);
    LangTable& lang = GVLang();
    const bool loaded = lang.loadSelected(m_state->GVPath);
    const RLangList sel = lang.selected();

    QComboBox* langCombo = ui->ConfigSetEtcLangLangCombo;
    langCombo->clear();
    if (loaded)
        for (int n = 1; n <= LANG_MAX; ++n)
            langCombo->addItem(lang.ownLanguageName(n));

    if (!sel.mFont.isEmpty()) {
        QFont f = font();
        f.setFamily(sel.mFont);
        setFont(f);
        for (QWidget* w : {static_cast<QWidget*>(ui->OpProgressLabel),
                           static_cast<QWidget*>(ui->OpStatusPanel)}) {
            QFont wf = w->font();
            wf.setFamily(sel.mFont);
            w->setFont(wf);
        }
    }

    // The combo names the six language keys in order; the list holds only installed ones.
    if (sel.mIndex >= 1 && sel.mIndex <= langCombo->count())
        langCombo->setCurrentIndex(sel.mIndex - 1);
    ui->ConfigSetEtcLangFontCombo->setCurrentIndex(
        ui->ConfigSetEtcLangFontCombo->findText(sel.mFont, Qt::MatchFixedString));

    InstallQtTranslations(sel);
    applyCaptions();
    windowlayout::ApplyTexts(this);
    // Captions the table of InitLang does not name, in the same language.
    ui->CfgPage->setTabText(ui->CfgPage->indexOf(ui->DockTS), LangText(981, "Docking Station"));
    ui->PrintResUserLabel->setText(LangText(304, "Tester"));
    if (auto* g = findChild<QGroupBox*>(QStringLiteral("GDUpgradeGB")))
        g->setTitle(LangText(28, "Upgrade File"));
    ui->PCSimEventTypeRadio0->setText(LangText(986, "LOW"));
    ui->PCSimEventTypeRadio1->setText(LangText(987, "HIGH"));
    makeBanner();
    if (m_testerInsertBtn) {
        m_testerInsertBtn->setText(LangText(538));
        m_testerDeleteBtn->setText(LangText(539));
    }
    ui->PCProdReadLabel->setText(m_service ? m_service->PCProdReadLabel : QStringLiteral("---"));
    fitScheduleGrid();
    if (m_core)
        m_core->editors.gd.RefreshTexts();
    // Without a usable language file the built-in English texts are shown: said once,
    // without a dialog that would stand in front of the window at every start.
    static bool toldBuiltIn = false;
    if (lang.usingBuiltIn() && !toldBuiltIn && m_core) {
        toldBuiltIn = true;
        m_core->SetStatus(LangText(825), OperatorPort::StatusLook::Neutral);
        m_core->AddLog(LOGTYPE_PROGRESS, LangText(825));
    }
    if (m_readOrigin)
        m_readOrigin->refresh();
}

void TMainForm::applyCaptions()
{
    for (const CaptionEntry& e : InitLangCaptions()) {
        QObject* obj = findChild<QObject*>(QLatin1String(e.component));
        if (!obj || e.texts.isEmpty())
            continue;
        switch (e.kind) {
        case CaptionEntry::Text:
            setObjectCaption(obj, LangText(e.texts.first()));
            break;
        case CaptionEntry::GridCell:
            if (auto* grid = qobject_cast<QTableWidget*>(obj))
                setGridCaption(grid, e.col, e.row, LangText(e.texts.first()));
            break;
        case CaptionEntry::ComboItems:
            setComboCaptions(obj, e.texts);
            break;
        }
    }
    // Print types the caption table leaves (past "Manufaturer") take their layout's caption.
    for (const RCertLayout& l : CertLayouts())
        if (l.mCaptionText && l.mId > CERT_LAYOUT_MANUFACTURER && l.mId < ui->ConfigPrNPrintTypeCombo->count())
            ui->ConfigPrNPrintTypeCombo->setItemText(l.mId, LangText(l.mCaptionText));
    if (m_fleetBox)
        m_fleetBox->retranslate();
    if (m_fleetPage)
        m_fleetPage->retranslate();
    if (m_logPage)
        m_logPage->retranslate();
    if (m_printPage)
        m_printPage->retranslate();
}

void TMainForm::setObjectCaption(QObject* obj, const QString& text)
{
    if (auto* action = qobject_cast<QAction*>(obj)) {
        action->setText(text);
        return;
    }
    auto* w = qobject_cast<QWidget*>(obj);
    if (!w)
        return;
    // A tab page takes the text as its tab caption.
    if (auto* stack = qobject_cast<QStackedWidget*>(w->parentWidget())) {
        if (auto* tabs = qobject_cast<QTabWidget*>(stack->parentWidget())) {
            const int i = tabs->indexOf(w);
            if (i >= 0) {
                tabs->setTabText(i, text);
                return;
            }
        }
    }
    if (auto* b = qobject_cast<QAbstractButton*>(w))
        b->setText(text);
    else if (auto* l = qobject_cast<QLabel*>(w))
        l->setText(text);
    else if (auto* g = qobject_cast<QGroupBox*>(w))
        g->setTitle(text);
    else if (auto* m = qobject_cast<QMenu*>(w))
        m->setTitle(text);
}

void TMainForm::setGridCaption(QTableWidget* grid, int col, int row, const QString& text)
{
    // Grids with a visible header show their row 0 in it.
    const bool header = !grid->horizontalHeader()->isHidden();
    if (col < 0 || col >= grid->columnCount())
        return;
    if (header && row == 0) {
        QTableWidgetItem* item = grid->horizontalHeaderItem(col);
        if (!item) {
            item = new QTableWidgetItem;
            grid->setHorizontalHeaderItem(col, item);
        }
        item->setText(text);
        return;
    }
    const int r = header ? row - 1 : row;
    if (r < 0 || r >= grid->rowCount())
        return;
    QTableWidgetItem* item = grid->item(r, col);
    if (!item) {
        item = makeCell(QString(), false, true);
        grid->setItem(r, col, item);
    }
    item->setText(text);
}

void TMainForm::setComboCaptions(QObject* obj, const QVector<int>& texts)
{
    auto* combo = qobject_cast<QComboBox*>(obj);
    if (!combo)
        return;
    // Items past the translated ones (the print type "HTML") keep their design text,
    // so a stored index that points at them stays selectable.
    QStringList items;
    for (int n : texts)
        items << LangText(n);
    for (int i = int(texts.size()); i < combo->count(); ++i)
        items << combo->itemText(i);
    const int index = combo->currentIndex();
    const QSignalBlocker block(combo);
    combo->clear();
    combo->addItems(items);
    combo->setCurrentIndex(index < combo->count() ? index : -1);
}

void TMainForm::makeBanner()
{
    QPixmap pm(480, 150);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(0, 0, pm.width(), pm.height());
    g.setColorAt(0, QColor(16, 52, 96));
    g.setColorAt(1, QColor(24, 128, 140));
    p.fillRect(pm.rect(), g);
    p.setPen(QPen(QColor(255, 255, 255, 60), 10));
    p.drawEllipse(QPoint(pm.width() - 70, pm.height() / 2), 44, 44);
    p.setPen(Qt::white);
    QFont f = font();
    f.setBold(true);
    f.setPixelSize(52);
    p.setFont(f);
    p.drawText(QRect(24, 10, pm.width() - 48, 90), Qt::AlignLeft | Qt::AlignVCenter, PROG_TITLE);
    f.setBold(false);
    f.setPixelSize(22);
    p.setFont(f);
    p.drawText(QRect(26, 92, pm.width() - 48, 40), Qt::AlignLeft | Qt::AlignVCenter,
               LangText(988, "Docking station manager"));
    p.end();
    ui->CustomerKM1Image->setPixmap(pm);
}

void TMainForm::InitComponent()
{
    FlagGuard pushing(m_pushing);
    // Edition layout.
    ui->CfgPage->setTabText(ui->CfgPage->indexOf(ui->GDTS), QStringLiteral("Gaviro SG"));
    makeBanner();
    ui->CustomerKM1Image->show();
    ui->CustomerTKImage->hide();
    ui->CustomerOLAImage->hide();
    ui->CustomerRUVImage->hide();
    ui->CustomerLabel->hide();
    ui->CustomerUrlLabel->hide();
    ui->CustomerTextBox->hide();

    // Tester list, Print page tester, schedule and the settings controls.
    m_state->testerGrid.FUserSel = -1;
    m_state->UserDataLoad();
    refreshTesterGrid();
    m_state->PrintResUserComboItems = m_state->FUserNameList;
    m_state->PrintResUserComboIndex = int(m_state->FUserNameList.indexOf(m_state->FUserTester));
    refreshPrintUserCombo();
    pushSettings();

    ui->CfgPage->setTabVisible(ui->CfgPage->indexOf(ui->HideTS), false);
    ui->CfgPage->setCurrentWidget(ui->DockTS);
    ui->ConfigPage->setCurrentWidget(ui->ConfigSetTS);
    ui->OpDevicePage->setCurrentWidget(ui->OpDeviceConnectTS);
    m_cfgPagePrev = ui->DockTS;
    m_configPagePrev = ui->ConfigSetTS;
    SetStatus(QString(), OperatorPort::StatusLook::Neutral);
    // The History page is not empty on first use.
    ui->DebugLogUnitCheck->setChecked(true);
    ui->DebugLogProgressCheck->setChecked(true);
}

// ---------------------------------------------------------------------------
// Settings binding

void TMainForm::pushSettings()
{
    FlagGuard pushing(m_pushing);
    const AppSettings& s = m_state->settings;
    if (QAbstractButton* b = m_dateGroup->button(std::clamp(s.ConfigSetDateRadio, 0, 2)))
        b->setChecked(true);

    ui->ConfigSetAlertBumpEdit->setValue(s.ConfigSetAlertBumpEdit);
    ui->ConfigSetAlertBumpFailCheck->setChecked(s.ConfigSetAlertBumpFailCheck);
    ui->ConfigSetAlertCalEdit->setValue(s.ConfigSetAlertCalEdit);
    ui->ConfigSetAlertCalFailCheck->setChecked(s.ConfigSetAlertCalFailCheck);
    ui->ConfigSetAlertEventEdit->setValue(s.ConfigSetAlertEventEdit);
    ui->ConfigSetAlertEventCombo->setCurrentIndex(s.ConfigSetAlertEventCombo == 0 ? 0 : 1);
    ui->ConfigSetAlertEventAfterCheck->setChecked(s.ConfigSetAlertEventAfterCheck);
    ui->ConfigSetAlertRefTimePicker->setTime(daysToTime(s.ConfigSetAlertRefTimePicker));

    ui->ConfigSetEtcUploadImageCheck->setChecked(s.ConfigSetEtcUploadImageCheck);
    ui->ConfigSetEtcAutoStartCheck->setChecked(s.ConfigSetEtcAutoStartCheck);
    ui->ConfigSetEtcPurgeDayEdit->setValue(s.ConfigSetEtcPurgeDayEdit);
    ui->ConfigSetEtcAutoPurgeCheck->setChecked(s.ConfigSetEtcAutoPurgeCheck);
    ui->ConfigSetEtcRetainLogCheck->setChecked(s.ConfigSetEtcRetainLogCheck);

    ui->ConfigSendEmailToEdit->setText(s.ConfigSendEmailToEdit);
    ui->ConfigSendEmailSvrFromEdit->setText(s.ConfigSendEmailSvrFromEdit);
    ui->ConfigSendEmailSvrUserNameEdit->setText(s.ConfigSendEmailSvrUserNameEdit);
    ui->ConfigSendEmailSvrPwEdit->setText(s.ConfigSendEmailSvrPwEdit);
    ui->ConfigSendEmailSvrEdit->setText(s.ConfigSendEmailSvrEdit);
    ui->ConfigSendEmailSvrPortEdit->setValue(s.ConfigSendEmailSvrPortEdit);
    ui->ConfigSendEmailSvrSSLCheck->setChecked(s.ConfigSendEmailSvrSSLCheck);
    ui->ConfigSendOptDirEdit->setText(s.ConfigSendOptDirEdit);

    ui->ConfigPrNPrintBottomLeftEdit->setText(s.ConfigPrNPrintBottomLeftEdit);
    ui->ConfigPrNPrintBottomRightEdit->setText(s.ConfigPrNPrintBottomRightEdit);
    QComboBox* type = ui->ConfigPrNPrintTypeCombo;
    type->setCurrentIndex(s.ConfigPrNPrintTypeCombo >= 0 && s.ConfigPrNPrintTypeCombo < type->count()
                              ? s.ConfigPrNPrintTypeCombo
                              : 0);
    ui->ConfigPrNPrintFontCombo->setCurrentIndex(
        ui->ConfigPrNPrintFontCombo->findText(s.ConfigPrNPrintFontCombo, Qt::MatchFixedString));
    ui->ConfigPrnMarginTopEdit->setValue(s.ConfigPrnMarginTopEdit);
    ui->ConfigPrnMarginLeftEdit->setValue(s.ConfigPrnMarginLeftEdit);
    ui->ConfigPrnMarginBottomEdit->setValue(s.ConfigPrnMarginBottomEdit);
    ui->ConfigPrnMarginRightEdit->setValue(s.ConfigPrnMarginRightEdit);
    ui->ConfigPrNMarginHalfSizeCheck->setChecked(s.ConfigPrNMarginHalfSizeCheck);
    ui->ConfigPrNNetworkSubnetEdit->setText(s.ConfigPrNNetworkSubnetEdit);
    ui->ConfigPrNNetworkPortEdit->setValue(s.ConfigPrNNetworkPortEdit);
    if (m_fleetBox)
        m_fleetBox->push(s);

    QTimeEdit* pickers[] = {ui->ConfigSetSchTimePicker1, ui->ConfigSetSchTimePicker2,
                            ui->ConfigSetSchTimePicker3, ui->ConfigSetSchTimePicker4};
    for (int n = 1; n <= 4; ++n)
        pickers[n - 1]->setTime(daysToTime(m_state->FTimeSch[n].mTime));
    refreshScheduleGrid();
}

void TMainForm::onSettingEdited()
{
    if (m_pushing || !m_started)
        return;
    pullSettingValues();
    m_state->NormaliseSettings();
    if (m_autoView)
        m_autoView->SettingsEdited();
}

void TMainForm::pullSettings()
{
    pullSettingValues();
    m_state->NormaliseSettings();
    takeOverTesterGrid();
}

void TMainForm::pullSettingValues()
{
    AppSettings& s = m_state->settings;
    if (m_dateGroup->checkedId() >= 0)
        s.ConfigSetDateRadio = m_dateGroup->checkedId();

    s.ConfigSetAlertBumpEdit = ui->ConfigSetAlertBumpEdit->value();
    s.ConfigSetAlertBumpFailCheck = ui->ConfigSetAlertBumpFailCheck->isChecked();
    s.ConfigSetAlertCalEdit = ui->ConfigSetAlertCalEdit->value();
    s.ConfigSetAlertCalFailCheck = ui->ConfigSetAlertCalFailCheck->isChecked();
    s.ConfigSetAlertEventEdit = ui->ConfigSetAlertEventEdit->value();
    if (ui->ConfigSetAlertEventCombo->currentIndex() >= 0)
        s.ConfigSetAlertEventCombo = ui->ConfigSetAlertEventCombo->currentIndex();
    s.ConfigSetAlertEventAfterCheck = ui->ConfigSetAlertEventAfterCheck->isChecked();
    s.ConfigSetAlertRefTimePicker = timeToDays(ui->ConfigSetAlertRefTimePicker->time());

    s.ConfigSetEtcUploadImageCheck = ui->ConfigSetEtcUploadImageCheck->isChecked();
    s.ConfigSetEtcAutoStartCheck = ui->ConfigSetEtcAutoStartCheck->isChecked();
    s.ConfigSetEtcPurgeDayEdit = ui->ConfigSetEtcPurgeDayEdit->value();
    s.ConfigSetEtcAutoPurgeCheck = ui->ConfigSetEtcAutoPurgeCheck->isChecked();
    s.ConfigSetEtcRetainLogCheck = ui->ConfigSetEtcRetainLogCheck->isChecked();

    s.ConfigSendEmailToEdit = ui->ConfigSendEmailToEdit->text();
    s.ConfigSendEmailSvrFromEdit = ui->ConfigSendEmailSvrFromEdit->text();
    s.ConfigSendEmailSvrUserNameEdit = ui->ConfigSendEmailSvrUserNameEdit->text();
    s.ConfigSendEmailSvrPwEdit = ui->ConfigSendEmailSvrPwEdit->text();
    s.ConfigSendEmailSvrEdit = ui->ConfigSendEmailSvrEdit->text();
    s.ConfigSendEmailSvrPortEdit = ui->ConfigSendEmailSvrPortEdit->value();
    s.ConfigSendEmailSvrSSLCheck = ui->ConfigSendEmailSvrSSLCheck->isChecked();
    s.ConfigSendOptDirEdit = ui->ConfigSendOptDirEdit->text();

    s.ConfigPrNPrintBottomLeftEdit = ui->ConfigPrNPrintBottomLeftEdit->text();
    s.ConfigPrNPrintBottomRightEdit = ui->ConfigPrNPrintBottomRightEdit->text();
    if (ui->ConfigPrNPrintTypeCombo->currentIndex() >= 0)
        s.ConfigPrNPrintTypeCombo = ui->ConfigPrNPrintTypeCombo->currentIndex();
    // A font that is not installed here selects nothing; keep the stored name then.
    if (ui->ConfigPrNPrintFontCombo->currentIndex() >= 0)
        s.ConfigPrNPrintFontCombo = ui->ConfigPrNPrintFontCombo->currentText();
    s.ConfigPrnMarginTopEdit = ui->ConfigPrnMarginTopEdit->value();
    s.ConfigPrnMarginLeftEdit = ui->ConfigPrnMarginLeftEdit->value();
    s.ConfigPrnMarginBottomEdit = ui->ConfigPrnMarginBottomEdit->value();
    s.ConfigPrnMarginRightEdit = ui->ConfigPrnMarginRightEdit->value();
    s.ConfigPrNMarginHalfSizeCheck = ui->ConfigPrNMarginHalfSizeCheck->isChecked();
    s.ConfigPrNNetworkSubnetEdit = ui->ConfigPrNNetworkSubnetEdit->text();
    s.ConfigPrNNetworkPortEdit = ui->ConfigPrNNetworkPortEdit->value();
    if (m_fleetBox)
        m_fleetBox->pull(s);

    QTimeEdit* pickers[] = {ui->ConfigSetSchTimePicker1, ui->ConfigSetSchTimePicker2,
                            ui->ConfigSetSchTimePicker3, ui->ConfigSetSchTimePicker4};
    for (int n = 1; n <= 4; ++n) {
        const QTime t = pickers[n - 1]->time();
        if (t != daysToTime(m_state->FTimeSch[n].mTime))
            m_state->SetScheduleTime(n, timeToDays(t));
    }
}

// ---------------------------------------------------------------------------
// Tester grid

void TMainForm::refreshTesterGrid()
{
    FlagGuard filling(m_gridFilling);
    QTableWidget* g = ui->ConfigSetUserGrid;
    const QVector<TesterGrid::Row>& rows = m_state->testerGrid.rows;
    const int col = std::max(g->currentColumn(), 0);
    g->setRowCount(int(rows.size()));
    for (int r = 0; r < rows.size(); ++r)
        for (int c = 0; c < 3; ++c)
            g->setItem(r, c, makeCell(rows[r][size_t(c)], true));
    const int sel = m_state->testerGrid.FUserSel;
    if (sel >= 0 && sel < g->rowCount())
        g->setCurrentCell(sel, col);
    else
        g->setCurrentCell(-1, -1);
}

void TMainForm::commitGridEditor(QTableWidget* grid)
{
    // An open in-place editor is a visible child of the viewport (the grid has no cell widgets).
    QAbstractItemDelegate* delegate = grid->itemDelegate();
    for (QWidget* editor : grid->viewport()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (editor->isHidden())
            continue;
        emit delegate->commitData(editor);
        emit delegate->closeEditor(editor, QAbstractItemDelegate::NoHint);
    }
}

void TMainForm::takeOverTesterGrid()
{
    QTableWidget* g = ui->ConfigSetUserGrid;
    commitGridEditor(g);
    TesterGrid& tg = m_state->testerGrid;
    tg.rows.resize(g->rowCount());
    for (int r = 0; r < g->rowCount(); ++r)
        for (int c = 0; c < 3; ++c) {
            const QTableWidgetItem* item = g->item(r, c);
            tg.rows[r][size_t(c)] = item ? item->text() : QString();
        }
}

void TMainForm::onTesterCellChanged(int row, int col)
{
    if (m_gridFilling || row < 0 || col < 0 || col > 2)
        return;
    TesterGrid& tg = m_state->testerGrid;
    if (row >= tg.rows.size())
        tg.rows.resize(row + 1);
    const QTableWidgetItem* item = ui->ConfigSetUserGrid->item(row, col);
    tg.rows[row][size_t(col)] = item ? item->text() : QString();
    if (tg.FUserSel == -1)
        tg.selectCell(row + 1);
}

void TMainForm::onTesterCurrentCellChanged(int row)
{
    if (m_gridFilling || row < 0)
        return;
    m_state->testerGrid.selectCell(row + 1); // grid row = table row + the header row
}

void TMainForm::setupTesterButtons()
{
    // Insert and Delete by key and by button, as well as from the pop-up menu.
    QTableWidget* grid = ui->ConfigSetUserGrid;
    ui->PopupConfigSetAddBtn->setShortcut(QKeySequence(Qt::Key_Insert));
    ui->PopupConfigSetDelBtn->setShortcut(QKeySequence(Qt::Key_Delete));
    for (QAction* a : {ui->PopupConfigSetAddBtn, ui->PopupConfigSetDelBtn}) {
        a->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        grid->addAction(a);
    }
    m_testerInsertBtn = new QPushButton(grid->parentWidget());
    m_testerInsertBtn->setObjectName(QStringLiteral("ConfigSetUserInsertBtn"));
    m_testerDeleteBtn = new QPushButton(grid->parentWidget());
    m_testerDeleteBtn->setObjectName(QStringLiteral("ConfigSetUserDeleteBtn"));
    connect(m_testerInsertBtn, &QPushButton::clicked, this, &TMainForm::onTesterInsert);
    connect(m_testerDeleteBtn, &QPushButton::clicked, this, &TMainForm::onTesterDelete);
    auto* row = new QHBoxLayout;
    row->addWidget(m_testerInsertBtn);
    row->addWidget(m_testerDeleteBtn);
    row->addStretch(1);
    QLayout* l = grid->parentWidget()->layout();
    if (auto* box = qobject_cast<QBoxLayout*>(l)) {
        box->insertLayout(box->indexOf(grid) + 1, row);
    } else if (auto* g = qobject_cast<QGridLayout*>(l)) {
        int r = 0, c = 0, rs = 0, cs = 0;
        g->getItemPosition(g->indexOf(grid), &r, &c, &rs, &cs);
        g->addLayout(row, g->rowCount(), c, 1, cs);
    }
}

void TMainForm::onTesterInsert()
{
    takeOverTesterGrid();
    m_state->testerGrid.insertRow();
    refreshTesterGrid();
}

void TMainForm::onTesterDelete()
{
    takeOverTesterGrid();
    if (m_state->testerGrid.deleteSelectedRow())
        refreshTesterGrid();
}

void TMainForm::testerDataLoad()
{
    m_state->UserDataLoad();
    refreshTesterGrid();
}

void TMainForm::testerDataSave()
{
    takeOverTesterGrid();
    m_state->UserDataSave();
    refreshPrintUserCombo();
}

void TMainForm::refreshPrintUserCombo()
{
    FlagGuard pushing(m_pushing);
    QComboBox* combo = ui->PrintResUserCombo;
    combo->clear();
    combo->addItems(m_state->PrintResUserComboItems);
    const int index = m_state->PrintResUserComboIndex;
    combo->setCurrentIndex(index >= 0 && index < combo->count() ? index : -1);
}

// ---------------------------------------------------------------------------
// Schedule grid

void TMainForm::refreshScheduleGrid()
{
    QTableWidget* g = ui->ConfigSetSchGrid;
    for (int n = 1; n <= 4; ++n)
        for (int d = 1; d <= 7; ++d) {
            QTableWidgetItem* item = g->item(n - 1, d);
            if (!item) {
                item = makeCell(QString(), false);
                g->setItem(n - 1, d, item);
            }
            const bool set = m_state->FTimeSch[n].mDayOfWeek[d];
            item->setText(set ? QStringLiteral("Y") : QString());
            item->setBackground(set ? QColor(198, 228, 200) : QColor(Qt::white));
        }
}

void TMainForm::onScheduleDoubleClick(int row, int col)
{
    if (row < 0 || row > 3 || col < 1 || col > 7)
        return;
    m_state->ToggleScheduleDay(row + 1, col);
    refreshScheduleGrid();
    if (m_autoView)
        m_autoView->SettingsEdited();
}

void TMainForm::onSchedulePickerChanged(int n)
{
    if (m_pushing)
        return;
    QTimeEdit* pickers[] = {ui->ConfigSetSchTimePicker1, ui->ConfigSetSchTimePicker2,
                            ui->ConfigSetSchTimePicker3, ui->ConfigSetSchTimePicker4};
    m_state->SetScheduleTime(n, timeToDays(pickers[n - 1]->time()));
    if (m_autoView)
        m_autoView->SettingsEdited();
}

// ---------------------------------------------------------------------------
// Page changes: the tester grid is loaded on entering its page and taken over on leaving.

void TMainForm::onCfgPageChanged(int index)
{
    QWidget* now = ui->CfgPage->widget(index);
    QWidget* prev = m_cfgPagePrev;
    m_cfgPagePrev = now;
    if (m_pushing || !m_started || now == prev)
        return;
    if (prev == ui->ConfigTS)
        testerDataSave();
    if (now == ui->ConfigTS)
        testerDataLoad();
}

void TMainForm::onConfigPageChanged(int index)
{
    QWidget* now = ui->ConfigPage->widget(index);
    QWidget* prev = m_configPagePrev;
    m_configPagePrev = now;
    if (m_pushing || !m_started || now == prev)
        return;
    if (prev == ui->ConfigSetTS)
        testerDataSave();
    if (now == ui->ConfigSetTS)
        testerDataLoad();
}

// ---------------------------------------------------------------------------
// Language

void TMainForm::onLanguageChange()
{
    QComboBox* combo = ui->ConfigSetEtcLangLangCombo;
    const int key = combo->currentIndex() + 1; // combo item i names language key i + 1
    if (key < 1)
        return;
    LangTable& lang = GVLang();
    int found = -1;
    for (int i = 0; i < lang.GVLangList.size(); ++i)
        if (lang.GVLangList[i].mIndex == key) {
            found = i;
            break;
        }
    if (found < 0) {
        messages().showMessage(
            LangText(989, "The language file for \"%1\" is not installed.").arg(combo->currentText()),
            PROG_TITLE, OperatorPort::Icon::Warning);
        const QSignalBlocker block(combo);
        combo->setCurrentIndex(lang.selected().mIndex - 1);
        return;
    }
    lang.GVLangSelect = found;
    InitLang();
    messages().setStatus(QString(), OperatorPort::StatusLook::Neutral); // it spoke the old language
}

void TMainForm::onFontChange()
{
    const QString font = ui->ConfigSetEtcLangFontCombo->currentText();
    if (font.isEmpty())
        return;
    if (!GVLang().setSelectedFont(AppState::TransferFolder(), font))
        messages().showMessage(
            LangText(990, "The font \"%1\" could not be stored in the language list.").arg(font),
            PROG_TITLE, OperatorPort::Icon::Error);
    InitLang();
}

void TMainForm::onMakeLanguageFile()
{
    QString error;
    {
        BusyCursor busy;
        error = LangTable::buildLanguageFiles(m_state->GVPath);
    }
    if (!error.isEmpty())
        messages().showMessage(error, PROG_TITLE, OperatorPort::Icon::Error);
}

// ---------------------------------------------------------------------------
// Service levels, status, closing

void TMainForm::applyServiceLevel(int level)
{
    m_serviceLevel = std::clamp(level, 0, 2);
    const bool all = m_serviceLevel == 2;
    for (QWidget* w : {static_cast<QWidget*>(ui->PCProdGB), static_cast<QWidget*>(ui->PCSimGB),
                       static_cast<QWidget*>(ui->PCOpBtn), static_cast<QWidget*>(ui->PCLangBtn),
                       static_cast<QWidget*>(ui->PCGDDFClearBtn),
                       static_cast<QWidget*>(ui->PCPumpTestBtn),
                       static_cast<QWidget*>(ui->DebugCommPanel),
                       static_cast<QWidget*>(ui->DebugOpPanel),
                       static_cast<QWidget*>(ui->OpDeviceConnectLanRadio)})
        hideWidget(w, !all);
    ui->CfgPage->setTabVisible(ui->CfgPage->indexOf(ui->PCTS), m_serviceLevel >= 1);
    if (m_serviceLevel == 1)
        ui->PCProdGB->show();
    ui->LogListBtnMake->hide();
    if (m_core)
        for (TUnitDef* u : std::initializer_list<TUnitDef*>{&m_core->DockComm, &m_core->TCPSkt,
                                                          &m_core->USBDisk, &m_core->UdpSkt})
            u->FDevMode = m_serviceLevel == 2;
}

void TMainForm::SetStatus(const QString& text, OperatorPort::StatusLook look)
{
    m_port->setStatus(text, look);
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == ui->ConfigSetSchGrid && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Space) {
        onScheduleDoubleClick(ui->ConfigSetSchGrid->currentRow(), ui->ConfigSetSchGrid->currentColumn());
        return true;
    }
    if (event->type() == QEvent::MouseButtonDblClick &&
        (watched == ui->OpDeviceOpLabel1 || watched == ui->CustomerLabel)) {
        // The keys held during this very click count, not the keyboard state when it is handled.
        const Qt::KeyboardModifiers m = static_cast<QMouseEvent*>(event)->modifiers();
        const bool held = m.testFlag(Qt::ControlModifier) && m.testFlag(Qt::ShiftModifier) &&
                          m.testFlag(Qt::AltModifier);
        applyServiceLevel(m_state->ServiceLevel(held));
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

void TMainForm::closeEvent(QCloseEvent* event)
{
    if (!m_state->FormCloseQuery()) {
        event->ignore(); // an operation runs: refused without a word
        // Auto mode: stopped on request, and the window closes once it has stopped.
        if (m_state->FAutoMode && !m_autoView->Stopping() &&
            messages().askYesNo(LangText(893), LangText(896))) {
            connect(m_autoView, &TAutoModeView::stopped, this, &QWidget::close,
                    Qt::ConnectionType(Qt::QueuedConnection | Qt::SingleShotConnection));
            m_autoView->Stop();
        }
        return;
    }
    // Logs of the last Read that were never saved: offered once more; either way
    // they stay staged and are listed again at the next start.
    if (m_started && !m_refused && m_core && m_core->LogListBtnSaveEnabled) {
        switch (messages().askYesNoCancel(LangText(712) + '\n' + LangText(713), LangText(714))) {
        case OperatorPort::Answer::Yes: m_core->LogListBtnSaveClick(); break;
        case OperatorPort::Answer::No: break;
        case OperatorPort::Answer::Cancel: event->ignore(); return;
        }
    }
    // Before start-up the controls hold design values, not the user's settings.
    if (m_started && !m_refused) {
        pullSettings();
        m_state->FWindowGeometry = saveGeometry();
        rememberWindowChoices();
        QString error;
        if (!m_state->SaveSetting(&error))
            messages().showMessage(error.isEmpty() ? LangText(991, "The settings could not be saved.")
                                                   : error,
                                   PROG_TITLE, OperatorPort::Icon::Error);
    }
    event->accept();
}

// ---------------------------------------------------------------------------
// Dock operations

void TMainForm::setupOperations()
{
    m_core = std::make_unique<TMainCore>(*m_state, messages());
    m_core->editors.InitConst();

    // The pages that mirror the editors' models.
    auto embed = [](QWidget* page, QWidget* placeholder, QWidget* content) {
        if (placeholder)
            placeholder->hide();
        page->layout()->addWidget(content);
    };
    m_dockPage = new TDockPage(&m_core->editors.dock, ui->DockTS);
    embed(ui->DockTS, ui->DockPlaceholderLabel, m_dockPage);
    m_gdPage = new TGDPage(&m_core->editors.gd, ui->GDTS);
    embed(ui->GDTS, ui->GDPlaceholderLabel, m_gdPage);
    m_logPage = new TLogPage(ui->LogTS);
    embed(ui->LogTS, ui->LogListPlaceholderLabel, m_logPage);
    m_reportPage = new TReportPage(ui->ReportTS);
    embed(ui->ReportTS, ui->ReportPlaceholderLabel, m_reportPage);
    m_printPage = new TPrintPage(*m_state, messages(), ui->PrintResUserCombo, ui->PrintTS);
    embed(ui->PrintTS, ui->PrintResPlaceholderLabel, m_printPage);
    static_cast<QBoxLayout*>(ui->PrintTS->layout())->setStretchFactor(m_printPage, 1);
    m_printPage->attach(m_logPage->browser());
    m_printPage->pullSettings = [this] {
        if (m_started)
            pullSettings();
    };
    m_printPage->layoutChosen = [this](int id) {
        if (id >= 0 && id < ui->ConfigPrNPrintTypeCombo->count())
            ui->ConfigPrNPrintTypeCombo->setCurrentIndex(id);
    };
    m_port->setPrinter(&m_printPage->printer());

    m_core->PullSettings = [this] {
        if (m_started)
            pullSettings();
    };
    m_core->Changed = [this] {
        emit m_core->editors.dock.changed();
        emit m_core->editors.gd.changed();
        refreshConnection();
    };
    // The fleet tab follows every Save Log and Auto cycle.
    TFleetPage* fleet = TFleetPage::AddTo(ui->CfgPage, *m_state, m_printPage);
    m_fleetPage = fleet;
    m_core->Changed = [changed = m_core->Changed, fleet] { changed(); fleet->refreshIfChanged(); };

    m_autoView = new TAutoModeView(this, *m_core, m_reportPage);
    connect(ui->OpReadBtn, &QPushButton::clicked, this, [this] { m_core->OpReadBtnClick(); });
    // During a manual operation Cancel stops it at the next file or request.
    connect(ui->OpAutoCancelBtn, &QPushButton::clicked, this, [this] {
        if (m_state->FExe && !m_state->FAutoMode)
            m_core->RequestCancel();
    });
    connect(ui->OpWriteBtn, &QPushButton::clicked, this, [this] {
        if (m_core->FReadOrigin.valid) // never defaults that only look like a dock's
            m_core->OpWriteBtnClick();
    });
    connect(m_logPage->purgeButton(), &QPushButton::clicked, this,
            [this] { m_core->LogListBtnPurgeClick(); });
    connect(m_gdPage, &TGDPage::downloadRequested, this,
            [this](int tag) { m_core->GDOpConfigBtnClick(tag); });
    connect(ui->ConfigSendEmailSvrTestBtn, &QPushButton::clicked, this,
            [this] { ConfigSendEmailSvrTestBtnClick(*m_core); });
    ui->ConfigSendEmailSvrTestBtn->setEnabled(true);
    ui->ConfigSendEmailSvrTestBtn->setToolTip(QString());

    // Clock and reset.
    m_rtcLabel = new QLabel(ui->OpDeviceOpTS);
    m_rtcLabel->setObjectName(QStringLiteral("OpDeviceOpRTCLabel"));
    m_rtcLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_rtcLabel->setText(QStringLiteral("---"));
    if (QLayout* l = ui->OpDeviceOpTS->layout())
        l->addWidget(m_rtcLabel);
    auto clock = [this](bool set) {
        m_core->OpDeviceOpSetRtcOffsetEdit = ui->OpDeviceOpSetRtcOffsetEdit->value();
        if (set)
            m_core->OpDeviceOpRtcSetBtnClick();
        else
            m_core->OpDeviceOpRtcGetBtnClick();
        m_rtcLabel->setText(m_core->OpDeviceOpRTCLabel.isEmpty()
                                ? QString()
                                : LangText(428) + QStringLiteral(" : ") + m_core->OpDeviceOpRTCLabel);
    };
    connect(ui->OpDeviceOpRtcGetBtn, &QPushButton::clicked, this, [clock] { clock(false); });
    connect(ui->OpDeviceOpRtcSetBtn, &QPushButton::clicked, this, [clock] { clock(true); });
    connect(ui->DebugOpUnitResetBtn, &QPushButton::clicked, this,
            [this] { m_core->DebugOpUnitResetBtnClick(); });
    // A serial device the person types (such as the simulator's) counts as a port.
    ui->OpDeviceConnectCommPortCombo->setEditable(true);

    connect(m_dockPage, &TDockPage::upgradeFileChosen, this,
            [this](const QString& path) { m_core->DockUpgradeFileEditChange(path); });
    connect(m_gdPage, &TGDPage::upgradeFileChosen, this,
            [this](const QString& path) { m_core->GDUpgradeFileNameEditChange(path); });
    // A typed path gets the same check as a chosen one.
    connect(m_dockPage, &TDockPage::upgradeFilePathEdited, this,
            [this](const QString& path) { m_core->DockUpgradeFileEditChange(path); });
    connect(m_gdPage, &TGDPage::upgradeFilePathEdited, this,
            [this](const QString& path) { m_core->GDUpgradeFileNameEditChange(path); });

    for (QRadioButton* r : {ui->OpDeviceConnectDiskRadio, ui->OpDeviceConnectCommRadio,
                            ui->OpDeviceConnectUdpRadio, ui->OpDeviceConnectLanRadio})
        connect(r, &QRadioButton::toggled, this, [this](bool on) {
            if (on)
                onLinkRadio();
        });
    connect(ui->OpDeviceConnectRefreshBtn, &QPushButton::clicked, this,
            [this] { m_core->RefreshConnections(); });
    connect(ui->OpDeviceConnectCommPortCombo, &QComboBox::currentTextChanged, this,
            [this](const QString& t) { m_core->OpDeviceConnectCommPortComboText = t; });
    connect(ui->OpDeviceConnectLanListCombo, &QComboBox::currentTextChanged, this, [this](const QString& t) {
        m_core->OpDeviceConnectLanListComboText = t;
        // A typed address is used as typed, not the dock the list still points at.
        QComboBox* c = ui->OpDeviceConnectLanListCombo;
        if (c->currentIndex() >= 0 && c->itemText(c->currentIndex()) != t)
            m_core->OpDeviceConnectLanListComboIndex = -1;
    });
    connect(ui->OpDeviceConnectLanListCombo, &QComboBox::currentIndexChanged, this,
            [this](int i) { m_core->OpDeviceConnectLanListComboIndex = i; });

    connect(ui->DebugLogUnitCheck, &QCheckBox::toggled, this,
            [this](bool on) { m_core->DebugLogUnitCheck = on; });
    connect(ui->DebugLogProgressCheck, &QCheckBox::toggled, this,
            [this](bool on) { m_core->DebugLogProgressCheck = on; });
    const std::pair<QCheckBox*, TMainCore::Traffic> traffic[] = {
        {ui->DebugCommReadCheck, TMainCore::Traffic::CommRead},
        {ui->DebugCommSendCheck, TMainCore::Traffic::CommSend},
        {ui->DebugCommDataCheck, TMainCore::Traffic::CommData},
        {ui->DebugEthReadCheck, TMainCore::Traffic::EthRead},
        {ui->DebugEthSendCheck, TMainCore::Traffic::EthSend},
        {ui->DebugEthDataCheck, TMainCore::Traffic::EthData}};
    for (const auto& [box, which] : traffic)
        connect(box, &QCheckBox::toggled, this, [this, w = which](bool on) { m_core->SetTraffic(w, on); });
    setupService();
    refreshConnection();
}

void TMainForm::setupService()
{
    m_service = std::make_unique<TServiceCommands>(*m_core);
    ui->PCSimSensorCombo->clear();
    ui->PCSimSensorCombo->addItems({QStringLiteral("H2S"), QStringLiteral("CO"), QStringLiteral("O2"),
                                    QStringLiteral("SO2")});
    ui->PCSimSensorCombo->setCurrentIndex(0);
    // Serial numbers: upper case, printable ASCII (the dock takes one byte a character).
    for (QLineEdit* e : {ui->DebugOpSNEdit, ui->PCProdNameEdit, ui->PCSimSNEdit}) {
        e->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[\\x20-\\x7E]*")), e));
        connect(e, &QLineEdit::textEdited, e, [e](const QString& t) {
            const int pos = e->cursorPosition();
            e->setText(t.toUpper());
            e->setCursorPosition(pos);
        });
    }
    ui->DebugOpSNEdit->setMaxLength(SERVICE_SN_MAX + 1); // a twelfth character shows that only eleven go
    ui->PCProdNameEdit->setMaxLength(SERVICE_SN_MAX + 1);
    auto after = [this](bool) { pushService(); };
    connect(ui->DebugOpReadSNBtn, &QPushButton::clicked, this, [this, after] {
        pullService();
        after(m_service->DebugOpReadSNBtnClick());
    });
    connect(ui->DebugOpWriteSNBtn, &QPushButton::clicked, this, [this, after] {
        pullService();
        after(m_service->DebugOpWriteSNBtnClick());
    });
    connect(ui->PCProdReadBtn, &QPushButton::clicked, this, [this, after] {
        pullService();
        after(m_service->PCProdReadBtnClick());
    });
    connect(ui->PCProdSetBtn, &QPushButton::clicked, this, [this, after] {
        pullService();
        after(m_service->PCProdSetBtnClick());
    });
    connect(ui->PCPumpTestBtn, &QPushButton::clicked, this, [this, after] {
        pullService();
        after(m_service->PCPumpTestBtnClick());
    });
    connect(ui->PCGDDFClearBtn, &QPushButton::clicked, this, [this, after] {
        pullService();
        after(m_service->PCGDDFClearBtnClick());
    });
    connect(ui->PCSimEventAddBtn, &QPushButton::clicked, this, [this, after] {
        pullService();
        after(m_service->PCSimEventAddBtnClick());
    });
    ui->PCSimTestBumpBtn->setProperty("tag", 1);
    ui->PCSimTestCalBtn->setProperty("tag", 2);
    for (QPushButton* b : {ui->PCSimTestBumpBtn, ui->PCSimTestCalBtn})
        connect(b, &QPushButton::clicked, this, [this, b, after] {
            pullService();
            after(m_service->PCSimTestBumpBtnClick(b->property("tag").toInt()));
        });
    connect(ui->PCOpBtn, &QPushButton::clicked, this, &TMainForm::onPCOpBtnClick);
    pushService();
}

void TMainForm::pullService()
{
    TServiceCommands& s = *m_service;
    s.DebugOpSNEdit = ui->DebugOpSNEdit->text();
    s.PCProdNameEdit = ui->PCProdNameEdit->text();
    s.PCProdOffsetEdit = ui->PCProdOffsetEdit->value();
    s.PCProdDuty1Edit = ui->PCProdDuty1Edit->value();
    s.PCProdDuty2Edit = ui->PCProdDuty2Edit->value();
    s.PCSimSNEdit = ui->PCSimSNEdit->text();
    s.PCSimSensorComboIndex = std::max(0, ui->PCSimSensorCombo->currentIndex());
    s.PCSimEventAlarmEdit = ui->PCSimEventAlarmEdit->value();
    s.PCSimEventTypeRadioIndex = ui->PCSimEventTypeRadio1->isChecked() ? 1 : 0;
    s.PCSimEventDurationEdit = ui->PCSimEventDurationEdit->value();
    s.PCSimTestZeroPreEdit = ui->PCSimTestZeroPreEdit->value();
    s.PCSimTestZeroEdit = ui->PCSimTestZeroEdit->value();
    s.PCSimTestZeroTimeEdit = ui->PCSimTestZeroTimeEdit->value();
    s.PCSimTestSpanPreEdit = ui->PCSimTestSpanPreEdit->value();
    s.PCSimTestSpanEdit = ui->PCSimTestSpanEdit->value();
    s.PCSimTestSpanTimeEdit = ui->PCSimTestSpanTimeEdit->value();
}

void TMainForm::pushService()
{
    ui->DebugOpSNEdit->setText(m_service->DebugOpSNEdit);
    ui->PCProdReadLabel->setText(m_service->PCProdReadLabel);
    if (!m_service->LastError.isEmpty())
        m_core->AddLog(LOGTYPE_UNIT, m_service->LastError);
}

void TMainForm::onPCOpBtnClick()
{
    // The dialog keeps its own traffic log: the main window's serial boxes go off.
    for (QCheckBox* c : {ui->DebugCommReadCheck, ui->DebugCommSendCheck, ui->DebugCommDataCheck})
        c->setChecked(false);
    m_service->PCOpBtnClick([this] {
        TPCTestDlg dlg(m_core->DockComm, m_state->GVPath, m_state->FLogDestDir, this);
        dlg.ShowDlg();
    });
    refreshConnection();
}

// The link, port, dock address and page the window was left with.
namespace {
const char* const kLinkNames[] = {"usb", "cable", "ethernet", "tcp"};
}

void TMainForm::rememberWindowChoices()
{
    m_state->FWindowLink = QLatin1String(kLinkNames[int(m_core->link)]);
    m_state->FWindowPort = ui->OpDeviceConnectCommPortCombo->currentText().trimmed();
    if (m_state->FWindowPort == QLatin1String("---"))
        m_state->FWindowPort.clear();
    const int index = m_core->OpDeviceConnectLanListComboIndex;
    if (index >= 1 && index < m_core->FDockLan.size())
        m_state->FWindowAddress = m_core->FDockLan[index].mIp;
    else if (IsDottedIPv4(m_core->OpDeviceConnectLanListComboText.trimmed()))
        m_state->FWindowAddress = m_core->OpDeviceConnectLanListComboText.trimmed();
    QWidget* page = ui->CfgPage->currentWidget();
    if (page && page != ui->PCTS && page != ui->HideTS)
        m_state->FWindowPage = page->objectName();
}

void TMainForm::restoreWindowChoices()
{
    if (QWidget* page = ui->CfgPage->findChild<QWidget*>(m_state->FWindowPage);
        page && page != ui->PCTS && page != ui->HideTS && ui->CfgPage->indexOf(page) >= 0) {
        ui->CfgPage->setCurrentWidget(page);
        m_cfgPagePrev = page;
        if (page == ui->ConfigTS)
            testerDataLoad();
    }
    const QString link = m_state->FWindowLink.toLower();
    QRadioButton* radio = nullptr;
    if (link == QLatin1String("cable"))
        radio = ui->OpDeviceConnectCommRadio;
    else if (link == QLatin1String("ethernet") || link == QLatin1String("tcp")) // TCP shows at level 2 only
        radio = ui->OpDeviceConnectUdpRadio;
    if (radio)
        radio->setChecked(true); // the link's own set-up runs (port list, dock search)
    if (!m_state->FWindowPort.isEmpty()) {
        m_core->OpDeviceConnectCommPortComboText = m_state->FWindowPort;
        if (!m_core->OpDeviceConnectCommPortComboItems.contains(m_state->FWindowPort))
            m_core->OpDeviceConnectCommPortComboItems.prepend(m_state->FWindowPort);
    }
    if (IsDottedIPv4(m_state->FWindowAddress)) {
        int found = -1;
        for (int i = 1; i < m_core->FDockLan.size(); ++i)
            if (m_core->FDockLan[i].mIp == m_state->FWindowAddress)
                found = i;
        m_core->OpDeviceConnectLanListComboIndex = found;
        m_core->OpDeviceConnectLanListComboText =
            found >= 1 && found < m_core->OpDeviceConnectLanListComboItems.size()
                ? m_core->OpDeviceConnectLanListComboItems[found]
                : m_state->FWindowAddress;
    }
    refreshConnection();
}

void TMainForm::onLinkRadio()
{
    LinkChoice choice = LinkChoice::Disk;
    if (ui->OpDeviceConnectCommRadio->isChecked())
        choice = LinkChoice::Comm;
    else if (ui->OpDeviceConnectUdpRadio->isChecked())
        choice = LinkChoice::Udp;
    else if (ui->OpDeviceConnectLanRadio->isChecked())
        choice = LinkChoice::Lan;
    m_core->SelectLink(choice);
}

// The Connection tab and the link-specific buttons follow the core.
void TMainForm::refreshConnection()
{
    const LinkButtons b = ButtonsForLink(m_core->link);
    ui->OpDeviceOpRtcGetBtn->setEnabled(b.rtc);
    ui->OpDeviceOpRtcSetBtn->setEnabled(b.rtc);
    ui->DebugOpReadSNBtn->setEnabled(b.serial);
    ui->DebugOpWriteSNBtn->setEnabled(b.serial);
    ui->DebugOpUnitResetBtn->setEnabled(b.reset);
    for (const char* name : {"GDOpConfigBtn", "GDOpFirmwareBtn"})
        if (QWidget* w = named(name))
            w->setEnabled(b.downloads);

    auto mirror = [](QComboBox* combo, const QStringList& items, const QString& text, int index) {
        QSignalBlocker block(combo);
        QStringList current;
        for (int i = 0; i < combo->count(); ++i)
            current << combo->itemText(i);
        if (current != items) {
            combo->clear();
            combo->addItems(items);
        }
        if (index >= 0 && index < combo->count())
            combo->setCurrentIndex(index);
        else if (combo->isEditable())
            combo->setEditText(text);
        else
            combo->setCurrentIndex(int(items.indexOf(text)));
    };
    mirror(ui->OpDeviceConnectCommPortCombo, m_core->OpDeviceConnectCommPortComboItems,
           m_core->OpDeviceConnectCommPortComboText, -1);
    mirror(ui->OpDeviceConnectLanListCombo, m_core->OpDeviceConnectLanListComboItems,
           m_core->OpDeviceConnectLanListComboText, m_core->OpDeviceConnectLanListComboIndex);
    if (m_logPage)
        m_logPage->saveButton()->setEnabled(m_core->LogListBtnSaveEnabled);
    if (m_readOrigin)
        m_readOrigin->refresh();
}
