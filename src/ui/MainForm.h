#pragma once
// The main window: pages, bottom bar, Config page bound to the application
// state, language captions, service levels and the closing rules.
#include <QMainWindow>
#include <QPointer>
#include <memory>

#include "app/AppState.h"

namespace Ui {
class TMainForm;
}
class QMenu;
class QTableWidget;
class QTableWidgetItem;
class QButtonGroup;
class QtOperatorPort;
class TMainCore;
class TDockPage;
class TGDPage;
class TLogPage;
class TReportPage;
class TPrintPage;
class QLabel;
class QPushButton;
class TServiceCommands;
class TAutoModeView;
class TReadOriginView;

class TMainForm : public QMainWindow {
    Q_OBJECT
public:
    // Without a state the window makes its own. A state without an operator port
    // gets the window's; one that has a port keeps it for messages and questions.
    explicit TMainForm(AppState* state = nullptr, QWidget* parent = nullptr);
    ~TMainForm() override;

    AppState& state() { return *m_state; }
    TMainCore& core() { return *m_core; }
    TServiceCommands& service() { return *m_service; }
    TAutoModeView& autoView() { return *m_autoView; }
    QtOperatorPort& qtPort() { return *m_port; }
    TPrintPage* printPage() const { return m_printPage; }

    // The one-time start-up sequence; runs on the first show, callable earlier.
    void StartUp();
    bool startedUp() const { return m_started; }

    void InitLang();
    void InitComponent();

    // Settings controls <-> AppState.settings, schedule and tester grid.
    void pushSettings();
    void pullSettings();
    void pullSettingValues();
    void onSettingEdited();

    int serviceLevel() const { return m_serviceLevel; }
    void applyServiceLevel(int level);

    void SetStatus(const QString& text, OperatorPort::StatusLook look);

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void setupWidgets();
    void connectSignals();
    void makeBanner();
    void fitScheduleGrid();
    void applyCaptions();
    void setObjectCaption(QObject* obj, const QString& text);
    void setGridCaption(QTableWidget* grid, int col, int row, const QString& text);
    void setComboCaptions(QObject* obj, const QVector<int>& texts);

    // Tester grid: a view of AppState.testerGrid; its header is grid row 0.
    void refreshTesterGrid();
    void commitGridEditor(QTableWidget* grid);
    void takeOverTesterGrid(); // grid edits -> testerGrid
    void testerDataLoad();
    void testerDataSave();
    void refreshPrintUserCombo();
    void onTesterCellChanged(int row, int col);
    void onTesterCurrentCellChanged(int row);
    void setupTesterButtons();
    void onTesterInsert();
    void onTesterDelete();

    // Schedule grid: rows 1..4 are table rows 0..3; column 0 holds the time pickers.
    void refreshScheduleGrid();
    void onScheduleDoubleClick(int row, int col);
    void onSchedulePickerChanged(int n);

    void onCfgPageChanged(int index);
    void onConfigPageChanged(int index);
    void onLanguageChange();
    void onFontChange();
    void onMakeLanguageFile();

    OperatorPort& messages();

    // Dock operations and the link choice.
    void setupOperations();
    void refreshConnection();
    void onLinkRadio();
    void rememberWindowChoices();
    void restoreWindowChoices();
    QWidget* named(const char* name) const;
    // The service page, the History page's serial-number panel and "PC Operation".
    void setupService();
    void pullService();
    void pushService();
    void onPCOpBtnClick();

    std::unique_ptr<Ui::TMainForm> ui;
    std::unique_ptr<AppState> m_ownState;
    AppState* m_state = nullptr;
    std::unique_ptr<QtOperatorPort> m_port;
    QMenu* m_popupConfigSet = nullptr;
    QButtonGroup* m_dateGroup = nullptr;
    QPointer<QWidget> m_cfgPagePrev;
    QPointer<QWidget> m_configPagePrev;
    bool m_started = false;
    bool m_refused = false; // the transfer folder was refused at start-up
    bool m_pushing = false;   // widgets are being filled from the state
    bool m_gridFilling = false;
    int m_serviceLevel = 0;
    std::unique_ptr<TMainCore> m_core;
    TDockPage* m_dockPage = nullptr;
    TGDPage* m_gdPage = nullptr;
    TLogPage* m_logPage = nullptr;
    TReportPage* m_reportPage = nullptr;
    TPrintPage* m_printPage = nullptr;
    QLabel* m_rtcLabel = nullptr;
    QPushButton* m_testerInsertBtn = nullptr;
    QPushButton* m_testerDeleteBtn = nullptr;
    std::unique_ptr<TServiceCommands> m_service;
    TAutoModeView* m_autoView = nullptr;
    TReadOriginView* m_readOrigin = nullptr;
    class TFleetServerBox* m_fleetBox = nullptr;
    class TFleetPage* m_fleetPage = nullptr;
};
