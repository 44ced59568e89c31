#pragma once
// The log browser of the "LOG" page without widgets: the dock-log and event lists,
// the calibration and bump trees with their check marks, the event grid, the result
// panel and the "Current" tree, with the rules that fill them. The page mirrors this
// model; the command line and the tests drive it directly.
#include <QString>
#include <QStringList>
#include <QVector>
#include <array>
#include <functional>

#include "app/MainCore.h"
#include "logview/EventLog.h"
#include "logview/TestResult.h"
#include "report/ReportStore.h"

// Result images (ImageResultList).
inline constexpr int RESULT_IMAGE_NONE = 0;
inline constexpr int RESULT_IMAGE_PASS = 1;
inline constexpr int RESULT_IMAGE_FAIL = 2;

// A row of the dock or event list.
struct RLogRow {
    QString mCaption;
    bool mChecked = true;
};

// A result node below an instrument node (also a line of the "Current" tree).
struct RResultNode {
    QString mText;
    bool mChecked = true;
    int mImage = RESULT_IMAGE_NONE;
};

// A top-level node of a tree.
struct RInstrumentNode {
    QString mText;
    QVector<RResultNode> mChildren;
};

// A node of the result panel with its children (the panel is two levels deep).
struct RPanelNode {
    QString mText;
    QStringList mChildren;
};

class TLogBrowser {
public:
    enum List { ListDock, ListEvent, ListCal, ListBump };
    // What changed, for the page: a combination of these.
    enum Part { PartLists = 1, PartEvents = 2, PartResult = 4, PartCurrent = 8 };

    // Installs itself as the core's log browser (the hooks ClearLogBrowser,
    // DisplayLogList and SaveLog); the destructor removes it again.
    explicit TLogBrowser(TMainCore& core);
    ~TLogBrowser();
    TLogBrowser(const TLogBrowser&) = delete;
    TLogBrowser& operator=(const TLogBrowser&) = delete;
    // The browser installed on a core, or null.
    static TLogBrowser* Of(const TMainCore& core);

    TMainCore& core;
    TReportStore store; // the alert store behind the "Current" tree

    QVector<RLogRow> LogListDockList;
    QVector<RLogRow> LogListGDEventList;
    QVector<RInstrumentNode> LogListGDCalTreeView;
    QVector<RInstrumentNode> LogListGDBumpTreeView;
    QVector<RInstrumentNode> LogListLastTreeView;
    QVector<RPanelNode> LogResTestTreeView;
    QVector<QStringList> LogListGDEventGrid; // data rows, 5 columns
    RDockTestPrt FLastReport;
    bool PrintResPrintBtnVisible = false;
    bool PrintViewImageVisible = false;
    bool LogListBtnMakeEnabled = false;

    std::function<void(int parts)> Changed;
    // The "Report" page shows this file.
    std::function<void(const QString& file)> ShowReport;
    // Renders a result for printing; without it the result is kept as it is.
    std::function<RDockTestPrt(uint8_t nType, const RDockTestInfo& info)> RenderResult;

    // Empties the lists, trees and the event grid (Read does this first).
    void Clear();
    // Fills the lists and trees from the unit's log list and the index arrays of the core.
    void DisplayLogList();
    // The event grid: every event of instrument sSN in the staging folder; blank clears it.
    void DrawGDEvent(const QString& sSN);
    void LogListGDEventListClick(int row); // -1: nothing selected

    // A result node (parent, child) of the calibration (1) or bump (2) tree.
    void DisplayDockTest(uint8_t nType, int parent, int child);
    // The result panel for a result of kind nType; kind 0 only clears it.
    void DisplayDockTestList(uint8_t nType, const RDockTestInfo& mLogInfo);
    static QVector<RPanelNode> ResultPanel(uint8_t nType, const RDockTestInfo& info,
                                           uint8_t nDateStyle);
    // The panel as text lines: top nodes, children indented by two blanks.
    static QStringList PanelLines(const QVector<RPanelNode>& panel);

    // "Load": asks for a file (through the operator port) and shows it. The kind
    // follows the file name (calibration when it holds "CAL").
    bool LogResLoadBtnClick();
    bool LoadResultFile(const QString& path);

    // "Current" tree from the store, and a click on one of its result lines.
    void MakeLastList();
    void LogListLastTreeViewClick(int parent, int child);

    // Check marks. Double-click toggles a result node (top-level nodes do nothing).
    void ToggleResultNode(List tree, int parent, int child);
    void SetChecked(List list, int row, int child, bool on); // child -1 for the lists
    // "Select All List" / "Unselect All List": every list and tree.
    void SelectAllList(bool on);
    // "Select All" / "UnSelect All": one list or tree (result nodes only).
    void SelectAll(List list, bool on);
    // "Set Log Destination".
    bool SetLogDestination();

    // "Refresh Log": reload and evaluate the store, rebuild "Current", show it.
    bool LogListBtnRefreshClick();

    QVector<int> CheckedDockRows() const;
    QVector<int> CheckedEventRows() const;
    QVector<RCheckedNode> CheckedResultNodes(List tree) const;

    QString EventSN() const { return m_eventSN; }

private:
    void notify(int parts)
    {
        if (Changed)
            Changed(parts);
    }
    void fillTree(QVector<RInstrumentNode>& tree, QVector<RLogGDIndex>& index, const QString& staging);
    QVector<RInstrumentNode>* tree(List list);
    uint8_t dateStyle() const;

    QString m_eventSN;
    // Result files behind the "Current" lines, captured when the tree was built.
    QVector<std::array<QString, 2>> m_lastFiles;
};

// The command line starts a new process for each command: this lists the logs the
// last Read left in the staging folders into the unit's log list, as Read had
// listed them (name, kind, serial, date). Returns the number of entries.
int RestoreLogListFromStaging(TUnitDef& unit);
