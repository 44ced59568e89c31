#pragma once
// The "LOG" page as far as the dock operations need it: the logs the last Read
// brought, by kind, and the buttons of the page. The full log browser grows here.
#include <QWidget>

class QPushButton;
class QTabWidget;
class QTreeWidget;
class TUnitDef;

class TLogPage : public QWidget {
    Q_OBJECT
public:
    explicit TLogPage(QWidget* parent = nullptr);

    // Lists the unit's log list in the four kind tabs.
    void showLogList(const TUnitDef& unit);
    void clear();

    QPushButton* refreshButton() const { return m_refresh; }
    QPushButton* saveButton() const { return m_save; }
    QPushButton* purgeButton() const { return m_purge; }

private:
    QTabWidget* m_tabs = nullptr;
    QTreeWidget* m_lists[5] = {};
    QPushButton* m_refresh = nullptr;
    QPushButton* m_save = nullptr;
    QPushButton* m_purge = nullptr;
};
