#include "AutoModeView.h"

#include <QAbstractButton>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QSaveFile>
#include <QTabWidget>
#include <QTimer>

#include "ReportPage.h"
#include "app/AutoMode.h"
#include "app/MainCore.h"
#include "app/Reporting.h"
#include "lang/LangTable.h"

namespace {

void saveText(const QString& path, const QString& text)
{
    QSaveFile f(path);
    if (f.open(QIODevice::WriteOnly)) {
        f.write(text.toUtf8());
        f.commit();
    }
}

} // namespace

TAutoModeView::TAutoModeView(QWidget* window, TMainCore& core, TReportPage* reportPage)
    : QObject(window), m_window(window), m_core(core), m_reportPage(reportPage),
      m_auto(std::make_unique<TAutoMode>(core))
{
    m_timer = new QTimer(this);
    m_timer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, this, [this] {
        // A run that could not begin must not leave the window locked.
        if (!m_auto->Start() && !m_auto->Running())
            m_core.state.FAutoMode = false;
    });

    if (auto* b = qobject_cast<QAbstractButton*>(named("OpAutoBtn")))
        connect(b, &QAbstractButton::clicked, this, [this] { OpAutoBtnClick(); });
    if (auto* b = qobject_cast<QAbstractButton*>(named("OpAutoCancelBtn"))) {
        // Other uses of the button (a manual operation) are not Auto mode's business.
        connect(b, &QAbstractButton::clicked, this, [this] {
            if (m_auto->Running())
                Stop();
        });
        b->setEnabled(false);
    }

    m_auto->CountdownVisible = true;
    m_auto->OnRunState = [this](bool on) { runState(on); };
    m_auto->OnCountdown = [this](int pos, int max, const QString& label) {
        if (auto* bar = qobject_cast<QProgressBar*>(named("OpProgressBar"))) {
            bar->setMaximum(std::max(1, max));
            bar->setValue(std::clamp(pos, 0, std::max(1, max)));
        }
        if (auto* l = qobject_cast<QLabel*>(named("OpProgressLabel")); l && !m_stopping)
            l->setText(label);
    };
    m_auto->ShowReport = [this](const QString& file) {
        if (m_reportPage)
            m_reportPage->showReport(file);
    };
    m_auto->FlushLogs = [this](const QString& commFile, const QString& logFile, bool clear) {
        auto* comm = qobject_cast<QPlainTextEdit*>(named("DebugCommMemo"));
        auto* log = qobject_cast<QPlainTextEdit*>(named("DebugLogMemo"));
        if (!commFile.isEmpty() && comm)
            saveText(commFile, comm->toPlainText());
        if (!logFile.isEmpty() && log)
            saveText(logFile, log->toPlainText());
        if (clear) {
            if (comm)
                comm->clear();
            if (log)
                log->clear();
        }
    };
}

TAutoModeView::~TAutoModeView() = default;

QWidget* TAutoModeView::named(const char* name) const { return m_window->findChild<QWidget*>(QLatin1String(name)); }

QStringList TAutoModeView::StartWarnings() const
{
    QStringList warn;
    if (!TAutoMode::HasReportTime(m_core.state.FTimeSch))
        warn << LangText(890);
    const QStringList missing = MissingMailSettings(m_core.state);
    if (!missing.isEmpty())
        warn << LangText(891).arg(missing.join(QStringLiteral(", ")));
    return warn;
}

void TAutoModeView::OpAutoBtnClick()
{
    if (m_auto->Running() || m_core.state.FExe)
        return;
    // Said before the run, when the person can still mend it.
    const QStringList warn = StartWarnings();
    if (!warn.isEmpty() &&
        !m_core.port.askYesNo(warn.join(QStringLiteral("\n\n")) + QStringLiteral("\n\n") + LangText(892),
                              LangText(896)))
        return;
    m_startWarning = warn.join(QLatin1Char(' '));
    m_core.state.FAutoMode = true;
    m_timer->start(100);
}

void TAutoModeView::AutoStartIfSet()
{
    if (!m_core.state.settings.ConfigSetEtcAutoStartCheck)
        return;
    m_startWarning = StartWarnings().join(QLatin1Char(' ')); // nobody to ask: it stays on the panel
    m_core.state.FAutoMode = true;
    m_timer->start(1000);
}

void TAutoModeView::Stop()
{
    if (m_stopping)
        return;
    if (!m_auto->Running()) { // wanted but not begun yet: it never begins
        m_timer->stop();
        m_core.state.FAutoMode = false;
        emit stopped();
        return;
    }
    m_stopping = true;
    if (QWidget* b = named("OpAutoCancelBtn"))
        b->setEnabled(false);
    if (auto* l = qobject_cast<QLabel*>(named("OpProgressLabel")))
        l->setText(LangText(894));
    m_auto->OpAutoCancelBtnClick();
}

void TAutoModeView::SettingsEdited() { m_auto->SettingsEdited(); }

void TAutoModeView::runState(bool on)
{
    auto enable = [this](const char* name, bool e) {
        if (QWidget* w = named(name))
            w->setEnabled(e);
    };
    for (const char* n : {"OpDevicePage", "ConfigSendEmailSvrTestBtn", "DebugOpPanel", "OpAutoBtn", "OpReadBtn",
                          "GDOpPanel", "LogListBtnRefresh", "LogListBtnPurge"})
        enable(n, !on);
    enable("OpWriteBtn", !on && m_core.FReadOrigin.valid); // only values read from a dock
    enable("OpAutoCancelBtn", on);
    enable("LogListBtnSave", on ? false : m_core.LogListBtnSaveEnabled);
    if (on) {
        enable("OpDeviceOpRtcGetBtn", false);
        enable("OpDeviceOpRtcSetBtn", false);
    } else {
        const LinkButtons b = ButtonsForLink(m_core.link);
        enable("OpDeviceOpRtcGetBtn", b.rtc);
        enable("OpDeviceOpRtcSetBtn", b.rtc);
    }
    if (auto* tabs = qobject_cast<QTabWidget*>(named("LogListPage")))
        for (int i = 0; i < tabs->count(); ++i)
            if (tabs->widget(i)->objectName() != QLatin1String("LogListLastTS"))
                tabs->setTabVisible(i, !on);
    if (auto* bar = qobject_cast<QProgressBar*>(named("OpProgressBar"))) {
        bar->setMaximum(100);
        bar->setValue(0);
        bar->setVisible(on);
    }
    if (auto* l = qobject_cast<QLabel*>(named("OpProgressLabel"))) {
        l->clear();
        QFont f = l->font();
        f.setBold(on);
        l->setFont(f);
    }
    auto* after = qobject_cast<QAbstractButton*>(named("ConfigSetAlertEventAfterCheck"));
    const bool afterChecked = after && after->isChecked();
    enable("ConfigSetAlertEventAfterCheck", !on);
    if (!on || afterChecked) {
        enable("ConfigSetAlertEventEdit", !on);
        enable("ConfigSetAlertEventCombo", !on);
    }
    if (on) {
        for (const char* n : {"DebugCommMemo", "DebugLogMemo"})
            if (auto* m = qobject_cast<QPlainTextEdit*>(named(n)))
                m->clear();
        // The run clears the panel as it begins; the warning goes up right after and stays.
        if (!m_startWarning.isEmpty())
            QTimer::singleShot(0, this, [this, text = m_startWarning] {
                if (!m_auto->Running())
                    return;
                m_core.AddLog(LOGTYPE_PROGRESS1, text);
                m_core.SetStatus(text, OperatorPort::StatusLook::Failure);
            });
    } else {
        m_stopping = false;
        m_startWarning.clear();
        emit stopped();
    }
}
