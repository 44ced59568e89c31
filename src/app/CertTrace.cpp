#include "app/CertTrace.h"

#include <QFileInfo>

#include "app/AppState.h"
#include "app/FleetUpdate.h"
#include "fleet/FleetDb.h"
#include "fleet/FleetStatus.h"
#include "lang/LangTable.h"
#include "util/FileCopy.h"

RCertOptions CertOptionsOf(const AppState& state)
{
    const AppSettings& s = state.settings;
    RCertOptions o;
    o.mLayout = s.ConfigPrNPrintTypeCombo;
    o.mFont = s.ConfigPrNPrintFontCombo.isEmpty() ? QStringLiteral("Arial") : s.ConfigPrNPrintFontCombo;
    o.mBottomLeft = s.ConfigPrNPrintBottomLeftEdit;
    o.mBottomRight = s.ConfigPrNPrintBottomRightEdit;
    o.mFooter = QStringList{s.PrintFooter[0], s.PrintFooter[1], s.PrintFooter[2]};
    o.mDateStyle = uint8_t(std::clamp(s.ConfigSetDateRadio, 0, 2));
    o.mProgramFolder = state.GVPath.isEmpty() ? GetGVPath() : state.GVPath;
    if (s.PrintCertInterface) {
        o.mLanguage = CertLanguage::Interface;
        // The window draws the language in this font; a print font without its
        // script (Hangul in Arial) falls back to it.
        o.mLanguageFont = GVLang().selected().mFont;
    }
    return o;
}

TCertTraceSource::TCertTraceSource(const AppState& state) : m_state(state) {}
TCertTraceSource::~TCertTraceSource() = default;

TFleetDb* TCertTraceSource::index()
{
    if (!m_tried) {
        m_tried = true;
        const QString dest = AppState::AddLastSlash(m_state.FLogDestDir);
        // Only an index that is there: printing never makes one.
        if (!m_state.FLogDestDir.trimmed().isEmpty() && QFileInfo(dest + TFleetDb::FileName()).isFile()) {
            auto db = std::make_unique<TFleetDb>(dest);
            if (db->Open())
                m_db = std::move(db);
        }
    }
    return m_db.get();
}

RCertTrace TCertTraceSource::Of(const RDockTestInfo& info, const QString& file)
{
    RCertTrace t;
    t.mFile = file.isEmpty() ? info.mFile : file;
    t.mSha256 = FileSha256(t.mFile);
    t.mAsOf = NowDays();
    TFleetDb* db = index();
    if (!db)
        return t;
    RFleetStatusRow row;
    if (info.mSN.trimmed().isEmpty() ||
        !FleetStatusRow(*db, info.mSN.trimmed(), FleetPolicyOf(m_state.settings), t.mAsOf, &row)) {
        t.mFleet = RCertTrace::NotIndexed;
        return t;
    }
    t.mFleet = RCertTrace::Known;
    t.mNextBump = row.mNextBump;
    t.mNextCal = row.mNextCal;
    return t;
}
