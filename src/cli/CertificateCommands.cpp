#include "cli/CertificateCommands.h"

#include <QDate>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHash>
#include <QSet>
#include <QTextStream>
#include <algorithm>

#include "app/AppState.h"
#include "app/CertTrace.h"
#include "cli/CliOperatorPort.h"
#include "logview/CertPage.h"
#include "logview/TestResult.h"

namespace {

enum Exit { ExitOk = 0, ExitFailure = 1, ExitUsage = 2 };

struct Options {
    QString file;
    bool store = false;
    int layout = -1; // from the settings
    bool testerGiven = false;
    QString tester;
    QString pdf, png, bmp;
    QDate since;
    uint8_t kind = TEST_KIND_NONE; // both
};

struct UsageError {
    QString message;
};

Options parse(QStringList args)
{
    Options o;
    auto value = [&](const QString& flag) {
        if (args.isEmpty())
            throw UsageError{flag + QStringLiteral(" needs a value")};
        return args.takeFirst();
    };
    while (!args.isEmpty()) {
        const QString a = args.takeFirst();
        if (a == "--store")
            o.store = true;
        else if (a == "--layout") {
            const QString v = value(a).toLower();
            QStringList names;
            for (const RCertLayout& l : CertLayouts()) {
                names << l.mCliName;
                if (v == l.mCliName)
                    o.layout = l.mId;
            }
            if (o.layout < 0)
                throw UsageError{QStringLiteral("--layout must be one of: ") + names.join(QStringLiteral(", "))};
        } else if (a == "--tester") {
            o.tester = value(a);
            o.testerGiven = true;
        } else if (a == "--pdf")
            o.pdf = value(a);
        else if (a == "--png")
            o.png = value(a);
        else if (a == "--bmp")
            o.bmp = value(a);
        else if (a == "--since") {
            const QString v = value(a);
            o.since = QDate::fromString(v, QStringLiteral("yyyy-MM-dd"));
            if (!o.since.isValid())
                throw UsageError{QStringLiteral("--since '%1' is not a date YYYY-MM-DD").arg(v)};
        } else if (a == "--kind") {
            const QString v = value(a).toLower();
            if (v == "cal")
                o.kind = TEST_KIND_CAL;
            else if (v == "bump")
                o.kind = TEST_KIND_BUMP;
            else
                throw UsageError{QStringLiteral("--kind must be cal or bump")};
        } else if (a.startsWith("--"))
            throw UsageError{QStringLiteral("unknown option '%1'").arg(a)};
        else if (o.file.isEmpty())
            o.file = a;
        else
            throw UsageError{QStringLiteral("only one result file at a time")};
    }
    const int outputs = int(!o.pdf.isEmpty()) + int(!o.png.isEmpty()) + int(!o.bmp.isEmpty());
    if (o.store) {
        if (!o.file.isEmpty())
            throw UsageError{QStringLiteral("--store takes no result file")};
        if (o.pdf.isEmpty() || outputs != 1)
            throw UsageError{QStringLiteral("--store needs --pdf DIR")};
    } else {
        if (o.file.isEmpty())
            throw UsageError{QStringLiteral("certificate needs a result FILE or --store")};
        if (outputs != 1)
            throw UsageError{QStringLiteral("give exactly one of --pdf, --png, --bmp")};
        if (!o.since.isNull() || o.kind != TEST_KIND_NONE)
            throw UsageError{QStringLiteral("--since and --kind go with --store")};
    }
    return o;
}

struct StoreResult {
    QString file;
    uint8_t kind = TEST_KIND_NONE;
    QString serialFolder;
};

// Every calibration and bump result of the local store, oldest folder first.
QVector<StoreResult> storeResults(const QString& dest, uint8_t only)
{
    QVector<StoreResult> out;
    const QDir km1(dest + QStringLiteral("KM1"));
    for (const QString& serial : km1.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
        const QDir sn(km1.filePath(serial));
        for (const QString& sub : sn.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
            uint8_t kind = TEST_KIND_NONE;
            if (sub.compare("CAL", Qt::CaseInsensitive) == 0)
                kind = TEST_KIND_CAL;
            else if (sub.compare("BUMP", Qt::CaseInsensitive) == 0)
                kind = TEST_KIND_BUMP;
            if (kind == TEST_KIND_NONE || (only != TEST_KIND_NONE && kind != only))
                continue;
            const QDir d(sn.filePath(sub));
            for (const QFileInfo& f : d.entryInfoList(QDir::Files, QDir::Name))
                if (f.suffix().compare("XML", Qt::CaseInsensitive) == 0)
                    out.append({f.filePath(), kind, serial});
        }
    }
    return out;
}

// One PDF name per result: a name two results share (the same file name in two
// instruments' folders) takes the serial folder in front, and a clash left after
// that a counter, so that no certificate overwrites another.
QStringList outputNames(const QVector<StoreResult>& results)
{
    QHash<QString, int> uses;
    for (const StoreResult& r : results)
        ++uses[QFileInfo(r.file).completeBaseName().toLower()];
    QSet<QString> taken;
    QStringList names;
    for (const StoreResult& r : results) {
        const QString base = QFileInfo(r.file).completeBaseName();
        QString name = uses.value(base.toLower()) > 1 ? r.serialFolder + QLatin1Char('_') + base : base;
        for (int n = 2; taken.contains(name.toLower()); ++n)
            name = (uses.value(base.toLower()) > 1 ? r.serialFolder + QLatin1Char('_') + base : base) +
                   QStringLiteral("_%1").arg(n);
        taken.insert(name.toLower());
        names << name + QStringLiteral(".pdf");
    }
    return names;
}

QString readError(uint8_t code)
{
    switch (code) {
    case DOCKTEST_NO_FILE: return QStringLiteral("the file does not exist");
    case DOCKTEST_BAD_XML: return QStringLiteral("the file is damaged or not XML");
    case DOCKTEST_NO_INFO: return QStringLiteral("not a test result (no INFO)");
    case DOCKTEST_NO_GAS: return QStringLiteral("the result names no known gas");
    default: return QString();
    }
}

int run(const Options& o, AppState& state, CliOperatorPort& port, QTextStream& out, QTextStream& err)
{
    const AppSettings& s = state.settings;
    TCertRenderer r;
    r.port = &port;
    r.transferFolder = AppState::TransferFolder();
    r.writeBitmap = false; // "PRT.BMP" is the window's preview
    r.options = CertOptionsOf(state);
    if (o.layout >= 0)
        r.options.mLayout = o.layout;
    const QSizeF paper(210, 297);
    r.printerPage = RPrinterPage::FromMillimetres(paper, 600);
    const RPrintMargins margins{s.ConfigPrnMarginTopEdit, s.ConfigPrnMarginLeftEdit,
                                s.ConfigPrnMarginBottomEdit, s.ConfigPrnMarginRightEdit};

    // The window starts with the last tester chosen there.
    const QString name = o.testerGiven ? o.tester : state.FUserTester;
    if (!name.isEmpty()) {
        const int i = int(state.FUserNameList.indexOf(name));
        if (i < 0 && o.testerGiven) {
            err << "marvane-cli: no tester named '" << name << "' in the tester list (settings USER)" << Qt::endl;
            return ExitFailure;
        }
        if (i >= 0)
            r.tester = RCertTester{state.FUserNameList[i], state.FUserCompanyList.value(i),
                                   state.FUserPartList.value(i)};
    }

    TCertTraceSource traces(state);
    const bool traced = CertLayoutOf(r.options.mLayout).mTraced;
    auto draw = [&](const QString& file, uint8_t kind, QString* why) -> bool {
        RDockTestInfo info;
        const uint8_t code = GetDockTestInfo(kind, file, info);
        if (code != DOCKTEST_OK) {
            *why = readError(code);
            return false;
        }
        if (o.store && !o.since.isNull() && info.mDate < DateTimeToDays(o.since.startOfDay())) {
            if (!CertHasDate(info.mDate))
                err << "marvane-cli: " << QDir::toNativeSeparators(file)
                    << ": the result carries no date; --since leaves it out" << Qt::endl;
            *why = QString(); // older: not wanted
            return false;
        }
        if (traced)
            r.trace = traces.Of(info, file);
        if (r.Display(kind, info).mType == TEST_KIND_NONE || !r.page) {
            *why = QStringLiteral("no page could be drawn");
            return false;
        }
        return true;
    };

    if (!o.store) {
        QString why;
        if (!draw(o.file, TestKindOfResult(o.file), &why)) {
            err << "marvane-cli: " << QDir::toNativeSeparators(o.file) << ": " << why << Qt::endl;
            return ExitFailure;
        }
        bool ok = false;
        QString target, error;
        if (!o.pdf.isEmpty()) {
            target = o.pdf;
            ok = WriteCertPdf(*r.page, target, paper, margins, &error);
        } else {
            target = o.png.isEmpty() ? o.bmp : o.png;
            ok = r.page->toImage().save(target, o.png.isEmpty() ? "BMP" : "PNG");
            if (!ok)
                error = QStringLiteral("the image could not be written");
        }
        if (!ok) {
            err << "marvane-cli: " << QDir::toNativeSeparators(target) << ": " << error << Qt::endl;
            return ExitFailure;
        }
        out << QDir::toNativeSeparators(target) << Qt::endl;
        return ExitOk;
    }

    const QString dest = AppState::AddLastSlash(state.FLogDestDir);
    if (dest.isEmpty() || !QFileInfo(dest).isDir()) {
        err << "marvane-cli: no local store: set SET/LogDestination" << Qt::endl;
        return ExitFailure;
    }
    if (!QDir().mkpath(o.pdf)) {
        err << "marvane-cli: cannot create the folder " << QDir::toNativeSeparators(o.pdf) << Qt::endl;
        return ExitFailure;
    }
    const QString outDir = AppState::AddLastSlash(o.pdf);
    const auto results = storeResults(dest, o.kind);
    const QStringList names = outputNames(results);
    int written = 0, failed = 0;
    for (int i = 0; i < results.size(); ++i) {
        const QString& file = results[i].file;
        const uint8_t kind = results[i].kind;
        QString why;
        if (!draw(file, kind, &why)) {
            if (!why.isEmpty()) {
                err << "marvane-cli: " << QDir::toNativeSeparators(file) << ": " << why << Qt::endl;
                ++failed;
            }
            continue;
        }
        if (!CertHasDate(r.page->mInfo.mDate))
            err << "marvane-cli: " << QDir::toNativeSeparators(file)
                << ": the result carries no date; its certificate shows none" << Qt::endl;
        const QString target = outDir + names[i];
        QString error;
        if (WriteCertPdf(*r.page, target, paper, margins, &error))
            ++written;
        else {
            err << "marvane-cli: " << QDir::toNativeSeparators(target) << ": " << error << Qt::endl;
            ++failed;
        }
        if ((i + 1) % 100 == 0)
            err << (i + 1) << " of " << results.size() << " results" << Qt::endl;
    }
    out << written << " certificate(s) written to " << QDir::toNativeSeparators(outDir) << Qt::endl;
    if (failed)
        err << "marvane-cli: " << failed << " result(s) could not be drawn" << Qt::endl;
    return failed ? ExitFailure : ExitOk;
}

} // namespace

int RunCertificateMain(int argc, char** argv)
{
    // Pages are drawn without a display.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    QStringList args = app.arguments().mid(2);
    Options o;
    try {
        o = parse(args);
    } catch (const UsageError& e) {
        err << "marvane-cli: " << e.message << Qt::endl << "Try 'marvane-cli --help'." << Qt::endl;
        return ExitUsage;
    }
    CliOperatorPort port;
    AppState state(&port);
    state.StartUp();
    return run(o, state, port, out, err);
}
