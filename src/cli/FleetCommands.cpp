#include "cli/FleetCommands.h"

#include <QDir>
#include <algorithm>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include "app/AppState.h"
#include "app/FleetUpdate.h"
#include "fleet/FleetDb.h"
#include "fleet/FleetFormat.h"

namespace {

enum { ExitOk = 0, ExitFailure = 1, ExitUsage = 2 };

int usage(QTextStream& err, const QString& message)
{
    err << "marvane-cli: " << message << Qt::endl << "Try 'marvane-cli --help'." << Qt::endl;
    return ExitUsage;
}

int failure(QTextStream& err, const QString& message)
{
    err << "marvane-cli: " << message << Qt::endl;
    return ExitFailure;
}

// Opens the index of the log destination; builds it when there is none yet.
bool openIndex(AppState& state, TFleetDb& db, QTextStream& err, bool* built)
{
    QString error, notice;
    const bool existed = QFileInfo::exists(db.path());
    if (!db.Open(&notice, &error)) {
        err << "marvane-cli: " << error << Qt::endl;
        return false;
    }
    if (!notice.isEmpty())
        err << "marvane-cli: " << notice << Qt::endl;
    *built = false;
    if (!existed || !notice.isEmpty()) {
        RFleetUpdate u;
        if (!db.Rebuild(&u, &error)) {
            err << "marvane-cli: " << error << Qt::endl;
            return false;
        }
        *built = true;
    }
    Q_UNUSED(state);
    return true;
}

bool takeFormat(QStringList& args, FleetFormat* f, QString* bad)
{
    const int i = int(args.indexOf(QStringLiteral("--format")));
    if (i < 0)
        return true;
    if (i + 1 >= args.size() || !FleetFormatFromKey(args[i + 1], f)) {
        *bad = QStringLiteral("--format takes table, csv or json");
        return false;
    }
    args.remove(i, 2);
    return true;
}

QJsonObject statusObject(const RFleetStatusRow& r)
{
    const QStringList cols = FleetStatusColumns();
    const QJsonArray one = QJsonDocument::fromJson(FleetRowsText(FleetFormat::Json, cols, {FleetStatusValues(r)})).array();
    return one.first().toObject();
}

QJsonArray rowsArray(const QStringList& cols, const QVector<QStringList>& rows)
{
    return QJsonDocument::fromJson(FleetRowsText(FleetFormat::Json, cols, rows)).array();
}

int status(QStringList args, AppState& state, QTextStream& out, QTextStream& err)
{
    FleetFormat f = FleetFormat::Table;
    QString bad;
    if (!takeFormat(args, &f, &bad))
        return usage(err, bad);
    bool filtered = false;
    FleetStatus want = FleetStatus::Ok;
    const int i = int(args.indexOf(QStringLiteral("--status")));
    if (i >= 0) {
        if (i + 1 >= args.size() || !FleetStatusFromKey(args[i + 1], &want))
            return usage(err, "--status takes failed, overdue, due, alarm, ok or unknown");
        filtered = true;
        args.remove(i, 2);
    }
    if (!args.isEmpty())
        return usage(err, QStringLiteral("fleet status: unexpected '%1'").arg(args.first()));
    TFleetDb db(AppState::AddLastSlash(state.FLogDestDir));
    bool built = false;
    if (!openIndex(state, db, err, &built))
        return ExitFailure;
    QVector<RFleetStatusRow> rows = FleetStatusRows(db, FleetPolicyOf(state.settings), NowDays());
    // Worst first, then by serial: what needs attention comes first.
    std::stable_sort(rows.begin(), rows.end(), [](const RFleetStatusRow& a, const RFleetStatusRow& b) {
        return a.mStatus < b.mStatus;
    });
    const QString counts = FleetCountsText(rows);
    if (filtered)
        rows.erase(std::remove_if(rows.begin(), rows.end(), [want](const RFleetStatusRow& r) { return r.mStatus != want; }),
                   rows.end());
    if (f == FleetFormat::Table) {
        const QStringList cols = {"serial", "status", "gas", "dock", "location", "last_bump", "last_calibration",
                                  "next_due", "alarms", "reason"};
        QVector<QStringList> values;
        for (const RFleetStatusRow& r : rows) {
            const QStringList v = FleetStatusValues(r);
            values.append({v[0], FleetStatusWord(r.mStatus), v[2], v[3], v[4], v[5].left(10), v[7].left(10), v[11],
                           v[12], v[16]});
        }
        out << counts << '\n' << QString::fromUtf8(FleetRowsText(f, cols, values));
    } else {
        QVector<QStringList> values;
        for (const RFleetStatusRow& r : rows)
            values.append(FleetStatusValues(r));
        out << QString::fromUtf8(FleetRowsText(f, FleetStatusColumns(), values));
    }
    out.flush();
    return ExitOk;
}

int show(QStringList args, AppState& state, QTextStream& out, QTextStream& err)
{
    FleetFormat f = FleetFormat::Table;
    QString bad;
    if (!takeFormat(args, &f, &bad))
        return usage(err, bad);
    if (args.size() != 1)
        return usage(err, "fleet show needs one serial number");
    TFleetDb db(AppState::AddLastSlash(state.FLogDestDir));
    bool built = false;
    if (!openIndex(state, db, err, &built))
        return ExitFailure;
    RFleetStatusRow row;
    if (!FleetStatusRow(db, args.first(), FleetPolicyOf(state.settings), NowDays(), &row))
        return failure(err, QStringLiteral("no instrument %1 in the fleet index").arg(args.first().trimmed().toUpper()));
    const QVector<RFleetResult> results = db.Results(row.mInst.mInstrument);
    const QVector<RFleetEvent> events = db.Events(row.mInst.mInstrument);
    const RFleetWear wear = FleetWear(results, NowDays());
    QVector<QStringList> rv, ev;
    for (const RFleetResult& r : results)
        rv.append(FleetResultValues(r));
    for (const RFleetEvent& e : events)
        ev.append(FleetEventValues(e));
    if (f == FleetFormat::Json) {
        QJsonObject o = statusObject(row);
        QJsonObject w;
        QJsonArray pts;
        for (const RFleetWearPoint& p : wear.mPoints)
            pts.append(QJsonObject{{"date", FleetDateText(p.mDate)}, {"sensitivity", p.mSensitivity}});
        w.insert("points", pts);
        w.insert("slope_per_day", wear.mHasLine ? QJsonValue(wear.mSlopePerDay) : QJsonValue(QJsonValue::Null));
        w.insert("limit", wear.mHasLimit ? QJsonValue(wear.mLimit) : QJsonValue(QJsonValue::Null));
        w.insert("predicted_failure", wear.mPredicted > 0 ? QJsonValue(FleetDayText(wear.mPredicted).left(7))
                                                          : QJsonValue(QJsonValue::Null));
        o.insert("wear", w);
        o.insert("results", rowsArray(FleetResultColumns(), rv));
        o.insert("events", rowsArray(FleetEventColumns(), ev));
        out << QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Indented));
    } else if (f == FleetFormat::Csv) {
        out << QString::fromUtf8(FleetRowsText(f, FleetStatusColumns(), {FleetStatusValues(row)})) << "\r\n"
            << QString::fromUtf8(FleetRowsText(f, FleetResultColumns(), rv)) << "\r\n"
            << QString::fromUtf8(FleetRowsText(f, FleetEventColumns(), ev));
    } else {
        const RFleetInstrument& i = row.mInst;
        out << i.mInstrument << "  " << i.mGas << "  dock " << i.mDock << "  " << i.mLocation << '\n'
            << "status: " << FleetStatusWord(row.mStatus) << " (" << FleetReasonsText(row) << ")\n"
            << "next bump test due: " << (row.mNextBump > 0 ? FleetDayText(row.mNextBump) : QStringLiteral("-"))
            << " (every " << row.mBumpIntervalDays << " days, " << (row.mBumpIntervalFromDock ? "dock" : "policy")
            << ")\n"
            << "next calibration due: " << (row.mNextCal > 0 ? FleetDayText(row.mNextCal) : QStringLiteral("-"))
            << " (every " << row.mCalIntervalDays << " days, " << (row.mCalIntervalFromDock ? "dock" : "policy")
            << ")\n";
        const QString wt = FleetWearText(wear);
        if (wear.mHasLine)
            out << "span sensitivity: " << QString::number(wear.mPoints.last().mSensitivity, 'f', 3) << ", "
                << QString::number(wear.mSlopePerDay * 365, 'f', 3) << " per year"
                << (wt.isEmpty() ? QString() : QStringLiteral("; ") + wt) << '\n';
        QVector<QStringList> hist;
        for (const RFleetResult& r : results)
            hist.append({FleetDateText(r.mDate), r.mKind == 1 ? "calibration" : "bump test", r.mOverall,
                         QString::number(r.mSpan.mConcentration) + ' ' + r.mUnit,
                         QString::number(r.mSpan.mReading), r.mPath});
        out << '\n' << QString::fromUtf8(FleetRowsText(FleetFormat::Table,
                                                        {"date", "test", "result", "gas_applied", "reading", "file"}, hist));
        QVector<QStringList> al;
        for (const RFleetEvent& e : events)
            if (e.mCounted)
                al.append({FleetDateText(e.mDate), e.mAlarm, QString::number(e.mDuration), QString::number(e.mReading)});
        if (!al.isEmpty())
            out << '\n' << QString::fromUtf8(FleetRowsText(FleetFormat::Table, {"alarm", "kind", "seconds", "reading"}, al));
    }
    out.flush();
    return ExitOk;
}

int exportAll(QStringList args, AppState& state, QTextStream& err)
{
    FleetFormat f = FleetFormat::Table;
    QString bad;
    if (!takeFormat(args, &f, &bad))
        return usage(err, bad);
    if (f == FleetFormat::Table || args.size() != 1)
        return usage(err, "fleet export needs --format csv|json and one output file");
    TFleetDb db(AppState::AddLastSlash(state.FLogDestDir));
    bool built = false;
    if (!openIndex(state, db, err, &built))
        return ExitFailure;
    QVector<QStringList> rows;
    if (!db.ForEachResult([&](const RFleetResult& r) {
            rows.append(FleetResultValues(r));
            return true;
        }))
        return failure(err, db.lastError());
    // Written whole or not at all.
    QSaveFile file(args.first());
    if (!file.open(QIODevice::WriteOnly))
        return failure(err, QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(args.first()), file.errorString()));
    file.write(FleetRowsText(f, FleetResultColumns(), rows));
    if (!file.commit())
        return failure(err, QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(args.first()), file.errorString()));
    err << rows.size() << " tests written to " << QDir::toNativeSeparators(args.first()) << Qt::endl;
    return ExitOk;
}

int rebuild(const QStringList& args, AppState& state, QTextStream& out, QTextStream& err)
{
    if (!args.isEmpty())
        return usage(err, "fleet rebuild takes no arguments");
    TFleetDb db(AppState::AddLastSlash(state.FLogDestDir));
    RFleetUpdate u;
    QString error;
    if (!db.Rebuild(&u, &error))
        return failure(err, error);
    if (!u.mNotice.isEmpty())
        err << "marvane-cli: " << u.mNotice << Qt::endl;
    for (const QString& p : u.mUnreadable)
        err << "marvane-cli: not readable, not indexed: " << QDir::toNativeSeparators(p) << Qt::endl;
    out << QStringLiteral("fleet index rebuilt: %1 files, %2 results, %3 event lines, %4 instruments")
               .arg(u.mFilesRead).arg(u.mResults).arg(u.mEvents).arg(db.Instruments().size())
        << Qt::endl;
    return ExitOk;
}

} // namespace

bool IsFleetCommand(const QString& command) { return command == QLatin1String("fleet"); }

int RunFleetCommand(const QString& command, QStringList args, AppState& state, QTextStream& out, QTextStream& err)
{
    Q_UNUSED(command);
    const QString sub = args.isEmpty() ? QString() : args.takeFirst();
    if (state.FLogDestDir.trimmed().isEmpty() || !QDir(state.FLogDestDir).exists())
        return failure(err, QStringLiteral("the log destination %1 does not exist")
                                .arg(QDir::toNativeSeparators(state.FLogDestDir)));
    if (sub == QLatin1String("status"))
        return status(args, state, out, err);
    if (sub == QLatin1String("show"))
        return show(args, state, out, err);
    if (sub == QLatin1String("export"))
        return exportAll(args, state, err);
    if (sub == QLatin1String("rebuild"))
        return rebuild(args, state, out, err);
    return usage(err, "fleet needs status, show, export or rebuild");
}
