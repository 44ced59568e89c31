#include "LogPage.h"

#include <QDateTime>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLocale>
#include <QPushButton>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "link/UnitDef.h"

namespace {

struct TabDef {
    const char* tabName;
    const char* listName;
    const char* caption;
    uint8_t kind;
};
// Tabs in the order of the page: dock logs, events, calibrations, bump tests, current.
const TabDef kTabs[] = {{"LogListDockTS", "LogListDockList", "Dock", UNIT_OPT_DOCK},
                        {"LogListGDEventTS", "LogListGDEventList", "Event", UNIT_OPT_GDEVENT},
                        {"LogListGDCalTS", "LogListGDCalTree", "Calibration", UNIT_OPT_GDCAL},
                        {"LogListGDBumpTS", "LogListGDBumpTree", "Bump", UNIT_OPT_GDBUMP},
                        {"LogListLastTS", "LogListLastList", "Current", 0}};

} // namespace

TLogPage::TLogPage(QWidget* parent) : QWidget(parent)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* buttons = new QHBoxLayout;
    m_refresh = new QPushButton(QStringLiteral("Refresh Log"), this);
    m_refresh->setObjectName(QStringLiteral("LogListBtnRefresh"));
    m_save = new QPushButton(QStringLiteral("Save Log"), this);
    m_save->setObjectName(QStringLiteral("LogListBtnSave"));
    m_save->setEnabled(false);
    m_purge = new QPushButton(QStringLiteral("Start Purge"), this);
    m_purge->setObjectName(QStringLiteral("LogListBtnPurge"));
    buttons->addWidget(m_refresh);
    buttons->addWidget(m_save);
    buttons->addWidget(m_purge);
    buttons->addStretch();
    layout->addLayout(buttons);

    m_tabs = new QTabWidget(this);
    m_tabs->setObjectName(QStringLiteral("LogListPage"));
    int i = 0;
    for (const TabDef& def : kTabs) {
        auto* page = new QWidget(m_tabs);
        page->setObjectName(QLatin1String(def.tabName));
        auto* pl = new QVBoxLayout(page);
        auto* list = new QTreeWidget(page);
        list->setObjectName(QLatin1String(def.listName));
        list->setRootIsDecorated(false);
        list->setHeaderLabels({QStringLiteral("Name"), QStringLiteral("Serial"),
                               QStringLiteral("Date"), QStringLiteral("Size"),
                               QStringLiteral("Copied")});
        list->header()->setSectionResizeMode(0, QHeaderView::Stretch);
        pl->addWidget(list);
        m_tabs->addTab(page, QLatin1String(def.caption));
        m_lists[i++] = list;
    }
    layout->addWidget(m_tabs, 1);
}

void TLogPage::clear()
{
    for (QTreeWidget* list : m_lists)
        list->clear();
}

void TLogPage::showLogList(const TUnitDef& unit)
{
    clear();
    const QLocale loc;
    for (const RUnitLogList& e : unit.FLogList) {
        int tab = -1;
        for (int i = 0; i < 4; ++i)
            if (kTabs[i].kind == e.mOpt)
                tab = i;
        if (tab < 0)
            continue;
        const QString date =
            e.mDate > 0 ? loc.toString(DaysToDateTime(e.mDate), QLocale::ShortFormat) : QString();
        auto* item = new QTreeWidgetItem(
            m_lists[tab], {QFileInfo(e.mName).fileName(), e.mAliasName, date,
                           loc.formattedDataSize(e.mSize), e.mExists ? QStringLiteral("yes")
                                                                      : QStringLiteral("no")});
        item->setToolTip(0, e.mName);
    }
}
