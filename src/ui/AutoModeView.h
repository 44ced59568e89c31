#pragma once
// The window's side of Auto mode: "Auto" and "Cancel", what a run disables and
// hides, the countdown in the progress bar and label, the report viewer, and the
// start a second after the window shows when the settings ask for it.
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <memory>

class QWidget;
class QTimer;
class TMainCore;
class TAutoMode;
class TReportPage;

class TAutoModeView : public QObject {
    Q_OBJECT
public:
    TAutoModeView(QWidget* window, TMainCore& core, TReportPage* reportPage);
    ~TAutoModeView() override;

    TAutoMode& autoMode() { return *m_auto; }
    // "Auto": the run begins 100 ms later, from the event loop.
    void OpAutoBtnClick();
    // "Start Auto Mode at startup": about a second after the window shows.
    void AutoStartIfSet();
    // A schedule or alert setting changed in the window.
    void SettingsEdited();
    // "Cancel": "Stopping ..." and the button off until the run has ended.
    void Stop();
    bool Stopping() const { return m_stopping; }
    // What would keep Auto mode from writing or mailing a report (empty: nothing).
    QStringList StartWarnings() const;

signals:
    void stopped(); // the run has ended and the window is usable again

private:
    void runState(bool on);
    QWidget* named(const char* name) const;

    QWidget* m_window;
    TMainCore& m_core;
    QPointer<TReportPage> m_reportPage;
    std::unique_ptr<TAutoMode> m_auto;
    QTimer* m_timer = nullptr;
    bool m_afterCheckWasEnabled = true;
    bool m_stopping = false;
    QString m_startWarning; // shown in the status panel once the run has begun
};
