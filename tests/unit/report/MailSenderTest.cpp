// The parts of the mail sender that need no server: recipients, header texts,
// the "not configured" rule and which report files go along.
#include <gtest/gtest.h>

#include <QDir>
#include <QRegularExpression>

#include "app/AppState.h"
#include "app/Reporting.h"
#include "report/MailSender.h"
#include "support/TestSupport.h"

TEST(MailRecipients, SplitAtSemicolonsAndStopAtFirstEmptyPiece)
{
    EXPECT_EQ(MailRecipients("a@x.test"), QStringList{"a@x.test"});
    EXPECT_EQ(MailRecipients("a@x.test;  b@x.test ; c@x.test"),
              (QStringList{"a@x.test", "b@x.test", "c@x.test"}));
    // Two semicolons: the empty piece between them ends the list.
    EXPECT_EQ(MailRecipients("a@x.test;;b@x.test"), QStringList{"a@x.test"});
    EXPECT_EQ(MailRecipients("a@x.test; ;b@x.test"), QStringList{"a@x.test"});
    EXPECT_TRUE(MailRecipients("   ").isEmpty());
    EXPECT_TRUE(MailRecipients(";a@x.test").isEmpty());
    // At most 100 pieces.
    QStringList many;
    for (int i = 0; i < 120; ++i)
        many << QStringLiteral("u%1@x.test").arg(i);
    const QStringList got = MailRecipients(many.join(';'));
    ASSERT_EQ(got.size(), 100);
    EXPECT_EQ(got[98], "u98@x.test");
}

TEST(MailHeaders, AddressesAndTextsCannotBreakTheHeader)
{
    EXPECT_EQ(MailEnvelopeAddress("Dock Room <dock@x.test>"), "dock@x.test");
    EXPECT_EQ(MailEnvelopeAddress("  dock@x.test "), "dock@x.test");
    EXPECT_EQ(MailHeaderText("Marvane TEST Message"), "Marvane TEST Message");
    // A line break in a field cannot start a header of its own.
    EXPECT_EQ(MailHeaderText("Report\r\nBcc: evil@x.test"), "Report Bcc: evil@x.test");

    const QString subject = QString::fromUtf8("Prüfbericht für Dock – Lager Süd, alle Geräte geprüft ✓");
    const QByteArray enc = MailHeaderText(subject);
    QString decoded;
    QRegularExpression word(QStringLiteral("=\\?UTF-8\\?B\\?([A-Za-z0-9+/=]+)\\?="));
    QByteArray raw;
    for (auto it = word.globalMatch(QString::fromLatin1(enc)); it.hasNext();) {
        const auto m = it.next();
        EXPECT_LE(m.captured(0).size(), 75);
        raw += QByteArray::fromBase64(m.captured(1).toLatin1());
    }
    EXPECT_EQ(QString::fromUtf8(raw), subject);
    for (const QByteArray& line : enc.split('\n'))
        EXPECT_LE(line.size(), 78);
}

TEST(MailSend, EmptyRecipientSenderOrServerIsNotConfigured)
{
    RMailSettings s;
    s.sTo = "a@x.test";
    s.sFrom = "b@x.test";
    s.sServer = "127.0.0.1";
    s.nPort = 1;
    RMailMessage m;
    for (QString RMailSettings::*field :
         {&RMailSettings::sTo, &RMailSettings::sFrom, &RMailSettings::sServer}) {
        RMailSettings t = s;
        t.*field = QString();
        EXPECT_EQ(SendMailMessage(t, m).nCode, MAIL_RESULT_NOT_CONFIGURED);
    }
    // A server name that would change the address's meaning is refused before any attempt.
    RMailSettings bad = s;
    bad.sServer = "127.0.0.1/evil?x";
    const RMailOutcome r = SendMailMessage(bad, m);
    EXPECT_EQ(r.nCode, MAIL_RESULT_FAILED);
    EXPECT_TRUE(r.bConnectFailed);
    bad.sServer = "127.0.0.1";
    bad.nPort = 70000;
    EXPECT_EQ(SendMailMessage(bad, m).nCode, MAIL_RESULT_FAILED);
}

TEST(MailAttachments, ReportThenItsCsvOnlyWhenTheyExist)
{
    testsupport::ScopedTempRoot root;
    AppState state;
    state.FLogDestDir = root.path() + "/dest/";
    state.FLastReportFile = "Report_2024-01-02 03-04-05.Html";
    QDir().mkpath(state.FLogDestDir + "Report");
    const QString html = state.FLogDestDir + "Report/" + state.FLastReportFile;
    const QString csv = state.FLogDestDir + "Report/Report_2024-01-02 03-04-05.CSV";

    EXPECT_TRUE(MailAttachments(state).isEmpty());
    testsupport::writeAll(csv, "x");
    EXPECT_TRUE(MailAttachments(state).isEmpty()); // the CSV never goes alone
    testsupport::writeAll(html, "x");
    EXPECT_EQ(MailAttachments(state), (QStringList{html, csv}));
    QFile::remove(csv);
    EXPECT_EQ(MailAttachments(state), QStringList{html});
    state.FLastReportFile.clear(); // no report set yet
    EXPECT_TRUE(MailAttachments(state).isEmpty());
}
