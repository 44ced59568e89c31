#include "service/TaskMonitor.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTime>

#include "lang/LangTable.h"
#include "link/serial/DockComm.h"
#include "platform/Platform.h"

namespace {

QString fromTable(const char* const* table, size_t size, uint8_t code, const char* other)
{
    return QString::fromLatin1(code < size ? table[code] : other);
}

QString tenths(int v) { return QString::number(v / 10.0, 'f', 1); }

const char* const kResultLabels[TTaskMonitor::RES_ROWS] = {
    "Bay",          "Product ID", "Version",     "Sensor Type",  "Life Remain",   "S/N",
    "RTC",          "",           "Detect",      "PC Command",   "Test Type",     "Event",
    "FW upgrade",   "Configuration", "Buzzer Test", "LED Test",  "Result",        "Hibernate",
    "Bump Time",    "Pre-Zero",   "Zero",        "Pre-Gas",      "Gas",           "Bottle",
    "Gas-ADC",      "Pre-Zero ADC", "Pre-Span",  "Temperature",  ""};

const char* const kLogHeader[TTaskMonitor::LOG_COLS] = {
    "NO", "#1-Gas", "#1-Purge", "#2-Gas", "#2-Purge", "#3-Gas", "#3-Purge", "#4-Gas", "#4-Purge"};

QByteArray crlfLines(const QStringList& lines)
{
    QString text;
    for (const QString& l : lines)
        text += l + QStringLiteral("\r\n");
    return platform::EncodeLegacy(text);
}

} // namespace

QString TaskStatusText(uint8_t status)
{
    static const char* const t[] = {"Error",     "Activation", "Idle", "Bump Test",
                                    "Calibration", "PC command", "---", "Driver Test"};
    return fromTable(t, std::size(t), status, "???");
}

QString BayStatusText(uint8_t status)
{
    static const char* const t[] = {"Undetected", "Detection",   "Save log",  "FW upgrade", "Configuration",
                                    "Buzzer Test", "LED test",   "Bump test", "Calibration", "Purge",
                                    "Hibernate",  "Pass",        "Error",     "Done"};
    return fromTable(t, std::size(t), status, "???");
}

QString PCCommandText(uint8_t cmd)
{
    if (cmd == 0)
        return QStringLiteral("Button");
    if (cmd >= 2 && cmd <= 10)
        return MonitorActionCaptions()[cmd - 2];
    return QStringLiteral("???");
}

QString TestTypeText(uint8_t type)
{
    if (type == 0)
        return QStringLiteral("Bump Test");
    if (type == 1 || type == 2)
        return QStringLiteral("Calibration");
    return QStringLiteral("---");
}

QString GetTestResult(uint8_t code)
{
    static const char* const t[] = {"NONE", "PASS", "FAIL", "INVALID", "ERROR", "ZERO FAILE"};
    return fromTable(t, std::size(t), code, "---");
}

QString SensorTypeText(uint8_t type)
{
    switch (type) {
    case 1: return QStringLiteral("H2S");
    case 2: return QStringLiteral("CO");
    case 4: return QStringLiteral("O2");
    case 8: return QStringLiteral("SO2");
    default: return QStringLiteral("???");
    }
}

QString GetSGDLifeRemain(uint32_t s)
{
    uint64_t months = 0, days = 0;
    if (s <= MAX_MONTH) {
        days = s <= MAX_DAY ? 1 : s / MAX_DAY + 1;
    } else {
        // 64-bit: the rounding allowance must not wrap near the top of the range.
        months = std::min<uint64_t>((uint64_t(s) + 86399) / MAX_MONTH, MAX_LIFE_MONTH);
        if (months * MAX_MONTH < s)
            days = std::min<uint64_t>((s - months * MAX_MONTH) / MAX_DAY + 1, 30);
    }
    return QStringLiteral("%1M %2D (%3)").arg(months).arg(days).arg(s);
}

QString LedBitsSuffix(uint8_t led)
{
    QString s = QStringLiteral(" [");
    for (int bit : {5, 4, 7, 6})
        s += (led >> bit) & 1 ? QLatin1Char('1') : QLatin1Char('0');
    return s + QLatin1Char(']');
}

QString RemainLifeRtcText(uint32_t seconds)
{
    if (seconds <= 1000)
        return QString();
    const QDateTime t = QDateTime(QDate(1970, 1, 1), QTime(0, 0), Qt::UTC).addSecs(seconds);
    return t.toString(QStringLiteral("yy-MM-dd HH:mm:ss"));
}

QStringList MonitorActionCaptions()
{
    return {QStringLiteral("Save Event"),  QStringLiteral("FW Upgrade"), QStringLiteral("Configuration"),
            QStringLiteral("Buzzer Test"), QStringLiteral("LED Test"),   QStringLiteral("Bump Test"),
            QStringLiteral("Calibration"), QStringLiteral("Purging"),    QStringLiteral("Hibernate")};
}

namespace {

// The language text of each English word the tables above write.
const struct {
    const char* english;
    int key;
} kShownWords[] = {
    {"Error", 709},        {"Activation", 1144},  {"Idle", 1145},        {"Bump Test", 110},
    {"Calibration", 109},  {"PC command", 1137},  {"Driver Test", 1146}, {"Undetected", 73},
    {"Detection", 1143},   {"Save log", 1123},    {"FW upgrade", 1124},  {"Configuration", 10},
    {"Buzzer Test", 1125}, {"LED test", 1126},    {"Bump test", 110},    {"Purge", 1127},
    {"Hibernate", 1128},   {"Pass", 70},          {"Done", 1147},        {"Button", 1148},
    {"Save Event", 1123},  {"FW Upgrade", 1124},  {"LED Test", 1126},    {"Purging", 1127},
    {"NONE", 69},          {"PASS", 70},          {"FAIL", 71},          {"INVALID", 1149},
    {"ERROR", 72},         {"ZERO FAILE", 1150},  {"Detect", 983},
};

} // namespace

QString ShownMonitorText(const QString& english)
{
    const qsizetype bits = english.indexOf(QLatin1String(" ["));
    const QString word = bits < 0 ? english : english.left(bits);
    for (const auto& w : kShownWords) {
        if (word != QLatin1String(w.english))
            continue;
        const QString shown = LangText(w.key, w.english);
        return bits < 0 ? shown : shown + english.mid(bits);
    }
    return english;
}

QString ShownResultLabel(int row)
{
    const QString pre = LangText(1140, "Pre-%1");
    const QString adc = LangText(1141, "%1 ADC");
    switch (row) {
    case 0: return LangText(1133, "Bay");
    case 1: return LangText(121, "Model");
    case 2: return LangText(3, "Version");
    case 3: return LangText(52, "Sensor");
    case 4: return LangText(63, "Life");
    case 5: return LangText(404, "SN");
    case 6: return LangText(428, "RTC");
    case 8: return LangText(1143, "Detection");
    case 9: return LangText(1137, "PC command");
    case 10: return LangText(1138, "Test type");
    case 11: return LangText(108, "Event");
    case 12: return LangText(1124, "FW Upgrade");
    case 13: return LangText(10, "Configuration");
    case 14: return LangText(1125, "Buzzer Test");
    case 15: return LangText(1126, "LED Test");
    case 16: return LangText(124, "Result");
    case 17: return LangText(1128, "Hibernate");
    case 18: return LangText(1139, "Bump time");
    case 19: return pre.arg(LangText(133, "Zero"));
    case 20: return LangText(133, "Zero");
    case 21: return pre.arg(LangText(8, "Gas"));
    case 22: return LangText(8, "Gas");
    case 23: return LangText(140, "Gas bottle");
    case 24: return adc.arg(LangText(8, "Gas"));
    case 25: return adc.arg(pre.arg(LangText(133, "Zero")));
    case 26: return pre.arg(LangText(138, "Span"));
    case 27: return LangText(1142, "Temperature");
    default: return QString();
    }
}

QString ShownLogHeader(int column)
{
    if (column == 0)
        return LangText(909, "Sample");
    const int bay = (column - 1) / 2 + 1;
    return (column - 1) % 2 ? LangText(903, "Bay %1 purge").arg(bay) : LangText(902, "Bay %1 gas").arg(bay);
}

QStringList ShownActionCaptions()
{
    QStringList shown;
    for (const QString& a : MonitorActionCaptions())
        shown << ShownMonitorText(a);
    return shown;
}

BayLook BayStatusLook(uint8_t status)
{
    if (status >= 2 && status <= 10)
        return BayLook::Running;
    if (status == 11)
        return BayLook::Pass;
    if (status == 12)
        return BayLook::Error;
    return BayLook::Idle;
}

// ---------------------------------------------------------------------------

TTaskMonitor::TTaskMonitor(TDockComm& comm) : m_comm(comm)
{
    LinkState = linkAlive() ? Link::Open : Link::Closed;
    m_clock.start();
    m_timer.setInterval(PassIntervalMs);
    QObject::connect(&m_timer, &QTimer::timeout, [this] { Pass(); });
    FillFixedTexts();
}

TTaskMonitor::~TTaskMonitor()
{
    m_timer.stop();
    SetLogRead(false);
    SetLogSend(false);
}

void TTaskMonitor::FillFixedTexts()
{
    for (int r = 0; r < RES_ROWS; ++r)
        ResTestGrid[r][0] = QString::fromLatin1(kResultLabels[r]);
    for (int c = 1; c < RES_COLS; ++c)
        ResTestGrid[0][c] = QStringLiteral("Bay #%1").arg(c);
    for (int c = 0; c < LOG_COLS; ++c)
        ResLogGrid[0][c] = QString::fromLatin1(kLogHeader[c]);
    for (int r = 1; r < LOG_ROWS; ++r)
        ResLogGrid[r][0] = QString::number(r);
}

bool TTaskMonitor::linkAlive() const { return m_comm.FComEnable; }

void TTaskMonitor::answered(bool ok)
{
    const Link now = !linkAlive() ? Link::Closed : ok ? Link::Open : Link::Silent;
    if (now == LinkState)
        return;
    LinkState = now;
    notify();
}

void TTaskMonitor::TestStart()
{
    if (FTest)
        return;
    StartEnabled = CloseEnabled = false;
    StopEnabled = PanelEnabled = SaveEnabled = true;
    ShownTab = QStringLiteral("Result");
    FTest = true;
    FBtn = MONITOR_BTN_FLOWON;
    m_nextPollMs = kNever;
    m_timer.setInterval(PassIntervalMs);
    m_timer.start();
    notify();
    Pass(); // the first pass at once: "Flow On" shows the status without a wait
}

void TTaskMonitor::Pass()
{
    if (m_inPass)
        return; // a request of this pass is still waiting for its reply
    if (!FTest) {
        endLoop();
        return;
    }
    m_inPass = true;
    const uint8_t btn = FBtn;
    FBtn = 0;
    switch (btn) {
    case MONITOR_BTN_OPERATION:
        m_comm.SendExtCommand(uint8_t(std::clamp(BtnTestOpComboIndex, 0, 8) + 2));
        break;
    case MONITOR_BTN_STATUS: GetTaskStatus(); break;
    case MONITOR_BTN_RESULT: GetTaskResult(); break;
    case MONITOR_BTN_LOG: GetTaskLog(); break;
    case MONITOR_BTN_FLOWON:
        FlowOnEnabled = false;
        FlowOffEnabled = true;
        m_nextPollMs = m_clock.elapsed();
        break;
    case MONITOR_BTN_FLOWOFF:
        FlowOnEnabled = true;
        FlowOffEnabled = false;
        m_nextPollMs = kNever;
        break;
    case MONITOR_BTN_SAVERESULT: SaveResult(); break;
    case MONITOR_BTN_SAVELOG: SaveLog(); break;
    default: break;
    }
    if (btn)
        notify();
    if (FTest && m_nextPollMs != kNever && m_clock.elapsed() >= m_nextPollMs) {
        GetTaskStatus();
        m_nextPollMs = m_clock.elapsed() + PollIntervalMs;
    }
    m_inPass = false;
    if (FTest && !linkAlive()) {
        log(LangText(797)); // the port is gone: monitoring stopped
        FTest = false;
        answered(false);
    }
    if (!FTest)
        endLoop();
}

void TTaskMonitor::endLoop()
{
    if (!m_timer.isActive() && StartEnabled)
        return;
    m_timer.stop();
    m_nextPollMs = kNever;
    StartEnabled = CloseEnabled = true;
    StopEnabled = PanelEnabled = SaveEnabled = false;
    FlowOnEnabled = true;
    FlowOffEnabled = false;
    notify();
    if (LoopEnded)
        LoopEnded();
}

bool TTaskMonitor::GetTaskStatus()
{
    RTask task{};
    uint8_t usb = 0;
    RBayTaskArr bays{};
    const bool ok = m_comm.GetTaskStatus(task, usb, bays);
    answered(ok);
    if (!ok)
        return false;
    ApplyStatus(task, usb, bays);
    return true;
}

void TTaskMonitor::ApplyStatus(const RTask& task, uint8_t usb, const RBayTaskArr& bays)
{
    TaskStatusLabel = TaskStatusText(task.mStatus);
    TaskUsbKnown = true;
    TaskUsb = usb != 0;
    for (int b = 0; b < 4; ++b) {
        BayDisplay& d = Bays[size_t(b)];
        d.code = bays.mBay[b].mStatus;
        d.status = BayStatusText(d.code);
        d.step = QString::number(bays.mBay[b].mStep);
        d.timer = QString::number(bays.mBay[b].mTimer);
        d.known = true;
    }
    notify();
    if (StatusRead)
        StatusRead();
}

void TTaskMonitor::ClearResultCells()
{
    for (int r = 1; r < RES_ROWS; ++r)
        for (int c = 1; c < RES_COLS; ++c)
            ResTestGrid[r][c].clear();
}

bool TTaskMonitor::GetTaskResult()
{
    ShownTab = QStringLiteral("Result");
    ClearResultCells();
    notify();
    RBayResArr res{};
    RGDInfoArr gd{};
    const bool ok = m_comm.GetTaskResult(res, gd);
    answered(ok);
    if (!ok)
        return false;
    ApplyResult(res, gd);
    return true;
}

void TTaskMonitor::ApplyResult(const RBayResArr& resArr, const RGDInfoArr& gdArr)
{
    ClearResultCells();
    for (int c = 1; c <= 4; ++c) {
        const RBayRes& r = resArr.mBay[c - 1];
        const RGDInfo& g = gdArr.mBay[c - 1];
        auto cell = [&](int row) -> QString& { return ResTestGrid[row][c]; };
        if (!r.mDetected) {
            cell(8) = QStringLiteral("---");
            continue;
        }
        cell(1) = QString::number(g.byProductID);
        cell(2) = QStringLiteral("FW: ") + tenths(g.byFwVersion) + QStringLiteral(" HW: ") +
                  QString::number(g.byHwVersion);
        cell(3) = SensorTypeText(g.bySensorType);
        cell(4) = GetSGDLifeRemain(g.ulRemainLife);
        QString sn;
        for (int i = 0; i < 11 && g.abySerialAscii[i] != 0; ++i) {
            const uint8_t ch = g.abySerialAscii[i];
            sn += ch < 0x20 || ch == 0x7F ? QLatin1Char('?') : QChar(char16_t(ch));
        }
        cell(5) = sn;
        cell(6) = RemainLifeRtcText(g.tRemainLifeRTC);
        cell(8) = QStringLiteral("Detect");
        cell(9) = PCCommandText(r.mPCCmd);
        const bool test = r.mPCCmd == 0 || r.mPCCmd == 7 || r.mPCCmd == 8;
        cell(11) = GetTestResult(r.mLogResult);
        cell(12) = GetTestResult(r.mUpgradeResult);
        cell(13) = GetTestResult(r.mConfigResult);
        cell(14) = GetTestResult(r.mBuzzerResult);
        cell(15) = GetTestResult(r.mLedResult & 0x0F);
        cell(16) = GetTestResult(r.mResult);
        cell(17) = GetTestResult(r.mOffResult);
        if ((!test && r.mPCCmd == 6) || (test && r.mPCCmd == 0))
            cell(15) += LedBitsSuffix(r.mLedResult);
        if (!test)
            continue;
        cell(10) = TestTypeText(r.mTestType);
        cell(18) = QString::number(r.mBumpPassTime);
        cell(19) = tenths(r.mZeroPreReading);
        cell(20) = tenths(r.mZeroPostReading);
        cell(21) = tenths(r.mGasPreReading);
        cell(22) = tenths(r.mGasReading);
        cell(23) = tenths(r.mGasConcentration);
        cell(24) = QString::number(r.mGasAdc);
        cell(25) = QString::number(r.mZeroAdcPre);
        cell(26) = QString::number(r.mSpanPre);
        cell(27) = QString::number(r.mTemp);
    }
    notify();
}

int TTaskMonitor::GetTaskLog()
{
    ShownTab = QStringLiteral("Logging Data");
    notify();
    int filled = 0;
    for (int b = 0; b < 4 && linkAlive(); ++b) {
        for (int k = 0; k < 2; ++k) {
            RLogInfo l{};
            if (!m_comm.GetTaskLog(uint8_t(b), uint8_t(k), l))
                continue;
            ApplyLog(b, k, l);
            ++filled;
        }
    }
    answered(filled > 0); // a bay without curves may refuse; a dock that answers none is silent
    notify();
    if (LogRead)
        LogRead();
    return filled;
}

void TTaskMonitor::ApplyLog(int bay, int kind, const RLogInfo& log)
{
    const int c = 2 * bay + kind + 1;
    if (c < 1 || c >= LOG_COLS)
        return;
    for (int r = 1; r < LOG_ROWS; ++r)
        ResLogGrid[r][c].clear();
    const int n = std::min<int>(log.mCnt, 125); // a count past the record is not read past it
    for (int i = 0; i < n; ++i)
        ResLogGrid[i + 1][c] = QString::number(log.mData[i]);
}

QVector<int> TTaskMonitor::Curve(int column) const
{
    QVector<int> v;
    if (column < 1 || column >= LOG_COLS)
        return v;
    for (int r = 1; r < LOG_ROWS; ++r) {
        bool ok = false;
        const int x = ResLogGrid[r][column].toInt(&ok);
        if (!ok)
            break;
        v << x;
    }
    return v;
}

QByteArray TTaskMonitor::ResultCsv() const
{
    QStringList lines;
    for (int r = 0; r < RES_ROWS; ++r) {
        if (ResTestGrid[r][0].trimmed().isEmpty()) {
            lines << QString();
            continue;
        }
        QString l;
        for (int c = 0; c < RES_COLS; ++c)
            l += ResTestGrid[r][c] + QLatin1Char(',');
        lines << l;
    }
    return crlfLines(lines);
}

QByteArray TTaskMonitor::LogCsv() const
{
    QStringList lines;
    for (int r = 0; r < LOG_ROWS; ++r) {
        bool any = false;
        for (int c = 1; c < LOG_COLS; ++c)
            any = any || !ResLogGrid[r][c].trimmed().isEmpty();
        if (!any)
            break;
        QString l;
        for (int c = 0; c < LOG_COLS; ++c)
            l += ResLogGrid[r][c] + QLatin1Char(',');
        lines << l;
    }
    return crlfLines(lines);
}

QString TTaskMonitor::saveFile(const QString& prefix, const QByteArray& content)
{
    const QString name =
        prefix + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMddHHmmss")) + QStringLiteral(".CSV");
    // An installed program folder is read-only: the log destination takes the files then.
    QStringList folders;
    if (!ProgramFolder.isEmpty())
        folders << QDir(ProgramFolder).filePath(QStringLiteral("LOG"));
    if (!LogDestination.isEmpty())
        folders << QDir(LogDestination).filePath(QStringLiteral("LOG"));
    for (const QString& dir : folders) {
        if (!QDir().mkpath(dir))
            continue;
        const QString path = QDir(dir).filePath(name);
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            continue;
        const bool ok = f.write(content) == content.size() && f.flush();
        f.close();
        if (!ok) {
            QFile::remove(path);
            continue;
        }
        log(QStringLiteral("File Save : ") + QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath()));
        return path;
    }
    log(QStringLiteral("File Save failed : ") + name + QStringLiteral(" (no writable LOG folder)"));
    return QString();
}

QString TTaskMonitor::SaveResult() { return saveFile(QStringLiteral("RES_"), ResultCsv()); }
QString TTaskMonitor::SaveLog() { return saveFile(QStringLiteral("LOG_"), LogCsv()); }

void TTaskMonitor::SetLogRead(bool on)
{
    if (!on) {
        m_comm.OnRead = nullptr;
        return;
    }
    m_comm.OnRead = [this](const QString& s) {
        log('[' + QTime::currentTime().toString(QStringLiteral("HH:mm:ss:zzz")) + QStringLiteral("](READ) ") + s);
    };
}

void TTaskMonitor::SetLogSend(bool on)
{
    if (!on) {
        m_comm.OnSend = nullptr;
        return;
    }
    m_comm.OnSend = [this](const QString& s) {
        log('[' + QTime::currentTime().toString(QStringLiteral("HH:mm:ss:zzz")) + QStringLiteral("](SEND) ") + s);
    };
}
