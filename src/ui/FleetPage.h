#pragma once
// The "Fleet" tab: every instrument of the fleet index with its status colour, due
// dates, alarms and reason; filter by status, gas and dock, search by serial, sort by
// any column, counts per status on top. Double-click opens the instrument's history.
#include <QDialog>
#include <QWidget>

#include "fleet/FleetStatus.h"

class AppState;
class QComboBox;
class QLabel;
class QLineEdit;
class QStandardItemModel;
class QTabWidget;
class QTableView;
class TPrintPage;
class TFleetFilter;

struct RFleetSiteStatusRow;

class TFleetPage : public QWidget {
    Q_OBJECT
public:
    TFleetPage(AppState& state, TPrintPage* printPage, QWidget* parent = nullptr);
    // Makes the page and adds it as the last tab of `tabs`.
    static TFleetPage* AddTo(QTabWidget* tabs, AppState& state, TPrintPage* printPage);

    // Reads the index again (the rows, counts and filters' choices).
    void refresh();
    // Refreshes when an update of the index happened since the last refresh.
    void refreshIfChanged();
    // Opens the history of one instrument (also on double-click).
    QDialog* showHistory(const QString& serial);

    QTableView* table() const { return m_table; }
    QLabel* countsLabel() const { return m_counts; }
    int visibleRows() const;

    // "This PC" (the local index) or "All sites" (the central server, read off the
    // window's thread; the page says so while it reads and when it cannot).
    enum Source { ThisPc = 0, AllSites = 1 };
    void setSource(Source s);
    Source source() const;
    bool reading() const { return m_reading > 0; }
    QLabel* messageLabel() const { return m_message; }
    QLabel* pushLabel() const { return m_push; }
    // "Last pushed ..." and what waits in the outbox, when a server is set.
    void refreshPushState();
    // Every caption in the window's language (the page is made before the language
    // is loaded, and the language may change).
    void retranslate();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void applyFilter();
    void readAllSites();
    void showRows(const QVector<RFleetSiteStatusRow>& rows, bool withSites);
    void showMessage(const QString& text, bool problem);
    void openResult(const QString& storePath);
    AppState& m_state;
    TPrintPage* m_printPage;
    QTabWidget* m_tabs = nullptr;
    QLabel* m_counts;
    QLabel* m_message;
    QLabel* m_push;
    QComboBox* m_source;
    QVector<QPair<QLabel*, int>> m_captions; // filter labels and their language texts
    QComboBox* m_status;
    QComboBox* m_gas;
    QComboBox* m_dock;
    QLineEdit* m_search;
    QTableView* m_table;
    QStandardItemModel* m_model;
    TFleetFilter* m_proxy;
    int m_generation = -1;
    int m_reading = 0;   // reads of the server under way
    int m_request = 0;   // the latest read; an older one's rows are dropped
};

// Text of a status in the window's language.
QString FleetStatusCaption(FleetStatus s);
// A reason in the window's language.
QString FleetReasonCaption(const RFleetReason& r);
