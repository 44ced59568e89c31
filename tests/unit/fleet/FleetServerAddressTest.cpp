// FLEET/Server: what is taken, what is refused and why, and when TLS is required.
#include <gtest/gtest.h>

#include "fleet/FleetServer.h"

namespace {

RFleetServerAddress parsed(const QString& uri)
{
    RFleetServerAddress a;
    QString error;
    EXPECT_TRUE(ParseFleetServerUri(uri, &a, &error)) << error.toStdString();
    return a;
}

QString refusal(const QString& uri)
{
    RFleetServerAddress a;
    QString error;
    EXPECT_FALSE(ParseFleetServerUri(uri, &a, &error)) << uri.toStdString();
    return error;
}

} // namespace

TEST(FleetServerAddress, ReadsUserHostPortDatabaseAndSocketFolders)
{
    const RFleetServerAddress a = parsed("postgresql://marvane@db.example.net:6543/fleet");
    EXPECT_EQ(a.mUser, "marvane");
    EXPECT_EQ(a.mHost, "db.example.net");
    EXPECT_EQ(a.mPort, 6543);
    EXPECT_EQ(a.mDatabase, "fleet");
    EXPECT_FALSE(a.mLocal);
    EXPECT_EQ(a.Display(), "postgresql://marvane@db.example.net:6543/fleet");

    const RFleetServerAddress d = parsed("postgres://site%20a@db/fleet");
    EXPECT_EQ(d.mUser, "site a");
    EXPECT_EQ(d.mPort, 5432);

    const RFleetServerAddress s = parsed("postgresql://marvane@%2Frun%2Fpostgresql/fleet");
    EXPECT_EQ(s.mHost, "/run/postgresql");
    EXPECT_TRUE(s.mLocal);
    EXPECT_EQ(s.Display(), "postgresql://marvane@%2Frun%2Fpostgresql:5432/fleet");

    const RFleetServerAddress v6 = parsed("postgresql://marvane@[::1]:5433/fleet");
    EXPECT_EQ(v6.mHost, "::1");
    EXPECT_EQ(v6.mPort, 5433);
    EXPECT_TRUE(v6.mLocal);
}

TEST(FleetServerAddress, TlsIsRequiredBeyondThisPc)
{
    EXPECT_EQ(parsed("postgresql://m@db.example.net/fleet").mSslMode, "require");
    // With the authority's certificate the name is checked too.
    const RFleetServerAddress v = parsed("postgresql://m@db.example.net/fleet?sslrootcert=/etc/ca.pem");
    EXPECT_EQ(v.mSslMode, "verify-full");
    EXPECT_EQ(v.mSslRootCert, "/etc/ca.pem");
    EXPECT_EQ(parsed("postgresql://m@10.0.0.5/fleet?sslmode=verify-ca").mSslMode, "verify-ca");
    for (const char* mode : {"disable", "allow", "prefer"})
        EXPECT_TRUE(refusal(QStringLiteral("postgresql://m@10.0.0.5/fleet?sslmode=%1").arg(mode)).contains("TLS"));
    // This PC's own server may go without.
    for (const char* host : {"127.0.0.1", "127.0.0.9", "localhost", "[::1]"}) {
        const RFleetServerAddress l = parsed(QStringLiteral("postgresql://m@%1/fleet?sslmode=disable").arg(host));
        EXPECT_TRUE(l.mLocal) << host;
        EXPECT_EQ(l.mSslMode, "disable");
    }
    EXPECT_EQ(parsed("postgresql://m@127.0.0.1/fleet").mSslMode, "prefer");
}

TEST(FleetServerAddress, RefusesWhatCannotBeUsedAndSaysWhy)
{
    EXPECT_TRUE(refusal("mysql://m@h/fleet").contains("postgresql://USER@HOST:PORT/DATABASE"));
    EXPECT_TRUE(refusal("postgresql://h:5432/fleet").contains("no user"));
    EXPECT_TRUE(refusal("postgresql://m@h:5432").contains("no database"));
    EXPECT_TRUE(refusal("postgresql://m@h:5432/").contains("no database"));
    EXPECT_TRUE(refusal("postgresql://m@:5432/fleet").contains("no host"));
    EXPECT_TRUE(refusal("postgresql://m@h:99999/fleet").contains("port"));
    EXPECT_TRUE(refusal("postgresql://m@h:x/fleet").contains("port"));
    // A password in the address would end up in every log line that names the server.
    EXPECT_TRUE(refusal("postgresql://m:secret@h/fleet").contains("FLEET/Password"));
    EXPECT_TRUE(refusal("postgresql://m@h/fleet?options=-c").contains("unknown parameter"));
    EXPECT_TRUE(refusal("postgresql://m@h/fleet?sslmode=sometimes").contains("sslmode"));
}
