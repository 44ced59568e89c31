// The mail sender against a real SMTP server on loopback (aiosmtpd): STARTTLS with a
// throw-away certificate, AUTH, and the message as it arrived; then the ways a
// server can fail the sender. Nothing here leaves 127.0.0.1.
#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include "app/MainCore.h"
#include "app/Reporting.h"
#include "lang/LangTable.h"
#include "report/MailSender.h"
#include "report/ReportStore.h"
#include "support/TestSupport.h"

namespace {

const char* const kServerScript = R"PY(
import asyncio, base64, email, email.policy, json, os, socket, ssl, sys, threading, time

mode, port, outdir, cert, key, user, pw = sys.argv[1:8]
port = int(port)

def save(rec):
    n = len([f for f in os.listdir(outdir) if f.endswith('.json')])
    tmp = os.path.join(outdir, '.tmp%d' % n)
    with open(tmp, 'w') as f:
        json.dump(rec, f)
    os.rename(tmp, os.path.join(outdir, 'msg%d.json' % n))

if mode in ('silent', 'stall'):
    # A server that stops answering: no greeting at all, or silence after MAIL FROM.
    srv = socket.socket()
    srv.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    srv.bind(('127.0.0.1', port))
    srv.listen(5)
    print('READY', flush=True)
    conns = []
    while True:
        c, _ = srv.accept()
        conns.append(c)
        if mode == 'silent':
            continue
        c.sendall(b'220 stall ESMTP\r\n')
        f = c.makefile('rb')
        while True:
            line = f.readline()
            if not line or line.upper().startswith(b'MAIL FROM'):
                break
            if line.upper().startswith(b'EHLO'):
                c.sendall(b'250 stall\r\n')
            else:
                c.sendall(b'250 OK\r\n')

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import AuthResult, LoginPassword

class Handler:
    async def handle_DATA(self, server, session, envelope):
        msg = email.message_from_bytes(envelope.original_content, policy=email.policy.default)
        rec = {'mail_from': envelope.mail_from, 'rcpt_tos': envelope.rcpt_tos,
               'subject': str(msg['subject']), 'from': str(msg['from']), 'to': str(msg['to']),
               'tls': session.ssl is not None, 'auth': bool(session.authenticated),
               'body': None, 'charset': None, 'attachments': []}
        for part in msg.walk():
            if part.is_multipart():
                continue
            name = part.get_filename()
            if name:
                rec['attachments'].append({'name': name, 'type': part.get_content_type(),
                    'data': base64.b64encode(part.get_payload(decode=True)).decode()})
            elif rec['body'] is None and part.get_content_type() == 'text/plain':
                rec['body'] = part.get_content()
                rec['charset'] = part.get_content_charset()
        save(rec)
        return '250 OK'

def authenticator(server, session, envelope, mechanism, auth_data):
    ok = (isinstance(auth_data, LoginPassword) and auth_data.login.decode() == user
          and auth_data.password.decode() == pw)
    return AuthResult(success=ok, handled=False)

kw = {}
if mode == 'tls':
    ctx = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    ctx.load_cert_chain(cert, key)
    kw = dict(tls_context=ctx, require_starttls=True, authenticator=authenticator,
              auth_require_tls=True)
elif mode == 'notls':
    kw = dict(authenticator=authenticator, auth_require_tls=False)
ctl = Controller(Handler(), hostname='127.0.0.1', port=port, **kw)
ctl.start()
print('READY', flush=True)
try:
    while True:
        time.sleep(3600)
finally:
    ctl.stop()
)PY";

const char* const kPython = "/usr/bin/python3";

quint16 freePort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

bool run(const QString& program, const QStringList& args)
{
    QProcess p;
    p.start(program, args);
    return p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// A self-signed certificate for 127.0.0.1 that doubles as its own authority.
bool makeCertificate(const QString& dir, const QString& name)
{
    return run("openssl", {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                           "-nodes", "-days", "2", "-subj", "/CN=localhost", "-addext",
                           "subjectAltName=IP:127.0.0.1,DNS:localhost", "-keyout",
                           dir + '/' + name + ".key", "-out", dir + '/' + name + ".pem"});
}

class SmtpServer {
public:
    SmtpServer(const QString& dir, const QString& mode) : m_dir(dir)
    {
        m_inbox = dir + "/inbox-" + mode;
        QDir().mkpath(m_inbox);
        const QString script = dir + "/smtpd.py";
        testsupport::writeAll(script, kServerScript);
        port = freePort();
        m_proc.setStandardErrorFile(dir + "/smtpd-" + mode + ".log"); // session tracebacks of refused clients
        m_proc.start(kPython, {script, mode, QString::number(port), m_inbox, dir + "/server.pem",
                               dir + "/server.key", "tester", "s3cret"});
        QEventLoop loop;
        QTimer deadline;
        deadline.setSingleShot(true);
        QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
        QObject::connect(&m_proc, &QProcess::readyReadStandardOutput, &loop, [&] {
            m_out += m_proc.readAllStandardOutput();
            if (m_out.contains("READY"))
                loop.quit();
        });
        QObject::connect(&m_proc, &QProcess::finished, &loop, &QEventLoop::quit);
        deadline.start(15000);
        loop.exec();
        ready = m_out.contains("READY");
    }
    ~SmtpServer()
    {
        m_proc.kill();
        m_proc.waitForFinished(5000);
    }

    QVector<QJsonObject> messages() const
    {
        QVector<QJsonObject> out;
        QDir in(m_inbox);
        for (const QString& f : in.entryList({"msg*.json"}, QDir::Files, QDir::Name))
            out << QJsonDocument::fromJson(testsupport::readAll(in.filePath(f))).object();
        return out;
    }

    quint16 port = 0;
    bool ready = false;

private:
    QString m_dir, m_inbox;
    QProcess m_proc;
    QByteArray m_out;
};

class MailDelivery : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!QFileInfo(kPython).isExecutable() || !run(kPython, {"-c", "import aiosmtpd"}))
            GTEST_SKIP() << "python3-aiosmtpd is not installed (scripts/deps.sh installs it)";
        dir = root.path() + "/mail";
        QDir().mkpath(dir);
        ASSERT_TRUE(makeCertificate(dir, "server"));
        ASSERT_TRUE(makeCertificate(dir, "other"));
    }

    RMailSettings settings(quint16 port) const
    {
        RMailSettings s;
        s.sTo = "ops@example.test";
        s.sFrom = "Dock Room <dock@example.test>";
        s.sUser = "tester";
        s.sPassword = "s3cret";
        s.sServer = "127.0.0.1";
        s.nPort = port;
        s.bUseSsl = true;
        s.sCaFile = dir + "/server.pem";
        s.nConnectSec = 5;
        s.nIdleSec = 3;
        s.nTotalSec = 20;
        return s;
    }

    testsupport::ScopedTempRoot root;
    QString dir;
};

QByteArray attachmentData(const QJsonObject& msg, const QString& name)
{
    for (const QJsonValue& v : msg["attachments"].toArray())
        if (v.toObject()["name"].toString() == name)
            return QByteArray::fromBase64(v.toObject()["data"].toString().toLatin1());
    return "<missing>";
}

} // namespace

// The whole path of the window's "Test" button: settings, attachments of the last
// report set, STARTTLS, AUTH, the message as it arrived, the log and the store reset.
TEST_F(MailDelivery, TestButtonDeliversReportOverStartTlsAndResetsStore)
{
    SmtpServer server(dir, "tls");
    ASSERT_TRUE(server.ready);

    ScriptedOperatorPort port;
    AppState state(&port);
    TMainCore core(state, port);
    core.DebugLogProgressCheck = true;
    const RMailSettings s = settings(server.port);
    state.settings.ConfigSendEmailToEdit = "ops@example.test; chief@example.test";
    state.settings.ConfigSendEmailSvrFromEdit = s.sFrom;
    state.settings.ConfigSendEmailSvrUserNameEdit = s.sUser;
    state.settings.ConfigSendEmailSvrPwEdit = s.sPassword;
    state.settings.ConfigSendEmailSvrEdit = s.sServer;
    state.settings.ConfigSendEmailSvrPortEdit = s.nPort;
    state.settings.ConfigSendEmailSvrSSLCheck = true;
    state.settings.EmailCaFile = s.sCaFile;

    // A report set and a store with alarm times.
    state.FLogDestDir = root.path() + "/store/";
    QDir().mkpath(state.FLogDestDir + "Report");
    state.FLastReportFile = "Report_2024-05-01 10-00-00.Html";
    const QByteArray html = "<html><body>Überblick &amp; alerts</body></html>\r\n";
    const QByteArray csv = "Marvane Update (2024-05-01 10:00:00)\r\nNew,Gaviro SG H2S,SN1,\r\n";
    testsupport::writeAll(state.FLogDestDir + "Report/" + state.FLastReportFile, html);
    testsupport::writeAll(state.FLogDestDir + "Report/Report_2024-05-01 10-00-00.CSV", csv);
    {
        TReportStore store(state);
        RDockReport r = GetInitReport();
        r.mSN = "SN1";
        r.mLowAlarmTime = 30;
        r.mHighAlarmTime = 90;
        store.FReport << r;
        store.FReportHeader.mEventStartTime = 45000.5;
        // As after a Save Log: the report set is made after the store was saved, so
        // the header still names the report before.
        store.FReportHeader.mFile = "Report_2024-04-24 10-00-00.Html";
        ASSERT_TRUE(store.SaveResult());
    }
    state.FLastReportFile = "Report_2024-05-01 10-00-00.Html";

    EXPECT_EQ(ConfigSendEmailSvrTestBtnClick(core, s), MAIL_RESULT_OK) << port.history.join('\n').toStdString();

    const QVector<QJsonObject> msgs = server.messages();
    ASSERT_EQ(msgs.size(), 1);
    const QJsonObject m = msgs.first();
    EXPECT_TRUE(m["tls"].toBool());
    EXPECT_TRUE(m["auth"].toBool());
    EXPECT_EQ(m["subject"].toString(), "Marvane TEST Message");
    EXPECT_EQ(m["mail_from"].toString(), "dock@example.test");
    EXPECT_EQ(m["from"].toString(), "Dock Room <dock@example.test>");
    EXPECT_EQ(m["rcpt_tos"].toArray().toVariantList(),
              (QVariantList{"ops@example.test", "chief@example.test"}));
    EXPECT_EQ(m["body"].toString(), "Test Email\r\n");
    EXPECT_EQ(m["charset"].toString().toLower(), "utf-8");
    EXPECT_EQ(m["attachments"].toArray().size(), 2);
    EXPECT_EQ(attachmentData(m, state.FLastReportFile), html);
    EXPECT_EQ(attachmentData(m, "Report_2024-05-01 10-00-00.CSV"), csv);

    ASSERT_FALSE(port.history.isEmpty());
    EXPECT_TRUE(port.history.first().endsWith(LangText(1003).arg("ops@example.test; chief@example.test")));
    EXPECT_EQ(port.busyDepth, 0);
    EXPECT_FALSE(state.FExe);

    TReportStore after(state);
    ASSERT_TRUE(after.LoadResult());
    ASSERT_EQ(after.FReport.size(), 1);
    EXPECT_EQ(after.FReport[0].mLowAlarmTime, 0);
    EXPECT_EQ(after.FReport[0].mHighAlarmTime, 0);
    EXPECT_EQ(after.FReportHeader.mEventStartTime, 0);
    EXPECT_GT(after.FReportHeader.mLastSendDate, 0);

    // The reset kept the last report: a second mail carries it again.
    EXPECT_EQ(state.FLastReportFile, "Report_2024-05-01 10-00-00.Html");
    EXPECT_EQ(ConfigSendEmailSvrTestBtnClick(core, s), MAIL_RESULT_OK) << port.history.join('\n').toStdString();
    ASSERT_EQ(server.messages().size(), 2);
    EXPECT_EQ(server.messages()[1]["attachments"].toArray().size(), 2);
}

TEST_F(MailDelivery, UnicodeBodyAndSubjectArriveIntactWithoutAttachments)
{
    SmtpServer server(dir, "tls");
    ASSERT_TRUE(server.ready);
    RMailMessage msg;
    msg.sSubject = QString::fromUtf8("Prüfbericht – Dock 7 ✓");
    msg.sBodyText = {QString::fromUtf8("Grüße aus dem Lager"), "", QString::fromUtf8("温度 OK")};
    const RMailOutcome r = SendMailMessage(settings(server.port), msg);
    ASSERT_EQ(r.nCode, MAIL_RESULT_OK) << r.sError.toStdString();
    const QVector<QJsonObject> msgs = server.messages();
    ASSERT_EQ(msgs.size(), 1);
    EXPECT_EQ(msgs[0]["subject"].toString(), msg.sSubject);
    EXPECT_EQ(msgs[0]["body"].toString(), msg.sBodyText.join("\r\n") + "\r\n");
    EXPECT_TRUE(msgs[0]["attachments"].toArray().isEmpty());
}

TEST_F(MailDelivery, EmptyPieceEndsRecipientListAndPlainSessionStaysUnencrypted)
{
    SmtpServer server(dir, "plain");
    ASSERT_TRUE(server.ready);
    RMailSettings s = settings(server.port);
    s.bUseSsl = false;
    s.sUser.clear();
    s.sTo = "first@example.test;;second@example.test";
    RMailMessage msg;
    msg.sSubject = "plain";
    msg.sBodyText = {"x"};
    const RMailOutcome r = SendMailMessage(s, msg);
    ASSERT_EQ(r.nCode, MAIL_RESULT_OK) << r.sError.toStdString();
    const QVector<QJsonObject> msgs = server.messages();
    ASSERT_EQ(msgs.size(), 1);
    EXPECT_FALSE(msgs[0]["tls"].toBool());
    EXPECT_EQ(msgs[0]["rcpt_tos"].toArray().toVariantList(), QVariantList{"first@example.test"});
}

// Each failure gives code 1 with a reason, in good time, and says whether the
// message itself was ever offered.
TEST_F(MailDelivery, ServerFailuresGiveCodeOneInGoodTime)
{
    RMailMessage msg;
    msg.sSubject = "s";
    msg.sBodyText = {"b"};
    auto send = [&](const RMailSettings& s, qint64* ms) {
        QElapsedTimer t;
        t.start();
        const RMailOutcome r = SendMailMessage(s, msg);
        *ms = t.elapsed();
        return r;
    };
    qint64 ms = 0;

    {   // nothing listens on the port
        const RMailOutcome r = send(settings(freePort()), &ms);
        EXPECT_EQ(r.nCode, MAIL_RESULT_FAILED);
        EXPECT_TRUE(r.bConnectFailed);
        EXPECT_FALSE(r.sError.isEmpty());
    }
    {   // the server does not offer STARTTLS: no credentials go out in clear
        SmtpServer server(dir, "notls");
        ASSERT_TRUE(server.ready);
        const RMailOutcome r = send(settings(server.port), &ms);
        EXPECT_EQ(r.nCode, MAIL_RESULT_FAILED);
        EXPECT_TRUE(r.bConnectFailed) << r.sError.toStdString();
        EXPECT_TRUE(server.messages().isEmpty());
    }
    {   // a certificate no trusted authority signed, and a missing authority file
        SmtpServer server(dir, "tls");
        ASSERT_TRUE(server.ready);
        RMailSettings s = settings(server.port);
        s.sCaFile = dir + "/other.pem";
        RMailOutcome r = send(s, &ms);
        EXPECT_EQ(r.nCode, MAIL_RESULT_FAILED);
        EXPECT_TRUE(r.bConnectFailed);
        s.sCaFile.clear(); // the system's authorities do not know it either
        r = send(s, &ms);
        EXPECT_EQ(r.nCode, MAIL_RESULT_FAILED);
        s.sCaFile = dir + "/missing.pem";
        r = send(s, &ms);
        EXPECT_EQ(r.nCode, MAIL_RESULT_FAILED);
        EXPECT_TRUE(r.sError.contains("missing.pem"));
        // authentication refused
        s = settings(server.port);
        s.sPassword = "wrong";
        r = send(s, &ms);
        EXPECT_EQ(r.nCode, MAIL_RESULT_FAILED);
        EXPECT_TRUE(r.bConnectFailed);
        EXPECT_TRUE(r.sError.contains("535")) << r.sError.toStdString();
        EXPECT_TRUE(server.messages().isEmpty());
    }
    {   // no greeting at all: the connect time-out (5 s) ends it
        SmtpServer server(dir, "silent");
        ASSERT_TRUE(server.ready);
        RMailSettings s = settings(server.port);
        const RMailOutcome r = send(s, &ms);
        EXPECT_EQ(r.nCode, MAIL_RESULT_FAILED);
        EXPECT_TRUE(r.bConnectFailed);
        EXPECT_LT(ms, 12000);
    }
    {   // silence after MAIL FROM: the idle time-out (3 s) ends it
        SmtpServer server(dir, "stall");
        ASSERT_TRUE(server.ready);
        RMailSettings s = settings(server.port);
        s.bUseSsl = false;
        s.sUser.clear();
        const RMailOutcome r = send(s, &ms);
        EXPECT_EQ(r.nCode, MAIL_RESULT_FAILED);
        EXPECT_FALSE(r.bConnectFailed) << r.sError.toStdString();
        EXPECT_LT(ms, 12000);
    }
}

// While the exchange waits for the server, the calling thread keeps handling events.
TEST_F(MailDelivery, CallingThreadKeepsRunningEventsWhileWaiting)
{
    SmtpServer server(dir, "silent");
    ASSERT_TRUE(server.ready);
    int ticks = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] { ++ticks; });
    tick.start(100);
    RMailSettings s = settings(server.port);
    s.nConnectSec = 2;
    RMailMessage msg;
    msg.sSubject = "s";
    EXPECT_EQ(SendMailMessage(s, msg).nCode, MAIL_RESULT_FAILED);
    EXPECT_GE(ticks, 10);
}

TEST_F(MailDelivery, FailedTestLeavesStoreAndLogsTheReason)
{
    ScriptedOperatorPort port;
    AppState state(&port);
    TMainCore core(state, port);
    core.DebugLogProgressCheck = true;
    state.settings.ConfigSendEmailToEdit = "   "; // blanks count as filled in
    state.settings.ConfigSendEmailSvrFromEdit = "dock@example.test";
    state.settings.ConfigSendEmailSvrEdit = "127.0.0.1";
    state.settings.ConfigSendEmailSvrPortEdit = freePort();
    state.FLogDestDir = root.path() + "/store/";
    QDir().mkpath(state.FLogDestDir);
    {
        TReportStore store(state);
        RDockReport r = GetInitReport();
        r.mSN = "SN1";
        r.mHighAlarmTime = 12;
        store.FReport << r;
        ASSERT_TRUE(store.SaveResult());
    }
    const QByteArray before = testsupport::readAll(state.FLogDestDir + "Report.Bin");
    EXPECT_EQ(ConfigSendEmailSvrTestBtnClick(core, settings(0)), MAIL_RESULT_FAILED);
    EXPECT_EQ(testsupport::readAll(state.FLogDestDir + "Report.Bin"), before);

    state.settings.ConfigSendEmailToEdit = "ops@example.test";
    EXPECT_EQ(ConfigSendEmailSvrTestBtnClick(core, settings(0)), MAIL_RESULT_FAILED);
    ASSERT_GE(port.history.size(), 2);
    EXPECT_TRUE(port.history.last().contains(LangText(766) + " : ")) << port.history.last().toStdString();

    state.settings.ConfigSendEmailSvrEdit.clear();
    port.history.clear();
    EXPECT_EQ(ConfigSendEmailSvrTestBtnClick(core, settings(0)), MAIL_RESULT_NOT_CONFIGURED);
    // Nothing was sent, and the person is told which field is missing.
    ASSERT_EQ(port.history.size(), 1);
    EXPECT_TRUE(port.history.last().contains(LangText(353))) << port.history.last().toStdString();
    EXPECT_EQ(port.statusLook, OperatorPort::StatusLook::Failure);
    EXPECT_EQ(testsupport::readAll(state.FLogDestDir + "Report.Bin"), before);
}
