#pragma once
// The bay task monitor of the "PC Operation" dialog: what the dock and its four
// bays are doing, the last results and the gas curves, read over the USB cable.
// The dialog and the command line mirror this model; it never touches a widget.
//
// The monitoring loop is a timer-driven pass: each pass serves the one request
// waiting in FBtn and, while polling is on, reads the task status once a second.
// A press during a pass only overwrites FBtn, so of two presses the last wins.
#include <QElapsedTimer>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <array>
#include <cstdint>
#include <functional>
#include <limits>

#include "link/UnitDef.h"

class TDockComm;

inline constexpr uint32_t MAX_LIFE_MONTH = 24;
inline constexpr uint32_t MAX_MONTH = 2628000; // seconds in a month of 30.4166 days
inline constexpr uint32_t MAX_DAY = 86400;

// Request tags of the dialog's buttons.
enum : uint8_t {
    MONITOR_BTN_OPERATION = 1,
    MONITOR_BTN_STATUS = 2,
    MONITOR_BTN_RESULT = 3,
    MONITOR_BTN_LOG = 4,
    MONITOR_BTN_FLOWON = 5,
    MONITOR_BTN_FLOWOFF = 6,
    MONITOR_BTN_SAVERESULT = 7,
    MONITOR_BTN_SAVELOG = 8,
};

// Texts of the record fields.
QString TaskStatusText(uint8_t status);
QString BayStatusText(uint8_t status);
QString PCCommandText(uint8_t cmd);
QString TestTypeText(uint8_t type);
QString GetTestResult(uint8_t code);
QString SensorTypeText(uint8_t type);
QString GetSGDLifeRemain(uint32_t s);
// " [b5 b4 b7 b6]" of an LED test result byte.
QString LedBitsSuffix(uint8_t led);
// The remaining-life clock: empty up to 1000 s.
QString RemainLifeRtcText(uint32_t seconds);
// The actions of BtnTestOpCombo; the code sent is the index + 2.
QStringList MonitorActionCaptions();

// What the window shows: the texts above (kept English for the saved CSV files) in the
// chosen language. A word of the tables above takes its language text, a LED result
// keeps its bits; numbers, names and signs stay as they are.
QString ShownMonitorText(const QString& english);
// The row labels of the result table, the column heads of the curve table and the
// actions of BtnTestOpCombo as the window shows them.
QString ShownResultLabel(int row);
QString ShownLogHeader(int column);
QStringList ShownActionCaptions();

// How a bay's tile looks.
enum class BayLook { Idle, Running, Pass, Error };
BayLook BayStatusLook(uint8_t status);

class TTaskMonitor {
public:
    static constexpr int RES_ROWS = 29, RES_COLS = 5;
    static constexpr int LOG_ROWS = 126, LOG_COLS = 9;

    explicit TTaskMonitor(TDockComm& comm);
    ~TTaskMonitor();

    // ---- displays ----
    QString ResTestGrid[RES_ROWS][RES_COLS];
    QString ResLogGrid[LOG_ROWS][LOG_COLS];
    QString TaskStatusLabel;
    bool TaskUsbKnown = false; // a status was read
    bool TaskUsb = false;      // the dock's USB flag
    // The USB link as the last request found it: the port open and the dock answering,
    // open but silent, or closed (the port is gone).
    enum class Link { Open, Silent, Closed };
    Link LinkState = Link::Open;
    struct BayDisplay {
        QString status, step, timer;
        uint8_t code = 0;
        bool known = false;
    };
    std::array<BayDisplay, 4> Bays;
    int BtnTestOpComboIndex = 5; // "Bump Test"
    QString ShownTab;            // "Result" or "Logging Data"

    // Button states the dialog mirrors.
    bool StartEnabled = true, CloseEnabled = true, StopEnabled = false;
    bool PanelEnabled = false, SaveEnabled = false;
    bool FlowOnEnabled = true, FlowOffEnabled = false;

    // ---- state ----
    bool FTest = false;
    uint8_t FBtn = 0;
    bool Polling() const { return m_nextPollMs != kNever; }

    // ShowDlg's fixed texts of both tables.
    void FillFixedTexts();
    // "Start": runs the loop until Stop(); returns at once, the passes run from a timer.
    void TestStart();
    void Stop() { FTest = false; }
    void Press(uint8_t tag) { FBtn = tag; }
    // One pass of the loop (the timer calls it).
    void Pass();

    // Requests, as the loop serves them.
    bool GetTaskStatus();
    bool GetTaskResult();
    int GetTaskLog(); // columns filled
    // Decoding of the records into the displays.
    void ApplyStatus(const RTask& task, uint8_t usb, const RBayTaskArr& bays);
    void ApplyResult(const RBayResArr& res, const RGDInfoArr& gd);
    void ApplyLog(int bay, int kind, const RLogInfo& log);
    void ClearResultCells();

    // The CSV texts as they are saved (CR LF, ANSI).
    QByteArray ResultCsv() const;
    QByteArray LogCsv() const;
    // Saved under ProgramFolder + "LOG/", or LogDestination + "LOG/" when that cannot be
    // written. Returns the full path, empty when neither worked.
    QString ProgramFolder;
    QString LogDestination;
    QString SaveResult();
    QString SaveLog();

    // Traffic log boxes.
    void SetLogRead(bool on);
    void SetLogSend(bool on);

    // Curves of one column (mCnt values), for the chart.
    QVector<int> Curve(int column) const;

    // Notifications.
    std::function<void()> Changed;               // displays or button states changed
    std::function<void(const QString&)> LogLine; // a line for LogMemo
    std::function<void()> StatusRead;            // a status was shown
    std::function<void()> LogRead;               // the curves were read
    std::function<void()> LoopEnded;

    int PassIntervalMs = 50;
    int PollIntervalMs = 1000;

private:
    static constexpr qint64 kNever = std::numeric_limits<qint64>::max();
    void notify()
    {
        if (Changed)
            Changed();
    }
    void log(const QString& s)
    {
        if (LogLine)
            LogLine(s);
    }
    void endLoop();
    QString saveFile(const QString& prefix, const QByteArray& content);
    bool linkAlive() const;
    void answered(bool ok); // LinkState after a request

    TDockComm& m_comm;
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_nextPollMs = kNever;
    bool m_inPass = false;
};
