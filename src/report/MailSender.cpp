#include "report/MailSender.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QThread>
#include <QTimer>
#include <QUuid>
#include <atomic>
#include <curl/curl.h>
#include <memory>
#include <mutex>

#include "util/StUtils.h"

namespace {

// An attachment larger than this is refused rather than read into memory.
constexpr qint64 kMaxAttachmentBytes = 64LL * 1024 * 1024;

void initCurl()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct Attachment {
    QByteArray name;
    QByteArray type;
    QByteArray data;
};

// Everything the worker thread needs, prepared on the calling thread, and what it reports.
struct Transfer {
    QByteArray url, user, password, mailFrom, caBlob, body;
    bool useSsl = false;
    bool withCaBlob = false;
    QList<QByteArray> recipients;
    QList<QByteArray> headers;
    QVector<Attachment> attachments;
    long connectSec = 30, idleSec = 60, totalSec = 600;

    CURLcode rc = CURLE_OK;
    char errbuf[CURL_ERROR_SIZE] = {};
    QByteArray lastReply;
    bool offered = false; // MAIL FROM went out: connecting and log-in are behind us
    std::atomic<bool> abort{false};
};

int onDebug(CURL*, curl_infotype type, char* data, size_t size, void* user)
{
    auto* t = static_cast<Transfer*>(user);
    const QByteArray text(data, qsizetype(size));
    if (type == CURLINFO_HEADER_IN) {
        const QByteArray line = text.trimmed();
        if (!line.isEmpty())
            t->lastReply = line.split('\n').last().trimmed();
    } else if (type == CURLINFO_HEADER_OUT) {
        // Only the command verb is looked at; log-in data never leaves this function.
        if (text.startsWith("MAIL FROM"))
            t->offered = true;
    }
    return 0;
}

int onProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    return static_cast<Transfer*>(user)->abort.load() ? 1 : 0;
}

struct SlistDeleter {
    void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};
struct MimeDeleter {
    void operator()(curl_mime* m) const { curl_mime_free(m); }
};
struct EasyDeleter {
    void operator()(CURL* c) const { curl_easy_cleanup(c); }
};

void perform(Transfer& t)
{
    std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
    if (!easy) {
        t.rc = CURLE_FAILED_INIT;
        return;
    }
    CURL* c = easy.get();
    curl_easy_setopt(c, CURLOPT_URL, t.url.constData());
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "smtp,smtps");
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, t.errbuf);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, t.connectSec);
    curl_easy_setopt(c, CURLOPT_TIMEOUT, t.totalSec);
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, t.idleSec);
    // A server that stops answering a command (greeting, EHLO, MAIL, RCPT, DATA).
    curl_easy_setopt(c, CURLOPT_SERVER_RESPONSE_TIMEOUT, t.idleSec);
    curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, onProgress);
    curl_easy_setopt(c, CURLOPT_XFERINFODATA, &t);
    curl_easy_setopt(c, CURLOPT_VERBOSE, 1L);
    curl_easy_setopt(c, CURLOPT_DEBUGFUNCTION, onDebug);
    curl_easy_setopt(c, CURLOPT_DEBUGDATA, &t);
    curl_easy_setopt(c, CURLOPT_USE_SSL, long(t.useSsl ? CURLUSESSL_ALL : CURLUSESSL_NONE));
    curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_blob blob{};
    if (t.withCaBlob) {
        blob.data = t.caBlob.data();
        blob.len = size_t(t.caBlob.size());
        blob.flags = CURL_BLOB_NOCOPY;
        curl_easy_setopt(c, CURLOPT_CAINFO_BLOB, &blob);
    }
    if (!t.user.isEmpty()) {
        curl_easy_setopt(c, CURLOPT_USERNAME, t.user.constData());
        curl_easy_setopt(c, CURLOPT_PASSWORD, t.password.constData());
    }
    curl_easy_setopt(c, CURLOPT_MAIL_FROM, t.mailFrom.constData());

    std::unique_ptr<curl_slist, SlistDeleter> rcpts;
    for (const QByteArray& r : t.recipients)
        rcpts.reset(curl_slist_append(rcpts.release(), r.constData()));
    curl_easy_setopt(c, CURLOPT_MAIL_RCPT, rcpts.get());

    std::unique_ptr<curl_slist, SlistDeleter> headers;
    for (const QByteArray& h : t.headers)
        headers.reset(curl_slist_append(headers.release(), h.constData()));
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers.get());

    std::unique_ptr<curl_mime, MimeDeleter> mime(curl_mime_init(c));
    curl_mimepart* text = curl_mime_addpart(mime.get());
    curl_mime_data(text, t.body.constData(), size_t(t.body.size()));
    curl_mime_type(text, "text/plain; charset=UTF-8");
    curl_mime_encoder(text, "quoted-printable");
    for (const Attachment& a : t.attachments) {
        curl_mimepart* part = curl_mime_addpart(mime.get());
        curl_mime_data(part, a.data.constData(), size_t(a.data.size()));
        curl_mime_filename(part, a.name.constData());
        curl_mime_type(part, a.type.constData());
        curl_mime_encoder(part, "base64");
    }
    curl_easy_setopt(c, CURLOPT_MIMEPOST, mime.get());

    t.rc = curl_easy_perform(c);
}

QString errorText(const Transfer& t)
{
    QString s = QString::fromUtf8(curl_easy_strerror(t.rc));
    const QString detail = QString::fromUtf8(t.errbuf).trimmed();
    if (!detail.isEmpty() && detail != s)
        s += QStringLiteral(": ") + detail;
    if (!t.lastReply.isEmpty() && t.lastReply.at(0) >= '4')
        s += QStringLiteral(" (server: ") + QString::fromUtf8(t.lastReply) + ')';
    return s;
}

QByteArray contentType(const QString& file)
{
    const QString ext = QFileInfo(file).suffix().toLower();
    if (ext == QLatin1String("html") || ext == QLatin1String("htm"))
        return "text/html";
    if (ext == QLatin1String("csv"))
        return "text/csv";
    if (ext == QLatin1String("txt"))
        return "text/plain";
    return "application/octet-stream";
}

// Host names and addresses only: nothing that could change the URL's meaning.
bool validHost(const QString& host)
{
    static const QRegularExpression re(QStringLiteral("^[A-Za-z0-9._\\-:\\[\\]]+$"));
    return re.match(host).hasMatch();
}

QByteArray stripBreaks(const QString& s)
{
    QString out = s;
    out.replace(QRegularExpression(QStringLiteral("[\\r\\n\\t]+")), QStringLiteral(" "));
    return out.toUtf8();
}

bool isPlainAscii(const QByteArray& b)
{
    for (char ch : b)
        if (uchar(ch) < 32 || uchar(ch) > 126)
            return false;
    return true;
}

// "Name <addr>" with the name encoded when needed; the address stays readable.
QByteArray mailboxHeader(const QString& s)
{
    const QString clean = QString::fromUtf8(stripBreaks(s)).trimmed();
    const qsizetype lt = clean.lastIndexOf('<');
    if (lt > 0 && clean.endsWith('>')) {
        const QString name = clean.left(lt).trimmed();
        return MailHeaderText(name) + " " + clean.mid(lt).toUtf8();
    }
    return clean.toUtf8();
}

} // namespace

QStringList MailRecipients(const QString& sTo)
{
    QStringList out;
    for (const QString& piece : StDivideToken(sTo, QStringLiteral(";"), 100)) {
        if (piece.trimmed().isEmpty())
            break;
        out << piece.trimmed();
    }
    return out;
}

QString MailEnvelopeAddress(const QString& s)
{
    const QString t = s.trimmed();
    const qsizetype lt = t.lastIndexOf('<');
    const qsizetype gt = t.lastIndexOf('>');
    if (lt >= 0 && gt > lt)
        return t.mid(lt + 1, gt - lt - 1).trimmed();
    return t;
}

QByteArray MailHeaderText(const QString& s)
{
    const QByteArray utf8 = stripBreaks(s);
    if (isPlainAscii(utf8))
        return utf8;
    // Encoded words of at most 45 bytes of text each, cut between characters.
    QByteArray out;
    const QString clean = QString::fromUtf8(utf8);
    QByteArray chunk;
    auto flush = [&] {
        if (chunk.isEmpty())
            return;
        if (!out.isEmpty())
            out += "\r\n ";
        out += "=?UTF-8?B?" + chunk.toBase64() + "?=";
        chunk.clear();
    };
    for (qsizetype i = 0; i < clean.size(); ++i) {
        QString ch(clean.at(i));
        if (clean.at(i).isHighSurrogate() && i + 1 < clean.size())
            ch += clean.at(++i);
        const QByteArray bytes = ch.toUtf8();
        if (chunk.size() + bytes.size() > 45)
            flush();
        chunk += bytes;
    }
    flush();
    return out;
}

RMailOutcome SendMailMessage(const RMailSettings& s, const RMailMessage& m)
{
    RMailOutcome result;
    // Only emptiness counts here: a field of blanks is filled in and fails later.
    if (s.sTo.isEmpty() || s.sFrom.isEmpty() || s.sServer.isEmpty()) {
        result.nCode = MAIL_RESULT_NOT_CONFIGURED;
        return result;
    }
    auto fail = [&](const QString& why, bool atConnect) {
        result.nCode = MAIL_RESULT_FAILED;
        result.bConnectFailed = atConnect;
        result.sError = why;
        return result;
    };

    const QString host = s.sServer.trimmed();
    if (!validHost(host))
        return fail(QStringLiteral("invalid mail server name \"%1\"").arg(s.sServer), true);
    if (s.nPort < 1 || s.nPort > 65535)
        return fail(QStringLiteral("invalid mail server port %1").arg(s.nPort), true);
    const QStringList recipients = MailRecipients(s.sTo);
    if (recipients.isEmpty())
        return fail(QStringLiteral("no recipient address"), false);

    auto t = std::make_shared<Transfer>();
    const QString hostPart = host.contains(':') && !host.startsWith('[') ? '[' + host + ']' : host;
    // Port 465 speaks TLS from the first byte; every other port upgrades with STARTTLS.
    const bool implicitTls = s.bUseSsl && s.nPort == 465;
    t->url = (implicitTls ? "smtps://" : "smtp://") + hostPart.toUtf8() + ':' +
             QByteArray::number(s.nPort);
    t->useSsl = s.bUseSsl;
    t->user = s.sUser.toUtf8();
    t->password = s.sPassword.toUtf8();
    t->mailFrom = '<' + stripBreaks(MailEnvelopeAddress(s.sFrom)) + '>';
    for (const QString& r : recipients)
        t->recipients << '<' + stripBreaks(MailEnvelopeAddress(r)) + '>';
    t->connectSec = std::max(1, s.nConnectSec);
    t->idleSec = std::max(1, s.nIdleSec);
    t->totalSec = std::max(1, s.nTotalSec);

    if (!s.sCaFile.trimmed().isEmpty()) {
        QFile ca(s.sCaFile.trimmed());
        if (!ca.open(QIODevice::ReadOnly))
            return fail(QStringLiteral("the certificate authority file %1 cannot be read")
                            .arg(s.sCaFile.trimmed()),
                        true);
        // The extra authority is trusted in addition to the system's own.
        initCurl();
        const curl_version_info_data* info = curl_version_info(CURLVERSION_NOW);
        if (info && info->cainfo) {
            QFile system(QFile::decodeName(info->cainfo));
            if (system.open(QIODevice::ReadOnly))
                t->caBlob = system.readAll() + '\n';
        }
        t->caBlob += ca.read(kMaxAttachmentBytes);
        t->withCaBlob = true;
    }

    QByteArrayList toHeader;
    for (const QString& r : recipients)
        toHeader << mailboxHeader(r);
    t->headers << "Date: " + QDateTime::currentDateTime().toString(Qt::RFC2822Date).toLatin1()
               << "From: " + mailboxHeader(s.sFrom) << "To: " + toHeader.join(", ")
               << "Subject: " + MailHeaderText(m.sSubject)
               << "Message-ID: <" + QUuid::createUuid().toString(QUuid::WithoutBraces).toLatin1() +
                      "@marvane>";
    t->body = m.sBodyText.join(QStringLiteral("\r\n")).toUtf8() + "\r\n";

    for (const QString& path : m.sAttachments) {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly))
            return fail(QStringLiteral("the file %1 cannot be read").arg(path), false);
        if (f.size() > kMaxAttachmentBytes)
            return fail(QStringLiteral("the file %1 is too large to attach").arg(path), false);
        Attachment a;
        a.name = stripBreaks(QFileInfo(path).fileName()).replace('"', '_');
        a.type = contentType(path);
        a.data = f.readAll();
        t->attachments << a;
    }

    initCurl();
    std::unique_ptr<QThread> worker(QThread::create([t] { perform(*t); }));
    if (QCoreApplication::instance()) {
        QEventLoop loop;
        QObject::connect(worker.get(), &QThread::finished, &loop, &QEventLoop::quit);
        // libcurl keeps its own time-outs; this only guards against one of them not firing.
        QTimer guard;
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, [t] { t->abort = true; });
        guard.start(int(std::min<long>(t->totalSec + 15, 24 * 3600)) * 1000);
        QTimer cancelCheck;
        if (const std::atomic_bool* cancel = s.pCancel) {
            QObject::connect(&cancelCheck, &QTimer::timeout, [t, cancel] {
                if (cancel->load())
                    t->abort = true;
            });
            cancelCheck.start(100);
        }
        worker->start();
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    } else {
        worker->start();
    }
    worker->wait();

    if (t->rc == CURLE_OK)
        return result;
    return fail(errorText(*t), !t->offered);
}
