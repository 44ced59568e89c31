#pragma once
// The "LOG" page: the log browser's lists, trees, event grid, "Current" tree and
// result panel, mirroring TLogBrowser. The page owns the browser of its core.
#include <QWidget>
#include <functional>
#include <memory>

class QDialog;
class QLabel;
class QListWidget;
class QMenu;
class QPushButton;
class QTabWidget;
class QTableWidget;
class QTreeWidget;
class QTreeWidgetItem;
class TLogBrowser;
class TMainCore;
class TUnitDef;

class TLogPage : public QWidget {
    Q_OBJECT
public:
    // Inside the main window: the page takes the window's core.
    explicit TLogPage(QWidget* parent = nullptr);
    TLogPage(TMainCore& core, QWidget* parent = nullptr);
    ~TLogPage() override;

    TLogBrowser* browser() const { return m_browser.get(); }

    // Read's hooks: fills the lists from the unit's log list / empties them.
    void showLogList(const TUnitDef& unit);
    void clear();

    // The texts the page writes itself, again after a language change.
    void retranslate();

    QPushButton* refreshButton() const { return m_refresh; }
    QPushButton* saveButton() const { return m_save; }
    // "Start Purge" is connected by the owner of the page.
    QPushButton* purgeButton() const { return m_purge; }
    QPushButton* loadButton() const { return m_load; }
    // Shows the read-only viewer of a dock log; replaceable so that tests need not block.
    std::function<void(QDialog*)> OpenDockLog;
    void showDockLog(const QString& name);

signals:
    // Save Log wrote this report; the "Report" page shows it.
    void reportReady(const QString& file);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void build();
    void attach(TMainCore& core);
    void onChanged(int parts);
    void syncList(QListWidget* list, int which);
    void syncTree(QTreeWidget* tree, int which);
    void syncEvents();
    void syncResult();
    void syncCurrent();
    void syncButtons();
    QMenu* makePopup(const QString& name, int which, bool dockSpelling, bool tree);
    void onTreeItemChanged(QTreeWidgetItem* item, int which);
    void showResultOf(QTreeWidget* tree, int which);
    QWidget* windowChild(const char* name) const;
    void showDetailOfTab();

    std::unique_ptr<TLogBrowser> m_browser;
    TMainCore* m_core = nullptr;
    bool m_syncing = false;
    QTabWidget* m_tabs = nullptr;
    QListWidget* m_dockList = nullptr;
    QListWidget* m_eventList = nullptr;
    QTableWidget* m_eventGrid = nullptr;
    QTreeWidget* m_calTree = nullptr;
    QTreeWidget* m_bumpTree = nullptr;
    QTreeWidget* m_lastTree = nullptr;
    QLabel* m_lastNote = nullptr;
    QTreeWidget* m_resultTree = nullptr;
    QPushButton* m_refresh = nullptr;
    QPushButton* m_save = nullptr;
    QPushButton* m_purge = nullptr;
    QPushButton* m_load = nullptr;
};
