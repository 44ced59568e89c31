#pragma once
// Sends the alert report by SMTP: one message with a UTF-8 text body and the
// report files attached, optionally upgraded to TLS with STARTTLS and
// authenticated. The exchange runs on a worker thread while the calling thread
// waits in an event loop, so the window keeps painting; every phase has a time-out.
#include <QString>
#include <QStringList>
#include <atomic>
#include <cstdint>

// Result codes of SendEmail.
inline constexpr uint8_t MAIL_RESULT_OK = 0;
inline constexpr uint8_t MAIL_RESULT_FAILED = 1;
inline constexpr uint8_t MAIL_RESULT_NOT_CONFIGURED = 255;

struct RMailSettings {
    QString sTo;        // recipients separated by ";"
    QString sFrom;
    QString sUser;      // empty: no authentication
    QString sPassword;
    QString sServer;
    int nPort = 587;
    bool bUseSsl = true; // STARTTLS required, server certificate verified
    QString sCaFile;     // extra trusted authority (PEM), besides the system's
    // Time-outs in seconds: reaching the server and finishing the greeting, TLS
    // upgrade and log-in; a server that sends nothing for nIdleSec during the
    // transfer; and the whole exchange.
    int nConnectSec = 30;
    int nIdleSec = 60;
    int nTotalSec = 600;
    // When set and true, the exchange is given up within a fraction of a second
    // (Cancel, a stop signal); the outcome is then a failure.
    const std::atomic_bool* pCancel = nullptr;
};

struct RMailMessage {
    QString sSubject;
    QStringList sBodyText;    // body lines in order
    QStringList sAttachments; // files attached under their own names
};

struct RMailOutcome {
    uint8_t nCode = MAIL_RESULT_OK;
    bool bConnectFailed = false; // failed before the message itself was offered
    QString sError;              // readable reason, empty on success
};

// The recipient field split at ";" into at most 100 pieces (leading blanks
// dropped); the list ends at the first piece that is empty after trimming.
QStringList MailRecipients(const QString& sTo);

// The bare address of "Name <addr>" or "addr" (for the SMTP envelope).
QString MailEnvelopeAddress(const QString& s);

// A header value as it may stand in the message: line breaks removed, non-ASCII
// text as RFC 2047 encoded words.
QByteArray MailHeaderText(const QString& s);

// Connects, sends and disconnects. 255 when the recipient, sender or server field
// is empty (nothing attempted), 1 on any failure, 0 when the server accepted the message.
RMailOutcome SendMailMessage(const RMailSettings& settings, const RMailMessage& message);
