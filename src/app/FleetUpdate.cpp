#include "app/FleetUpdate.h"

#include <QAtomicInt>
#include <QDir>
#include <QFileInfo>
#include <QFile>
#include <QSaveFile>

#include "app/AppState.h"
#include "app/GDConfig.h"
#include "app/MainCore.h"
#include "fleet/FleetDb.h"
#include "fleet/FleetFormat.h"
#include "lang/LangTable.h"

namespace {

QAtomicInt g_generation;

// BumpInterval and CalInterval of the four instrument files the last Read copied.
QVector<RFleetDockInterval> dockIntervals(const QString& transfer, const QString& dock)
{
    QVector<RFleetDockInterval> out;
    TGDPageModel model;
    model.InitConst();
    for (int c = 1; c <= CFG_MAX_GD; ++c) {
        const QString gas = FSensor[FGDSensorList[c]].mName;
        QFile f(transfer + gas + QStringLiteral(".CFG"));
        if (!f.open(QIODevice::ReadOnly))
            continue;
        model.ReadColumn(c, f.readAll());
        const auto& o = model.FGDOpt[c];
        RFleetDockInterval r;
        r.mDock = dock;
        r.mGas = gas;
        r.mBumpDays = o[GDOPT_BUMPINT].mChange ? int(o[GDOPT_BUMPINT].mValue) : 0;
        r.mCalDays = o[GDOPT_CALINT].mChange ? int(o[GDOPT_CALINT].mValue) : 0;
        r.mSeen = NowDays();
        out.append(r);
    }
    return out;
}

} // namespace

RFleetPolicy FleetPolicyOf(const AppSettings& s)
{
    RFleetPolicy p;
    p.mBumpIntervalDays = s.FleetBumpIntervalDays;
    p.mCalIntervalDays = s.FleetCalIntervalDays;
    p.mDueSoonDays = s.FleetDueSoonDays;
    p.mAlarmDays = s.FleetAlarmDays;
    return p;
}

bool UpdateFleetAfterSave(TMainCore& core, const QString& dockSerial)
{
    const QString dest = AppState::AddLastSlash(core.state.FLogDestDir);
    if (core.state.FLogDestDir.trimmed().isEmpty() || !QDir(dest).exists())
        return false;
    TFleetDb db(dest);
    RFleetUpdate u;
    QString error;
    bool ok = db.Open(&u.mNotice, &error);
    if (ok && !dockSerial.trimmed().isEmpty()) {
        const QVector<RFleetDockInterval> rows = dockIntervals(AppState::TransferFolder(), dockSerial.trimmed());
        if (!rows.isEmpty())
            ok = db.SetDockIntervals(rows, &error);
    }
    const QString notice = u.mNotice;
    if (ok)
        ok = db.Update(&u, &error);
    if (!notice.isEmpty() && u.mNotice.isEmpty())
        u.mNotice = notice;
    if (!u.mNotice.isEmpty())
        core.AddLog(LOGTYPE_PROGRESS2, LangText(922) + QStringLiteral(" : ") + u.mNotice);
    if (!ok) {
        core.AddLog(LOGTYPE_PROGRESS2, LangText(923) + QStringLiteral(" : ") + error);
        return false;
    }
    g_generation.fetchAndAddRelaxed(1);
    if (core.state.settings.FleetMailStatus && !WriteFleetStatusFile(core.state, &error))
        core.AddLog(LOGTYPE_PROGRESS2, LangText(923) + QStringLiteral(" : ") + error);
    core.AddLog(LOGTYPE_PROGRESS2, LangText(921) + QStringLiteral(" (%1, %2)").arg(u.mFilesRead).arg(u.mFilesRemoved));
    return true;
}

QString FleetStatusMailFile(const AppState& state)
{
    return AppState::AddLastSlash(state.FLogDestDir) + QStringLiteral("Report/FleetStatus.CSV");
}

bool WriteFleetStatusFile(const AppState& state, QString* error)
{
    TFleetDb db(AppState::AddLastSlash(state.FLogDestDir));
    if (!db.Open(nullptr, error))
        return false;
    const QByteArray csv = FleetStatusCsv(FleetStatusRows(db, FleetPolicyOf(state.settings), NowDays()));
    const QString path = FleetStatusMailFile(state);
    QDir().mkpath(QFileInfo(path).path());
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(csv) != csv.size() || !f.commit()) {
        if (error)
            *error = QDir::toNativeSeparators(path) + QStringLiteral(": ") + f.errorString();
        return false;
    }
    return true;
}

int FleetUpdateGeneration() { return g_generation.loadRelaxed(); }
