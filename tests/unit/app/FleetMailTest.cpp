// FLEET/MailStatus: the report mail carries the fleet status CSV, only when asked to.
#include <gtest/gtest.h>

#include <QFileInfo>

#include "app/AppState.h"
#include "app/FleetUpdate.h"
#include "app/Reporting.h"
#include "fleet/FleetDb.h"
#include "support/TestSupport.h"
#include "unit/fleet/FleetTestStore.h"

TEST(FleetMail, StatusCsvAttachedOnlyWithMailStatus)
{
    testsupport::ScopedTempRoot root;
    AppState state;
    state.FLogDestDir = root.path() + "/dest/";
    state.FLastReportFile = "Report_1.Html";
    testsupport::writeAll(state.FLogDestDir + "Report/Report_1.Html", "<html></html>");
    fleettest::put(state.FLogDestDir, "KR1", "BUMP", "KR1_BUMP_2103101000.XML",
                   fleettest::resultXml("CO", "FAIL", "21-03-10"));
    ASSERT_TRUE(TFleetDb(state.FLogDestDir).Update());

    QString error;
    ASSERT_TRUE(WriteFleetStatusFile(state, &error)) << qPrintable(error);
    const QByteArray csv = testsupport::readAll(FleetStatusMailFile(state));
    EXPECT_TRUE(csv.startsWith("serial,status,"));
    EXPECT_TRUE(csv.contains("\r\nKR1,failed,CO,DK1,")) << csv.constData();

    EXPECT_EQ(MailAttachments(state), QStringList{state.FLogDestDir + "Report/Report_1.Html"});
    state.settings.FleetMailStatus = true;
    EXPECT_EQ(MailAttachments(state),
              (QStringList{state.FLogDestDir + "Report/Report_1.Html", FleetStatusMailFile(state)}));
}
