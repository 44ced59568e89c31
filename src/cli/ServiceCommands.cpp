#include "cli/ServiceCommands.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QMap>
#include <QTimer>
#include <csignal>

#include "app/MainCore.h"
#include "cli/CliOperatorPort.h"
#include "service/ServiceCommands.h"
#include "service/TaskMonitor.h"

namespace {

enum Exit { ExitOk = 0, ExitFailure = 1, ExitUsage = 2 };

struct UsageError {
    QString message;
};

// --name value (or --duty D1 D2), flags, and the words before the first option.
struct Options {
    QMap<QString, QStringList> values;
    QStringList flags;
    QStringList words;
    QString value(const QString& n, const QString& def = {}) const
    {
        return values.contains(n) ? values[n].value(0) : def;
    }
};

Options parse(QStringList args, const QMap<QString, int>& withValues, const QStringList& flags)
{
    Options o;
    while (!args.isEmpty()) {
        const QString a = args.takeFirst();
        if (!a.startsWith("--")) {
            o.words << a;
            continue;
        }
        const QString name = a.mid(2);
        if (withValues.contains(name)) {
            QStringList v;
            for (int i = 0; i < withValues[name]; ++i) {
                if (args.isEmpty())
                    throw UsageError{QStringLiteral("option %1 needs %2 value(s)").arg(a).arg(withValues[name])};
                v << args.takeFirst();
            }
            o.values[name] = v;
        } else if (flags.contains(name)) {
            o.flags << name;
        } else {
            throw UsageError{QStringLiteral("unknown option %1").arg(a)};
        }
    }
    return o;
}

double decimal(const Options& o, const QString& name, double def, double lo, double hi)
{
    if (!o.values.contains(name))
        return def;
    bool ok = false;
    const double v = o.value(name).toDouble(&ok);
    if (!ok || !(v >= lo && v <= hi))
        throw UsageError{QStringLiteral("--%1 takes a number from %2 to %3, not '%4'").arg(name).arg(lo).arg(hi).arg(o.value(name))};
    return v;
}

int whole(const QString& text, const QString& name, int lo, int hi)
{
    bool ok = false;
    const int v = text.toInt(&ok);
    if (!ok || v < lo || v > hi)
        throw UsageError{QStringLiteral("--%1 takes a whole number from %2 to %3, not '%4'").arg(name).arg(lo).arg(hi).arg(text)};
    return v;
}

int whole(const Options& o, const QString& name, int def, int lo, int hi)
{
    return o.values.contains(name) ? whole(o.value(name), name, lo, hi) : def;
}

QString serialText(const QString& s, const QString& what)
{
    if (s.isEmpty())
        throw UsageError{what + QStringLiteral(" must not be empty")};
    if (!IsServiceSerialText(s))
        throw UsageError{what + QStringLiteral(" may hold only ASCII letters, digits and signs")};
    return s.toUpper();
}

int sensorIndex(const Options& o)
{
    static const QStringList kSensors = {"H2S", "CO", "O2", "SO2"};
    const QString s = o.value("sensor", "H2S").toUpper();
    const int i = int(kSensors.indexOf(s));
    if (i < 0)
        throw UsageError{QStringLiteral("--sensor takes H2S, CO, O2 or SO2, not '%1'").arg(o.value("sensor"))};
    return i;
}

const QMap<QString, int> kLink = {{"link", 1}, {"port", 1}};

// The service commands use the cable's transport directly, whatever link: --link
// only matters to the production group, which wants the cable chosen.
void prepare(TMainCore& core, const Options& o)
{
    if (!o.values.contains("port"))
        throw UsageError{"this command needs --port DEV (the dock's serial device)"};
    const QString l = o.value("link", "cable").toLower();
    const QMap<QString, LinkChoice> links = {{"usb", LinkChoice::Disk},   {"cable", LinkChoice::Comm},
                                             {"serial", LinkChoice::Comm}, {"udp", LinkChoice::Udp},
                                             {"tcp", LinkChoice::Lan}};
    if (!links.contains(l))
        throw UsageError{QStringLiteral("unknown link '%1' (usb, cable, udp or tcp)").arg(l)};
    core.OpDeviceConnectCommPortComboText = o.value("port");
    core.link = links[l];
    core.FUnitDef = &core.DockComm;
    core.DebugLogUnitCheck = true;
}

int failed(TServiceCommands& svc, QTextStream& err, const QString& what)
{
    err << "marvane-cli: " << what;
    if (!svc.LastError.isEmpty())
        err << ": " << svc.LastError;
    err << Qt::endl;
    return ExitFailure;
}

int cmdService(TMainCore& core, CliOperatorPort& port, QStringList args, QTextStream& out, QTextStream& err)
{
    TServiceCommands svc(core);
    const QString sub = args.isEmpty() ? QString() : args.takeFirst();
    if (sub == "sn") {
        const Options o = parse(args, kLink, {});
        const QString verb = o.words.value(0);
        prepare(core, o);
        if (verb == "read" && o.words.size() == 1) {
            if (!svc.DebugOpReadSNBtnClick())
                return failed(svc, err, "the serial number could not be read");
            out << svc.DebugOpSNEdit << Qt::endl;
            return ExitOk;
        }
        if (verb == "write" && o.words.size() == 2) {
            svc.DebugOpSNEdit = serialText(o.words[1], "the serial number");
            if (svc.DebugOpSNEdit.size() > SERVICE_SN_MAX)
                err << "marvane-cli: only the first " << SERVICE_SN_MAX << " characters are sent" << Qt::endl;
            if (!svc.DebugOpWriteSNBtnClick()) {
                if (!svc.DebugOpSNEdit.isEmpty())
                    out << svc.DebugOpSNEdit << Qt::endl; // what the dock keeps now
                return failed(svc, err, "the serial number was not written as given");
            }
            out << svc.DebugOpSNEdit << Qt::endl;
            return ExitOk;
        }
        throw UsageError{"service sn needs 'read' or 'write SN'"};
    }
    if (sub == "production") {
        QMap<QString, int> v = kLink;
        v.insert({{"sn", 1}, {"offset", 1}, {"duty", 2}});
        const Options o = parse(args, v, {});
        const QString verb = o.words.value(0);
        if (o.words.size() != 1 || (verb != "read" && verb != "set"))
            throw UsageError{"service production needs 'read' or 'set --sn SN --offset HOURS --duty D1 D2'"};
        if (verb == "set") {
            if (!o.values.contains("sn"))
                throw UsageError{"service production set needs --sn SN"};
            svc.PCProdNameEdit = serialText(o.value("sn"), "--sn");
            svc.PCProdOffsetEdit = decimal(o, "offset", 0, -23, 23);
            if (o.values.contains("duty")) {
                svc.PCProdDuty1Edit = whole(o.values["duty"][0], "duty", 0, 50);
                svc.PCProdDuty2Edit = whole(o.values["duty"][1], "duty", 0, 50);
            }
        }
        prepare(core, o);
        const bool ok = verb == "read" ? svc.PCProdReadBtnClick() : svc.PCProdSetBtnClick();
        if (!svc.PCProdReadLabel.isEmpty())
            out << svc.PCProdReadLabel << Qt::endl;
        return ok ? ExitOk : failed(svc, err, "production " + verb + " did not complete");
    }
    if (sub == "pump-test" || sub == "gd-clear") {
        const Options o = parse(args, kLink, sub == "gd-clear" ? QStringList{"yes"} : QStringList{});
        if (!o.words.isEmpty())
            throw UsageError{QStringLiteral("unexpected argument '%1'").arg(o.words.first())};
        prepare(core, o);
        if (sub == "gd-clear") {
            // The window asks; here the flag is the answer, and without it nothing is sent.
            if (!o.flags.contains("yes")) {
                err << "marvane-cli: not sent: gd-clear erases the data memory (event logs and test results) of "
                       "every instrument in the dock's bays; give --yes to send it"
                    << Qt::endl;
                return ExitFailure;
            }
            port.answer(LANG_SVC_GDCLEAR_ASK, true);
        }
        const bool ok = sub == "pump-test" ? svc.PCPumpTestBtnClick() : svc.PCGDDFClearBtnClick();
        return ok ? ExitOk : failed(svc, err, "the command did not complete");
    }
    if (sub == "simulate") {
        QMap<QString, int> v = kLink;
        v.insert({{"sn", 1}, {"sensor", 1}, {"level", 1}, {"type", 1}, {"duration", 1}, {"zero-pre", 1},
                  {"zero", 1}, {"zero-time", 1}, {"span-pre", 1}, {"span", 1}, {"span-time", 1}});
        const Options o = parse(args, v, {});
        const QString kind = o.words.value(0);
        if (o.words.size() != 1 || (kind != "event" && kind != "bump" && kind != "cal"))
            throw UsageError{"service simulate needs 'event', 'bump' or 'cal'"};
        svc.PCSimSNEdit = serialText(o.value("sn", svc.PCSimSNEdit), "--sn");
        svc.PCSimSensorComboIndex = sensorIndex(o);
        // Decimal values past the 16-bit range are clamped when the record is built.
        constexpr double kBig = 1e9;
        bool ok = false;
        if (kind == "event") {
            const QString type = o.value("type", "low").toLower();
            if (type != "low" && type != "high")
                throw UsageError{"--type takes low or high"};
            svc.PCSimEventTypeRadioIndex = type == "high" ? 1 : 0;
            svc.PCSimEventAlarmEdit = decimal(o, "level", svc.PCSimEventAlarmEdit, -kBig, kBig);
            svc.PCSimEventDurationEdit = whole(o, "duration", svc.PCSimEventDurationEdit, 0, 65535);
            prepare(core, o);
            ok = svc.PCSimEventAddBtnClick();
        } else {
            svc.PCSimTestZeroPreEdit = decimal(o, "zero-pre", svc.PCSimTestZeroPreEdit, -kBig, kBig);
            svc.PCSimTestZeroEdit = decimal(o, "zero", svc.PCSimTestZeroEdit, -kBig, kBig);
            svc.PCSimTestZeroTimeEdit = whole(o, "zero-time", svc.PCSimTestZeroTimeEdit, 0, 255);
            svc.PCSimTestSpanPreEdit = decimal(o, "span-pre", svc.PCSimTestSpanPreEdit, -kBig, kBig);
            svc.PCSimTestSpanEdit = decimal(o, "span", svc.PCSimTestSpanEdit, -kBig, kBig);
            svc.PCSimTestSpanTimeEdit = whole(o, "span-time", svc.PCSimTestSpanTimeEdit, 0, 255);
            prepare(core, o);
            ok = svc.PCSimTestBumpBtnClick(kind == "cal" ? 2 : 1);
        }
        return ok ? ExitOk : failed(svc, err, "the simulation record was not sent");
    }
    throw UsageError{"service needs sn, production, pump-test, gd-clear or simulate"};
}

// ---- monitor ----

void printStatus(const TTaskMonitor& m, QTextStream& out)
{
    out << "Task: " << m.TaskStatusLabel << "  USB: " << (m.TaskUsb ? "on" : "off") << '\n';
    for (int b = 0; b < 4; ++b) {
        const auto& d = m.Bays[size_t(b)];
        out << "  Bay " << b + 1 << ": " << qSetFieldWidth(14) << Qt::left << d.status << qSetFieldWidth(0)
            << " step " << d.step << "  timer " << d.timer << '\n';
    }
    out.flush();
}

void printResult(const TTaskMonitor& m, QTextStream& out)
{
    for (int r = 0; r < TTaskMonitor::RES_ROWS; ++r) {
        if (m.ResTestGrid[r][0].trimmed().isEmpty())
            continue;
        out << qSetFieldWidth(14) << Qt::left << m.ResTestGrid[r][0];
        for (int c = 1; c < TTaskMonitor::RES_COLS; ++c)
            out << qSetFieldWidth(24) << m.ResTestGrid[r][c];
        out << qSetFieldWidth(0) << '\n';
    }
    out.flush();
}

void printLog(const TTaskMonitor& m, QTextStream& out)
{
    for (int r = 0; r < TTaskMonitor::LOG_ROWS; ++r) {
        bool any = false;
        for (int c = 1; c < TTaskMonitor::LOG_COLS; ++c)
            any = any || !m.ResLogGrid[r][c].isEmpty();
        if (!any)
            break;
        out << qSetFieldWidth(5) << Qt::right << m.ResLogGrid[r][0];
        for (int c = 1; c < TTaskMonitor::LOG_COLS; ++c)
            out << qSetFieldWidth(10) << m.ResLogGrid[r][c];
        out << qSetFieldWidth(0) << '\n';
    }
    out.flush();
}

// Set by SIGINT or SIGTERM; the watch loop looks at it from a timer.
volatile std::sig_atomic_t g_stopWatch = 0;
extern "C" void stopWatch(int) { g_stopWatch = 1; }

int cmdMonitor(TMainCore& core, QStringList args, QTextStream& out, QTextStream& err)
{
    QMap<QString, int> v = kLink;
    v.insert("seconds", 1);
    const Options o = parse(args, v, {"save"});
    const QString verb = o.words.value(0);
    if (o.words.size() != 1 || !QStringList{"status", "result", "log", "watch"}.contains(verb))
        throw UsageError{"monitor needs status, result, log [--save] or watch [--seconds N]"};
    if (o.flags.contains("save") && verb != "result" && verb != "log")
        throw UsageError{"--save goes with 'result' or 'log'"};
    if (o.values.contains("seconds") && verb != "watch")
        throw UsageError{"--seconds goes with 'watch'"};
    const int seconds = whole(o, "seconds", 10, 1, 86400);
    prepare(core, o);
    TServiceCommands svc(core);
    int rc = ExitOk;
    const bool opened = svc.PCOpBtnClick([&] {
        TTaskMonitor m(core.DockComm);
        m.ProgramFolder = core.state.GVPath;
        m.LogDestination = core.state.FLogDestDir;
        m.LogLine = [&](const QString& s) { err << s << Qt::endl; };
        if (verb == "status") {
            if (!m.GetTaskStatus())
                rc = ExitFailure;
            else
                printStatus(m, out);
        } else if (verb == "result") {
            if (!m.GetTaskResult())
                rc = ExitFailure;
            else
                printResult(m, out);
            if (rc == ExitOk && o.flags.contains("save") && m.SaveResult().isEmpty())
                rc = ExitFailure;
        } else if (verb == "log") {
            if (m.GetTaskLog() == 0)
                rc = ExitFailure;
            else
                printLog(m, out);
            if (rc == ExitOk && o.flags.contains("save") && m.SaveLog().isEmpty())
                rc = ExitFailure;
        } else {
            QEventLoop loop;
            int shown = 0;
            m.StatusRead = [&] {
                ++shown;
                printStatus(m, out);
            };
            m.LoopEnded = [&] { loop.quit(); };
            QTimer::singleShot(seconds * 1000, &loop, [&] { m.Stop(); });
            g_stopWatch = 0;
            QTimer interrupt;
            QObject::connect(&interrupt, &QTimer::timeout, &loop, [&] {
                if (g_stopWatch)
                    m.Stop();
            });
            interrupt.start(100);
            auto oldInt = std::signal(SIGINT, stopWatch);
            auto oldTerm = std::signal(SIGTERM, stopWatch);
            m.TestStart();
            if (m.FTest)
                loop.exec();
            m.Stop();
            m.Pass(); // ends the loop's state if the timer had not yet
            std::signal(SIGINT, oldInt);
            std::signal(SIGTERM, oldTerm);
            if (shown == 0 || !core.DockComm.FComEnable)
                rc = ExitFailure;
        }
        if (rc != ExitOk)
            err << "marvane-cli: the dock did not answer the monitor's request" << Qt::endl;
    });
    if (!opened) {
        err << "marvane-cli: the port could not be opened: " << svc.LastError << Qt::endl;
        return ExitFailure;
    }
    return rc;
}

} // namespace

bool IsServiceCommand(const QString& command) { return command == "service" || command == "monitor"; }

int RunServiceCommand(const QString& command, QStringList args, AppState& state, CliOperatorPort& port,
                      QTextStream& out, QTextStream& err)
{
    try {
        TMainCore core(state, port);
        if (command == "service")
            return cmdService(core, port, args, out, err);
        return cmdMonitor(core, args, out, err);
    } catch (const UsageError& e) {
        err << "marvane-cli: " << e.message << Qt::endl << "Try 'marvane-cli --help'." << Qt::endl;
        return ExitUsage;
    }
}
