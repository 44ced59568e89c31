#pragma once
// The e-mail side of reporting as the window and the command line use it: the
// settings page's "Test" button and SendEmail with its activity-log lines.
#include <QString>
#include <QStringList>
#include <cstdint>

#include "report/MailSender.h"

class AppState;
class TMainCore;

// The e-mail fields of the settings as the sender needs them.
RMailSettings MailSettingsFrom(const AppState& state);

// The report of the last set (log destination + "Report/" + FLastReportFile) and
// the CSV beside it, each only when it exists; the CSV only together with the report.
QStringList MailAttachments(const AppState& state);
// The captions of the e-mail fields a message cannot go without, when they are empty.
QStringList MissingMailSettings(const AppState& state);

// Sends one message with the last report attached. Writes "Sending e-mail to : ..."
// and, on failure, the reason to the activity log. Returns MAIL_RESULT_*.
// `timeouts` supplies the time-outs (the other fields are taken from the settings).
// bAttachReport false: the body alone (Auto mode's alert mail).
uint8_t SendEmail(TMainCore& core, const QString& sSubject, const QStringList& sBodyText,
                  const RMailSettings& timeouts = RMailSettings(), bool bAttachReport = true);

// "Test" of the e-mail settings: subject "Marvane TEST Message", body "Test Email".
// On success the alert store's alarm times and event period are reset and saved.
// Shows no message of its own. Returns MAIL_RESULT_*.
uint8_t ConfigSendEmailSvrTestBtnClick(TMainCore& core,
                                       const RMailSettings& timeouts = RMailSettings());
