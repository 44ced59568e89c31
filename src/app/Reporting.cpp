#include "app/Reporting.h"

#include <QFileInfo>

#include "app/FleetUpdate.h"
#include "app/MainCore.h"
#include "lang/LangTable.h"
#include "report/ReportStore.h"

RMailSettings MailSettingsFrom(const AppState& state)
{
    const AppSettings& s = state.settings;
    RMailSettings m;
    m.sTo = s.ConfigSendEmailToEdit;
    m.sFrom = s.ConfigSendEmailSvrFromEdit;
    m.sUser = s.ConfigSendEmailSvrUserNameEdit;
    m.sPassword = s.ConfigSendEmailSvrPwEdit;
    m.sServer = s.ConfigSendEmailSvrEdit;
    m.nPort = s.ConfigSendEmailSvrPortEdit;
    m.bUseSsl = s.ConfigSendEmailSvrSSLCheck;
    m.sCaFile = s.EmailCaFile;
    return m;
}

QStringList MailAttachments(const AppState& state)
{
    QStringList out;
    if (state.FLogDestDir.trimmed().isEmpty() || state.FLastReportFile.trimmed().isEmpty())
        return out;
    const QString report = AppState::AddLastSlash(state.FLogDestDir) + "Report/" + state.FLastReportFile;
    if (!QFileInfo(report).isFile())
        return out;
    out << report;
    const QFileInfo info(report);
    const QString csv = info.path() + '/' + info.completeBaseName() + ".CSV";
    if (QFileInfo(csv).isFile())
        out << csv;
    if (state.settings.FleetMailStatus && QFileInfo(FleetStatusMailFile(state)).isFile())
        out << FleetStatusMailFile(state);
    return out;
}

QStringList MissingMailSettings(const AppState& state)
{
    // The captions of the fields, without the trailing colon some of them carry.
    auto caption = [](int n) {
        QString t = LangText(n).trimmed();
        while (t.endsWith(':'))
            t.chop(1);
        return t.trimmed();
    };
    const AppSettings& s = state.settings;
    QStringList out;
    // The same rule as the sender's: a field holding anything is filled in.
    if (s.ConfigSendEmailToEdit.isEmpty())
        out << caption(348);
    if (s.ConfigSendEmailSvrFromEdit.isEmpty())
        out << caption(350);
    if (s.ConfigSendEmailSvrEdit.isEmpty())
        out << caption(353);
    return out;
}

uint8_t SendEmail(TMainCore& core, const QString& sSubject, const QStringList& sBodyText,
                  const RMailSettings& timeouts, bool bAttachReport)
{
    RMailSettings settings = MailSettingsFrom(core.state);
    settings.nConnectSec = timeouts.nConnectSec;
    settings.nIdleSec = timeouts.nIdleSec;
    settings.nTotalSec = timeouts.nTotalSec;
    settings.pCancel = timeouts.pCancel;
    if (settings.sTo.isEmpty() || settings.sFrom.isEmpty() || settings.sServer.isEmpty())
        return MAIL_RESULT_NOT_CONFIGURED;

    RMailMessage message;
    message.sSubject = sSubject;
    message.sBodyText = sBodyText;
    if (bAttachReport)
        message.sAttachments = MailAttachments(core.state);

    core.AddLog(LOGTYPE_PROGRESS1, LangText(1003, "Sending e-mail to %1").arg(settings.sTo));
    const RMailOutcome outcome = SendMailMessage(settings, message);
    if (outcome.nCode != MAIL_RESULT_OK) {
        QString line = LangText(outcome.bConnectFailed ? 766 : 765);
        if (!outcome.sError.isEmpty())
            line += QStringLiteral(" : ") + outcome.sError;
        core.AddLog(LOGTYPE_PROGRESS2, line);
    }
    return outcome.nCode;
}

uint8_t ConfigSendEmailSvrTestBtnClick(TMainCore& core, const RMailSettings& timeouts)
{
    if (core.state.FExe)
        return MAIL_RESULT_FAILED;
    if (core.PullSettings)
        core.PullSettings();
    core.state.FExe = true;
    core.port.setBusy(true);
    struct Restore {
        TMainCore& core;
        ~Restore()
        {
            core.port.setBusy(false);
            core.state.FExe = false;
        }
    } restore{core};

    core.SetStatus(QString(), OperatorPort::StatusLook::Neutral);
    // Say which fields are missing instead of doing nothing.
    const QStringList missing = MissingMailSettings(core.state);
    if (!missing.isEmpty()) {
        const QString text = LangText(544);
        const QString fields = missing.join(QStringLiteral(", "));
        const QString why = text.contains(QLatin1String("%1")) ? text.arg(fields) : text + ' ' + fields;
        core.AddLog(LOGTYPE_PROGRESS1, why);
        core.SetStatus(why, OperatorPort::StatusLook::Failure);
        return MAIL_RESULT_NOT_CONFIGURED;
    }
    const uint8_t code = SendEmail(core, QStringLiteral("Marvane TEST Message"),
                                   {QStringLiteral("Test Email")}, timeouts);
    if (code != MAIL_RESULT_OK) {
        core.SetStatus(LangText(765), OperatorPort::StatusLook::Failure);
        return code;
    }
    core.SetStatus(LangText(718), OperatorPort::StatusLook::Success);
    // The store is reloaded first: resetting whatever happens to be in memory could
    // write back an older state. A store that cannot be read is left alone.
    const QString dest = core.state.FLogDestDir.trimmed();
    if (dest.isEmpty() || !QFileInfo(dest).isDir())
        return code;
    TReportStore store(core.state);
    QString error;
    if (!store.LoadResult(&error) || !store.ResetAfterEmail(&error))
        core.AddLog(LOGTYPE_PROGRESS2, error);
    return code;
}
