#include "LogPage.h"

#include <QAction>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QLabel>
#include <QPlainTextEdit>
#include <QScreen>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QListWidget>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QSplitter>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTabWidget>
#include <QTableWidget>
#include <QTextBrowser>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "MainForm.h"
#include "ReportPage.h"
#include "app/LogBrowser.h"
#include "app/DockConfig.h"
#include "app/MainCore.h"
#include "lang/LangTable.h"

namespace {

// ImageResultList: 0 none, 1 pass, 2 fail.
QIcon resultIcon(int image)
{
    static QIcon icons[3];
    if (image < 0 || image > 2)
        image = 0;
    if (icons[image].isNull()) {
        QPixmap pm(12, 12);
        pm.fill(Qt::transparent);
        if (image != 0) {
            QPainter p(&pm);
            p.setRenderHint(QPainter::Antialiasing);
            p.setPen(Qt::NoPen);
            p.setBrush(image == 1 ? QColor(0, 160, 0) : QColor(210, 0, 0));
            p.drawEllipse(1, 1, 10, 10);
        }
        icons[image] = QIcon(pm);
    }
    return icons[image];
}

// The event grid draws its own cells: black on white, columns 0-2 centred,
// columns 3 and 4 left-aligned 8 pixels in, each cell framed in its background colour.
class EventGridDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* p, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        const bool selected = option.state.testFlag(QStyle::State_Selected);
        const QColor back = selected ? option.palette.highlight().color() : QColor(Qt::white);
        p->save();
        p->fillRect(option.rect, back);
        p->setPen(back);
        p->drawRect(option.rect.adjusted(0, 0, -1, -1));
        p->setPen(selected ? option.palette.highlightedText().color() : QColor(Qt::black));
        const QString text = index.data().toString();
        if (index.column() <= 2)
            p->drawText(option.rect, Qt::AlignCenter, text);
        else
            p->drawText(option.rect.adjusted(8, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, text);
        p->restore();
    }
};

TMainCore* coreOfWindow(QWidget* parent)
{
    if (!parent)
        return nullptr;
    if (auto* form = qobject_cast<TMainForm*>(parent->window()))
        return &form->core();
    return nullptr;
}

} // namespace

TLogPage::TLogPage(QWidget* parent) : QWidget(parent)
{
    build();
    if (TMainCore* core = coreOfWindow(parent))
        attach(*core);
}

TLogPage::TLogPage(TMainCore& core, QWidget* parent) : QWidget(parent)
{
    build();
    attach(core);
}

TLogPage::~TLogPage() = default;

void TLogPage::build()
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* buttons = new QHBoxLayout;
    auto button = [this](const char* name, const QString& text) {
        auto* b = new QPushButton(text, this);
        b->setObjectName(QLatin1String(name));
        return b;
    };
    m_refresh = button("LogListBtnRefresh", QStringLiteral("Refresh Log"));
    m_save = button("LogListBtnSave", QStringLiteral("Save Log"));
    m_save->setEnabled(false);
    m_purge = button("LogListBtnPurge", QStringLiteral("Start Purge"));
    buttons->addWidget(m_refresh);
    buttons->addWidget(m_save);
    buttons->addWidget(m_purge);
    buttons->addStretch();
    layout->addLayout(buttons);

    auto* split = new QSplitter(Qt::Horizontal, this);
    layout->addWidget(split, 1);

    m_tabs = new QTabWidget(split);
    m_tabs->setObjectName(QStringLiteral("LogListPage"));
    auto addTab = [this](const char* name, const QString& caption) {
        auto* page = new QWidget(m_tabs);
        page->setObjectName(QLatin1String(name));
        auto* pl = new QVBoxLayout(page);
        pl->setContentsMargins(2, 2, 2, 2);
        m_tabs->addTab(page, caption);
        return pl;
    };
    auto makeList = [this](const char* name) {
        auto* list = new QListWidget(this);
        list->setObjectName(QLatin1String(name));
        list->setContextMenuPolicy(Qt::CustomContextMenu);
        list->setIconSize(QSize(16, 16));
        return list;
    };
    auto makeTree = [this](const char* name) {
        auto* tree = new QTreeWidget(this);
        tree->setObjectName(QLatin1String(name));
        tree->setHeaderHidden(true);
        tree->setContextMenuPolicy(Qt::CustomContextMenu);
        tree->setExpandsOnDoubleClick(false);
        return tree;
    };

    m_dockList = makeList("LogListDockList");
    addTab("LogListDockTS", QStringLiteral("DOCK"))->addWidget(m_dockList);

    m_eventList = makeList("LogListGDEventList");
    m_eventGrid = new QTableWidget(0, 5, this);
    m_eventGrid->setObjectName(QStringLiteral("LogListGDEventGrid"));
    m_eventGrid->setHorizontalHeaderLabels({QStringLiteral("Time"), QStringLiteral("Duration"),
                                            QStringLiteral("Reading"), QStringLiteral("Alarm"),
                                            QStringLiteral("Option")});
    const int widths[] = {136, 68, 64, 64, 64};
    for (int c = 0; c < 5; ++c)
        m_eventGrid->setColumnWidth(c, widths[c]);
    m_eventGrid->verticalHeader()->hide();
    m_eventGrid->verticalHeader()->setDefaultSectionSize(18);
    m_eventGrid->horizontalHeader()->setStyleSheet(
        QStringLiteral("QHeaderView::section { background-color: rgb(238,238,247); color: black;"
                       " font-weight: bold; border: none; border-right: 1px solid #b4b4c4;"
                       " border-bottom: 1px solid #b4b4c4; }"));
    m_eventGrid->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_eventGrid->setSelectionMode(QAbstractItemView::SingleSelection);
    m_eventGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_eventGrid->setItemDelegate(new EventGridDelegate(m_eventGrid));
    auto* eventSplit = new QSplitter(Qt::Horizontal, this);
    eventSplit->addWidget(m_eventList);
    eventSplit->addWidget(m_eventGrid);
    eventSplit->setStretchFactor(1, 3);
    addTab("LogListGDEventTS", QStringLiteral("Event"))->addWidget(eventSplit);

    m_calTree = makeTree("LogListGDCalTreeView");
    addTab("LogListGDCalTS", QStringLiteral("Calibration"))->addWidget(m_calTree);
    m_bumpTree = makeTree("LogListGDBumpTreeView");
    addTab("LogListGDBumpTS", QStringLiteral("Bump Test"))->addWidget(m_bumpTree);
    m_lastTree = makeTree("LogListLastTreeView");
    m_lastTree->setContextMenuPolicy(Qt::DefaultContextMenu);
    QVBoxLayout* last = addTab("LogListLastTS", QStringLiteral("Current"));
    // What the tab shows, and what fills it while it is empty.
    m_lastNote = new QLabel(this);
    m_lastNote->setObjectName(QStringLiteral("LogListLastNoteLabel"));
    m_lastNote->setWordWrap(true);
    last->addWidget(m_lastNote);
    last->addWidget(m_lastTree, 1);

    auto* right = new QWidget(split);
    auto* rl = new QVBoxLayout(right);
    rl->setContentsMargins(0, 0, 0, 0);
    m_load = new QPushButton(QStringLiteral("Load"), right);
    m_load->setObjectName(QStringLiteral("LogResLoadBtn"));
    auto* loadRow = new QHBoxLayout;
    loadRow->addWidget(m_load);
    loadRow->addStretch();
    rl->addLayout(loadRow);
    m_resultTree = new QTreeWidget(right);
    m_resultTree->setObjectName(QStringLiteral("LogResTestTreeView"));
    m_resultTree->setHeaderHidden(true);
    rl->addWidget(m_resultTree, 1);
    split->addWidget(m_tabs);
    split->addWidget(right);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 2);

    makePopup(QStringLiteral("PopupLogListDock"), TLogBrowser::ListDock, true, false);
    makePopup(QStringLiteral("PopupLogListGDEvent"), TLogBrowser::ListEvent, true, false);
    makePopup(QStringLiteral("PopupLogListGDCal"), TLogBrowser::ListCal, false, true);
    makePopup(QStringLiteral("PopupLogListGDBump"), TLogBrowser::ListBump, false, true);

    for (QTreeWidget* t : {m_calTree, m_bumpTree})
        t->installEventFilter(this);
}

QMenu* TLogPage::makePopup(const QString& name, int which, bool dockSpelling, bool tree)
{
    auto* menu = new QMenu(this);
    menu->setObjectName(name);
    auto add = [&](const char* suffix, const QString& text, std::function<void()> f) {
        QAction* a = menu->addAction(text);
        a->setObjectName(name + QLatin1String(suffix)); // the window's captions find it by name
        connect(a, &QAction::triggered, this, [f = std::move(f)] { f(); });
    };
    auto list = TLogBrowser::List(which);
    add("SelectAllListMenu", QStringLiteral("Select All List"),
        [this] { m_browser ? m_browser->SelectAllList(true) : void(); });
    add(dockSpelling ? "UnselectAllListMenu" : "UnselectAllListMenu",
        dockSpelling && which == TLogBrowser::ListDock ? QStringLiteral("UnSelect All List")
                                                       : QStringLiteral("Unselect All List"),
        [this] { m_browser ? m_browser->SelectAllList(false) : void(); });
    add("SelectAllMenu", QStringLiteral("Select All"),
        [this, list] { m_browser ? m_browser->SelectAll(list, true) : void(); });
    add(dockSpelling ? "UnSelectAllMenu" : "UnselectAllMenu", QStringLiteral("UnSelect All"),
        [this, list] { m_browser ? m_browser->SelectAll(list, false) : void(); });
    QWidget* view = which == TLogBrowser::ListDock    ? static_cast<QWidget*>(m_dockList)
                    : which == TLogBrowser::ListEvent ? static_cast<QWidget*>(m_eventList)
                    : which == TLogBrowser::ListCal   ? static_cast<QWidget*>(m_calTree)
                                                      : static_cast<QWidget*>(m_bumpTree);
    if (tree) {
        auto* t = static_cast<QTreeWidget*>(view);
        add("CollapseMenu", QStringLiteral("Collapse"), [t] { t->collapseAll(); });
        add("ExpandeMenu", QStringLiteral("Expand"), [t] { t->expandAll(); });
    }
    add("SetLogDestMenu", QStringLiteral("Set Log Destination"),
        [this] { m_browser ? void(m_browser->SetLogDestination()) : void(); });
    connect(view, &QWidget::customContextMenuRequested, this, [menu, view](const QPoint& pos) {
        auto* area = qobject_cast<QAbstractScrollArea*>(view);
        menu->popup((area ? area->viewport() : view)->mapToGlobal(pos));
    });
    return menu;
}

void TLogPage::attach(TMainCore& core)
{
    m_core = &core;
    m_browser = std::make_unique<TLogBrowser>(core);
    m_browser->Changed = [this](int parts) { onChanged(parts); };
    m_browser->ShowReport = [this](const QString& file) {
        // The "Report" page of the window, when there is one, shows it at once.
        if (auto* viewer = qobject_cast<QTextBrowser*>(windowChild("ReportHtmlViewer")))
            TReportPage::LoadReport(viewer, file);
        emit reportReady(file);
    };

    connect(m_refresh, &QPushButton::clicked, this, [this] { m_browser->LogListBtnRefreshClick(); });
    connect(m_save, &QPushButton::clicked, this, [this] {
        m_core->LogListBtnSaveClick();
        syncButtons();
    });
    connect(m_load, &QPushButton::clicked, this, [this] { m_browser->LogResLoadBtnClick(); });

    connect(m_eventList, &QListWidget::currentRowChanged, this,
            [this](int row) { m_browser->LogListGDEventListClick(row); });
    // Plain variables rather than structured bindings: clang 14 cannot capture those.
    for (const auto& entry : {std::pair{m_dockList, int(TLogBrowser::ListDock)},
                              std::pair{m_eventList, int(TLogBrowser::ListEvent)}}) {
        QListWidget* const list = entry.first;
        const int which = entry.second;
        connect(list, &QListWidget::itemChanged, this, [this, list, which](QListWidgetItem* item) {
            if (!m_syncing)
                m_browser->SetChecked(TLogBrowser::List(which), list->row(item), -1,
                                      item->checkState() == Qt::Checked);
        });
    }
    for (const auto& entry : {std::pair{m_calTree, int(TLogBrowser::ListCal)},
                              std::pair{m_bumpTree, int(TLogBrowser::ListBump)}}) {
        QTreeWidget* const tree = entry.first;
        const int which = entry.second;
        connect(tree, &QTreeWidget::itemChanged, this,
                [this, which](QTreeWidgetItem* item, int) { onTreeItemChanged(item, which); });
        connect(tree, &QTreeWidget::itemClicked, this,
                [this, tree, which](QTreeWidgetItem*, int) { showResultOf(tree, which); });
        connect(tree, &QTreeWidget::itemDoubleClicked, this, [this, tree, which](QTreeWidgetItem* item, int) {
            QTreeWidgetItem* parent = item->parent();
            if (!parent)
                return;
            m_browser->ToggleResultNode(TLogBrowser::List(which), tree->indexOfTopLevelItem(parent),
                                        parent->indexOfChild(item));
        });
    }
    connect(m_lastTree, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* item, int) {
        if (QTreeWidgetItem* parent = item->parent())
            m_browser->LogListLastTreeViewClick(m_lastTree->indexOfTopLevelItem(parent),
                                                parent->indexOfChild(item));
    });
    // The detail pane follows the selection, by mouse or by keyboard, and is empty
    // on the tabs that have no detail to show.
    connect(m_calTree, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
        if (!m_syncing && item && item->parent())
            showResultOf(m_calTree, TLogBrowser::ListCal);
    });
    connect(m_bumpTree, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
        if (!m_syncing && item && item->parent())
            showResultOf(m_bumpTree, TLogBrowser::ListBump);
    });
    connect(m_lastTree, &QTreeWidget::currentItemChanged, this, [this] { showDetailOfTab(); });
    connect(m_tabs, &QTabWidget::currentChanged, this, [this] { showDetailOfTab(); });
    connect(m_dockList, &QListWidget::itemDoubleClicked, this,
            [this](QListWidgetItem* item) { showDockLog(item->text()); });
    onChanged(TLogBrowser::PartLists | TLogBrowser::PartEvents | TLogBrowser::PartResult |
              TLogBrowser::PartCurrent);
}

QWidget* TLogPage::windowChild(const char* name) const
{
    QWidget* top = window();
    return top ? top->findChild<QWidget*>(QLatin1String(name)) : nullptr;
}

void TLogPage::showLogList(const TUnitDef&)
{
    if (m_browser)
        m_browser->DisplayLogList();
}

void TLogPage::clear()
{
    if (m_browser)
        m_browser->Clear();
}

void TLogPage::onChanged(int parts)
{
    if (parts & TLogBrowser::PartLists) {
        syncList(m_dockList, TLogBrowser::ListDock);
        syncList(m_eventList, TLogBrowser::ListEvent);
        syncTree(m_calTree, TLogBrowser::ListCal);
        syncTree(m_bumpTree, TLogBrowser::ListBump);
    }
    if (parts & TLogBrowser::PartEvents)
        syncEvents();
    if (parts & TLogBrowser::PartResult)
        syncResult();
    if (parts & TLogBrowser::PartCurrent)
        syncCurrent();
    syncButtons();
}

void TLogPage::syncButtons()
{
    if (!m_core)
        return;
    m_save->setEnabled(m_core->LogListBtnSaveEnabled);
    if (QWidget* make = windowChild("LogListBtnMake"))
        make->setEnabled(m_browser->LogListBtnMakeEnabled);
}

void TLogPage::syncList(QListWidget* list, int which)
{
    const QVector<RLogRow>& rows =
        which == TLogBrowser::ListDock ? m_browser->LogListDockList : m_browser->LogListGDEventList;
    m_syncing = true;
    const QSignalBlocker block(list);
    if (list->count() != rows.size()) {
        list->clear();
        const QIcon icon = style()->standardIcon(QStyle::SP_FileIcon);
        for (const RLogRow& r : rows) {
            auto* item = new QListWidgetItem(r.mCaption, list);
            item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
            if (which == TLogBrowser::ListDock)
                item->setIcon(icon);
        }
    }
    for (int i = 0; i < rows.size(); ++i) {
        QListWidgetItem* item = list->item(i);
        item->setText(rows[i].mCaption);
        item->setCheckState(rows[i].mChecked ? Qt::Checked : Qt::Unchecked);
    }
    m_syncing = false;
}

void TLogPage::syncTree(QTreeWidget* tree, int which)
{
    const QVector<RInstrumentNode>& nodes =
        which == TLogBrowser::ListCal ? m_browser->LogListGDCalTreeView : m_browser->LogListGDBumpTreeView;
    m_syncing = true;
    const QSignalBlocker block(tree);
    bool same = tree->topLevelItemCount() == nodes.size();
    for (int p = 0; same && p < nodes.size(); ++p)
        same = tree->topLevelItem(p)->childCount() == nodes[p].mChildren.size() &&
               tree->topLevelItem(p)->text(0) == nodes[p].mText;
    if (!same) {
        tree->clear();
        for (const RInstrumentNode& n : nodes) {
            auto* top = new QTreeWidgetItem(tree, {n.mText});
            top->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
            for (int c = 0; c < n.mChildren.size(); ++c) {
                auto* child = new QTreeWidgetItem(top);
                child->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
            }
        }
        tree->expandAll();
    }
    for (int p = 0; p < nodes.size(); ++p)
        for (int c = 0; c < nodes[p].mChildren.size(); ++c) {
            const RResultNode& r = nodes[p].mChildren[c];
            QTreeWidgetItem* item = tree->topLevelItem(p)->child(c);
            item->setText(0, r.mText);
            item->setIcon(0, resultIcon(r.mImage));
            item->setCheckState(0, r.mChecked ? Qt::Checked : Qt::Unchecked);
        }
    m_syncing = false;
}

void TLogPage::onTreeItemChanged(QTreeWidgetItem* item, int which)
{
    if (m_syncing || !item->parent())
        return;
    QTreeWidget* tree = item->treeWidget();
    m_browser->SetChecked(TLogBrowser::List(which), tree->indexOfTopLevelItem(item->parent()),
                          item->parent()->indexOfChild(item), item->checkState(0) == Qt::Checked);
}

void TLogPage::showResultOf(QTreeWidget* tree, int which)
{
    QTreeWidgetItem* item = tree->currentItem();
    if (!item || !item->parent())
        return;
    m_browser->DisplayDockTest(which == TLogBrowser::ListCal ? TEST_KIND_CAL : TEST_KIND_BUMP,
                               tree->indexOfTopLevelItem(item->parent()), item->parent()->indexOfChild(item));
}

void TLogPage::showDetailOfTab()
{
    if (m_syncing || !m_browser)
        return;
    QWidget* tab = m_tabs->currentWidget();
    const QString name = tab ? tab->objectName() : QString();
    // The dock logs and the events have no result to show: the pane stays empty
    // (the result chosen last stays the Print page's).
    const bool detail = name != QLatin1String("LogListDockTS") && name != QLatin1String("LogListGDEventTS");
    m_resultTree->setVisible(detail);
    QTreeWidgetItem* item = nullptr;
    if (name == QLatin1String("LogListGDCalTS") || name == QLatin1String("LogListGDBumpTS")) {
        QTreeWidget* tree = name == QLatin1String("LogListGDCalTS") ? m_calTree : m_bumpTree;
        item = tree->currentItem();
        if (item && item->parent()) {
            showResultOf(tree, tree == m_calTree ? TLogBrowser::ListCal : TLogBrowser::ListBump);
            return;
        }
    } else if (name == QLatin1String("LogListLastTS")) {
        item = m_lastTree->currentItem();
        if (item && item->parent() && item->parent()->indexOfChild(item) < 2) {
            m_browser->LogListLastTreeViewClick(m_lastTree->indexOfTopLevelItem(item->parent()),
                                                item->parent()->indexOfChild(item));
            return;
        }
    }
}

void TLogPage::showDockLog(const QString& name)
{
    // The staged copy of the dock's log, shown as it is and never changed.
    const QString path = AppState::TransferFolder() + SAVE_DIR_LOG_DOCK + name;
    QFile f(path);
    QString text;
    constexpr qint64 kMaxShown = 16 * 1024 * 1024;
    if (!IsSafeLogFileName(name) || !f.open(QIODevice::ReadOnly))
        text = LangText(907).arg(QDir::toNativeSeparators(path));
    else
        text = DecodeConfigText(f.read(kMaxShown));
    QDialog dlg(this);
    dlg.setObjectName(QStringLiteral("DockLogViewer"));
    dlg.setWindowTitle(LangText(906) + QStringLiteral(" - ") + name);
    auto* layout = new QVBoxLayout(&dlg);
    auto* view = new QPlainTextEdit(&dlg);
    view->setObjectName(QStringLiteral("DockLogViewerText"));
    view->setReadOnly(true);
    view->setLineWrapMode(QPlainTextEdit::NoWrap);
    view->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    view->setPlainText(text);
    layout->addWidget(view);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, &dlg);
    connect(buttons, &QDialogButtonBox::rejected, &dlg, &QDialog::reject);
    layout->addWidget(buttons);
    const QRect avail = screen() ? screen()->availableGeometry() : QRect(0, 0, 1024, 640);
    dlg.resize(std::min(900, avail.width() * 9 / 10), std::min(600, avail.height() * 9 / 10));
    if (OpenDockLog)
        OpenDockLog(&dlg);
    else
        dlg.exec();
}

bool TLogPage::eventFilter(QObject* watched, QEvent* event)
{
    // Releasing Up or Down in a result tree shows the node it moved to.
    if (event->type() == QEvent::KeyRelease && (watched == m_calTree || watched == m_bumpTree)) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Up || key == Qt::Key_Down)
            showResultOf(static_cast<QTreeWidget*>(watched),
                         watched == m_calTree ? TLogBrowser::ListCal : TLogBrowser::ListBump);
    }
    return QWidget::eventFilter(watched, event);
}

void TLogPage::syncEvents()
{
    const QVector<QStringList>& rows = m_browser->LogListGDEventGrid;
    // One empty row below the header when there is nothing to show.
    m_eventGrid->setRowCount(std::max(1, int(rows.size())));
    m_eventGrid->clearContents();
    for (int r = 0; r < rows.size(); ++r)
        for (int c = 0; c < 5; ++c)
            m_eventGrid->setItem(r, c, new QTableWidgetItem(rows[r].value(c)));
}

void TLogPage::syncResult()
{
    m_resultTree->clear();
    for (const RPanelNode& n : m_browser->LogResTestTreeView) {
        auto* top = new QTreeWidgetItem(m_resultTree, {n.mText});
        for (const QString& c : n.mChildren)
            new QTreeWidgetItem(top, {c});
    }
    m_resultTree->expandAll();
    for (const char* name : {"PrintResPrintBtn", "PrintResPdfBtn"})
        if (QWidget* print = windowChild(name))
            print->setVisible(m_browser->PrintResPrintBtnVisible);
    if (QWidget* image = windowChild("PrintViewImage"))
        if (!m_browser->PrintViewImageVisible)
            image->hide();
}

void TLogPage::retranslate()
{
    m_lastNote->setText(LangText(m_browser->LogListLastTreeView.isEmpty() ? 901 : 900));
}

void TLogPage::syncCurrent()
{
    retranslate();
    m_lastTree->setVisible(!m_browser->LogListLastTreeView.isEmpty());
    m_lastTree->clear();
    for (const RInstrumentNode& n : m_browser->LogListLastTreeView) {
        auto* top = new QTreeWidgetItem(m_lastTree, {n.mText});
        for (const RResultNode& c : n.mChildren) {
            auto* child = new QTreeWidgetItem(top, {c.mText});
            child->setIcon(0, resultIcon(c.mImage));
        }
    }
    m_lastTree->expandAll();
}
