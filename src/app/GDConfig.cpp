#include "app/GDConfig.h"

#include <QFile>
#include <QFileInfo>

#include <cmath>

#include "app/DockConfig.h"
#include "lang/LangTable.h"
#include "util/IniFile.h"

namespace {

QString lang(int n, const char* fallback)
{
    const QString t = LangText(n);
    return t.isEmpty() ? QString::fromLatin1(fallback) : t;
}

// What the grid shows for an option this sensor does not have, and for a set switch.
QString naText() { return lang(982, "N/A"); }

QString rowLabel(int r)
{
    static const int rowText[GDOPT_GRID_ROWS] = {52, 53, 54, 55, 56, 57, 58, 59, 60, 79};
    static const char* const rowDefault[GDOPT_GRID_ROWS] = {
        "Sensor",    "User ID",   "Calibration interval (days)", "Bump interval (days)",
        "Self-test interval", "Low alarm", "High alarm", "Display", "Hide LED", "Manual test"};
    return lang(rowText[r], rowDefault[r]);
}
QString yesText() { return lang(983, "YES"); }

struct IntervalEditor {
    int min;
    int max;
    int gap;
    int def;
};
const IntervalEditor kInterval[4] = {
    {0, 0, 0, 0},
    {CFG_CALINT_MIN, CFG_CALINT_MAX, CFG_CALINT_GAP, CFG_CALINT_DEFAULT},
    {CFG_BUMPINT_MIN, CFG_BUMPINT_MAX, CFG_BUMPINT_GAP, CFG_BUMPINT_DEFAULT},
    {CFG_SELFINT_MIN, CFG_SELFINT_MAX, CFG_SELFINT_GAP, CFG_SELFINT_DEFAULT},
};

// Nearest whole number, halves to even.
double roundHalfEven(double v)
{
    const double r = std::round(v);
    if (std::fabs(v - std::trunc(v)) == 0.5)
        return 2.0 * std::round(v / 2.0);
    return r;
}

} // namespace

int MakeUnitFlag(int displayMode, bool ledHidden, bool manualTest)
{
    int flag = 0;
    if (displayMode == 0)
        flag += 1;
    else if (displayMode == 1)
        flag += 5;
    if (ledHidden)
        flag += 2;
    if (manualTest)
        flag += 8;
    return flag;
}

void SplitUnitFlag(int flag, int* displayMode, bool* ledHidden, bool* manualTest)
{
    *displayMode = (flag & 4) ? 1 : ((flag & 1) ? 0 : 2);
    *ledHidden = (flag & 2) != 0;
    *manualTest = (flag & 8) != 0;
}

struct TGDPageModel::Batch {
    TGDPageModel* m;
    explicit Batch(TGDPageModel* model) : m(model) { ++m->m_depth; }
    ~Batch()
    {
        if (--m->m_depth == 0 && m->m_dirty) {
            m->m_dirty = false;
            emit m->changed();
        }
    }
};

TGDPageModel::TGDPageModel(QObject* parent) : QObject(parent)
{
    InitConst();
}

bool* TGDPageModel::setFlagBox(int box)
{
    switch (box) {
    case 0: return &GDOptUserIDCheck;
    case 1: return &GDOptCalCheck;
    case 2: return &GDOptBumpCheck;
    case 3: return &GDOptSelfCheck;
    case 4: return &GDOptLOWCheck;
    case 5: return &GDOptHIGHCheck;
    case 6: return &GDOptDisplayCheck;
    default: return nullptr;
    }
}

bool TGDPageModel::setFlagBoxValue(int box) const
{
    const bool* flag = const_cast<TGDPageModel*>(this)->setFlagBox(box);
    return flag && *flag;
}

const char* TGDPageModel::setFlagBoxName(int box)
{
    static const char* const names[CHECK_COUNT] = {"GDOptUserIDCheck", "GDOptCalCheck",
                                                   "GDOptBumpCheck",   "GDOptSelfCheck",
                                                   "GDOptLOWCheck",    "GDOptHIGHCheck",
                                                   "GDOptDisplayCheck"};
    return box >= 0 && box < CHECK_COUNT ? names[box] : "";
}

int TGDPageModel::boxOfRow(int row)
{
    if (row >= 1 && row <= 6)
        return row - 1;
    if (row >= 7 && row <= 9)
        return 6;
    return -1;
}

bool TGDPageModel::editorEnabled(int row) const
{
    return validColumn(FGDOptSel) && setFlagBoxValue(boxOfRow(row));
}

QStringList TGDPageModel::displayItems() const
{
    return {lang(61, "Both"), lang(62, "Reading"), lang(63, "Life")};
}

const RSensor& TGDPageModel::selectedSensor() const
{
    const int c = validColumn(FGDOptSel) ? FGDOptSel : 1;
    return FSensor[FGDSensorList[c]];
}

void TGDPageModel::InitConst()
{
    Batch batch(this);
    touch();
    for (int c = 1; c <= CFG_MAX_GD; ++c) {
        const RSensor& s = FSensor[FGDSensorList[c]];
        auto& col = FGDOpt[c];
        for (RGDOpt& o : col)
            o = RGDOpt{};
        col[GDOPT_CALINT].mValue = CFG_CALINT_DEFAULT;
        col[GDOPT_BUMPINT].mValue = CFG_BUMPINT_DEFAULT;
        col[GDOPT_SELFINT].mValue = CFG_SELFINT_DEFAULT;
        col[GDOPT_ALARMLOW].mValue = s.mAlarmLow;
        col[GDOPT_ALARMHIGH].mValue = s.mAlarmHigh;
    }
    for (int b = 0; b < CHECK_COUNT; ++b)
        *setFlagBox(b) = false;
    GDUpgradeFileNameEdit.clear();
    GDUpgradeLabel = QStringLiteral("---");
    GDUpgradeFileNameEdit1.clear();
    GDUpgradeLabel1 = QStringLiteral("---");
    GDOpConfigFileSendCheck = false;
    GDOpFirmwareFileSendCheck = false;
    for (auto& row : GDOpResGrid)
        for (QString& cell : row)
            cell.clear();
    RefreshTexts();
    FGDOptSel = -1;
    FGDOptGridColSel = -1;
    FGDOptGridRowSel = -1;
    GDOptSensorCombo = 0;
    SetGDOptSel(1);
}

void TGDPageModel::RefreshTexts()
{
    Batch batch(this);
    touch();
    for (int c = 1; c <= CFG_MAX_GD; ++c)
        DisplayGDOptSel(c);
    for (int c = 1; c < GDRES_GRID_COLS; ++c)
        GDOpResGrid[0][c] = lang(985, "BAY%1").arg(c);
    GDOpResGrid[0][0].clear();
    GDOpResGrid[1][0] = lang(2, "Serial Number");
    GDOpResGrid[2][0] = lang(3, "Version");
    GDOpResGrid[3][0] = lang(405, "Sensor");
    GDOpResGrid[4][0] = lang(124, "Result");
}

QString TGDPageModel::intervalText(int value) const
{
    return value > 0 ? QString::number(value) : naText();
}

QString TGDPageModel::alarmText(const RSensor& s, float value) const
{
    return value > 0.001f ? FormatUserFloat(value, s.mDecimal) : naText();
}

void TGDPageModel::DisplayGDOptSel(int column)
{
    if (!validColumn(column))
        return;
    Batch batch(this);
    touch();
    const RSensor& s = FSensor[FGDSensorList[column]];
    const auto& o = FGDOpt[column];
    // Row labels follow the language texts in force.
    for (int r = 0; r < GDOPT_GRID_ROWS; ++r)
        GDOptGrid[r][0] = rowLabel(r);
    GDOptGrid[0][column] = s.mName;
    GDOptGrid[1][column] = o[GDOPT_USERID].mStr;
    for (int opt = GDOPT_CALINT; opt <= GDOPT_SELFINT; ++opt)
        GDOptGrid[opt + 1][column] = intervalText(qRound(o[opt].mValue));
    GDOptGrid[5][column] = alarmText(s, o[GDOPT_ALARMLOW].mValue);
    GDOptGrid[6][column] = alarmText(s, o[GDOPT_ALARMHIGH].mValue);
    const QStringList items = displayItems();
    const int mode = qRound(o[GDOPT_DISPLAY].mValue);
    GDOptGrid[7][column] = mode >= 0 && mode < items.size() ? items.at(mode) : QString();
    GDOptGrid[8][column] = o[GDOPT_LED].mValue > 0.5f ? yesText() : QString();
    GDOptGrid[9][column] = o[GDOPT_MANUAL].mValue > 0.5f ? yesText() : QString();
}

int TGDPageModel::intervalFromEdit(int tag) const
{
    const IntervalEditor& e = kInterval[tag];
    return StGetIntRange(GetIniFileDataInt(editText(tag + 1), e.min), e.min, e.max);
}

float TGDPageModel::alarmFromEdit(int tag, const RSensor& s) const
{
    float v = 0;
    if (!ParseUserFloat(editText(tag + 4), &v))
        return s.mAlarmMin;
    return StGetFloatRange(v, s.mAlarmMin, s.mAlarmMax);
}

void TGDPageModel::SetGDOptSel(int n)
{
    Batch batch(this);
    touch();
    if (validColumn(FGDOptSel)) {
        const int c = FGDOptSel;
        const RSensor& s = FSensor[FGDSensorList[c]];
        auto& o = FGDOpt[c];
        o[GDOPT_USERID].mStr = GDOptUserIDEdit;
        for (int tag = 1; tag <= 3; ++tag)
            o[tag].mValue = static_cast<float>(intervalFromEdit(tag));
        // What the edit shows is what is kept.
        for (int tag = 1; tag <= 2; ++tag) {
            const float v = alarmFromEdit(tag, s);
            const double scale = std::pow(10.0, s.mDecimal);
            o[GDOPT_ALARMLOW + tag - 1].mValue =
                static_cast<float>(std::round(static_cast<double>(v) * scale) / scale);
        }
        o[GDOPT_DISPLAY].mValue = static_cast<float>(StGetIntRange(GDOptDisplayCombo, 0, 2));
        o[GDOPT_LED].mValue = GDOptBumpLEDCheck ? 1 : 0;
        o[GDOPT_MANUAL].mValue = GDOptEnableMaualTestCheck ? 1 : 0;
        for (int b = 0; b < 6; ++b)
            o[b].mChange = setFlagBoxValue(b);
        o[GDOPT_DISPLAY].mChange = GDOptDisplayCheck;
        o[GDOPT_LED].mChange = GDOptDisplayCheck;
        o[GDOPT_MANUAL].mChange = GDOptDisplayCheck;
        DisplayGDOptSel(c);
    }
    FGDOptSel = validColumn(n) ? n : (n > 0 ? -1 : n);
    if (!validColumn(FGDOptSel))
        return; // every editor is disabled (derived from the selection)
    const int c = FGDOptSel;
    const auto& o = FGDOpt[c];
    GDOptUserIDEdit = GDOptGrid[1][c];
    GDOptCalEdit = GDOptGrid[2][c];
    GDOptBumpEdit = GDOptGrid[3][c];
    GDOptSelfEdit = GDOptGrid[4][c];
    GDOptLOWEdit = GDOptGrid[5][c];
    GDOptHIGHEdit = GDOptGrid[6][c];
    for (int b = 0; b < 6; ++b)
        *setFlagBox(b) = o[b].mChange;
    GDOptDisplayCheck = o[GDOPT_DISPLAY].mChange;
    GDOptDisplayCombo = StGetIntRange(qRound(o[GDOPT_DISPLAY].mValue), 0, 2);
    GDOptBumpLEDCheck = o[GDOPT_LED].mValue > 0.5f;
    GDOptEnableMaualTestCheck = o[GDOPT_MANUAL].mValue > 0.5f;
    DisplayGDOptSel(c);
}

void TGDPageModel::GDOptGridFixedCellClick(int col, int row)
{
    if (row != 0 || col < 0 || col > CFG_MAX_GD)
        return;
    Batch batch(this);
    touch();
    GDOptSensorCombo = col - 1;
    SetGDOptSel(col);
}

void TGDPageModel::GDOptGridSelectCell(int col, int row)
{
    FGDOptGridColSel = col;
    FGDOptGridRowSel = row;
}

void TGDPageModel::GDOptGridDblClick()
{
    const int col = FGDOptGridColSel;
    const int row = FGDOptGridRowSel;
    if (!validColumn(col) || col != FGDOptSel || row < 1 || row > 9) {
        FGDOptGridColSel = -1;
        FGDOptGridRowSel = -1;
        return;
    }
    Batch batch(this);
    const int box = boxOfRow(row);
    SetFlagBoxClick(box, !setFlagBoxValue(box));
    SetGDOptSel(col);
}

void TGDPageModel::GDOptSensorComboChange(int index)
{
    if (index < 0 || index >= CFG_MAX_GD)
        return;
    Batch batch(this);
    touch();
    GDOptSensorCombo = index;
    SetGDOptSel(index + 1);
}

void TGDPageModel::SetFlagBoxClick(int box, bool on)
{
    bool* flag = setFlagBox(box);
    if (!flag || *flag == on)
        return;
    Batch batch(this);
    touch();
    *flag = on;
}

void TGDPageModel::setEditText(int row, const QString& text)
{
    QString* edit = nullptr;
    switch (row) {
    case 1: edit = &GDOptUserIDEdit; break;
    case 2: edit = &GDOptCalEdit; break;
    case 3: edit = &GDOptBumpEdit; break;
    case 4: edit = &GDOptSelfEdit; break;
    case 5: edit = &GDOptLOWEdit; break;
    case 6: edit = &GDOptHIGHEdit; break;
    default: return;
    }
    if (*edit == text)
        return;
    Batch batch(this);
    touch();
    *edit = text;
}

QString TGDPageModel::editText(int row) const
{
    switch (row) {
    case 1: return GDOptUserIDEdit;
    case 2: return GDOptCalEdit;
    case 3: return GDOptBumpEdit;
    case 4: return GDOptSelfEdit;
    case 5: return GDOptLOWEdit;
    case 6: return GDOptHIGHEdit;
    default: return {};
    }
}

void TGDPageModel::GDOptUserIDEditExit()
{
    if (!validColumn(FGDOptSel))
        return;
    Batch batch(this);
    touch();
    GDOptGrid[1][FGDOptSel] = GDOptUserIDEdit;
}

void TGDPageModel::GDOptCalEditExit(int tag)
{
    if (tag < 1 || tag > 3)
        return;
    Batch batch(this);
    touch();
    const QString text = intervalText(intervalFromEdit(tag));
    setEditText(tag + 1, text);
    if (validColumn(FGDOptSel))
        GDOptGrid[tag + 1][FGDOptSel] = text;
}

void TGDPageModel::GDOptCalUpdownChangingEx(int tag, bool up)
{
    if (tag < 1 || tag > 3 || !editorEnabled(tag + 1))
        return;
    Batch batch(this);
    touch();
    const IntervalEditor& e = kInterval[tag];
    const int v = StGetIntRange(intervalFromEdit(tag) + (up ? e.gap : -e.gap), e.min, e.max);
    const QString text = intervalText(v);
    setEditText(tag + 1, text);
    GDOptGrid[tag + 1][FGDOptSel] = text;
}

void TGDPageModel::GDOptLOWEditExit(int tag)
{
    if (tag != 1 && tag != 2)
        tag = 1;
    Batch batch(this);
    touch();
    const RSensor& s = selectedSensor();
    const float v = alarmFromEdit(tag, s);
    const QString text = std::fabs(v - s.mAlarmMin) < 0.0001f ? naText() : FormatUserFloat(v, s.mDecimal);
    setEditText(tag + 4, text);
    if (validColumn(FGDOptSel))
        GDOptGrid[tag + 4][FGDOptSel] = text;
}

void TGDPageModel::GDOptLOWUpDownChangingEx(int tag, bool up)
{
    if (tag != 1 && tag != 2)
        tag = 1;
    if (!editorEnabled(tag + 4))
        return;
    Batch batch(this);
    touch();
    const RSensor& s = selectedSensor();
    float v = 0;
    if (!ParseUserFloat(editText(tag + 4), &v))
        v = s.mAlarmMin;
    v = StGetFloatRange(v + (up ? s.mIncrement : -s.mIncrement), s.mAlarmMin, s.mAlarmMax);
    const QString text = std::fabs(v - s.mAlarmMin) < 0.0001f ? naText() : FormatUserFloat(v, s.mDecimal);
    setEditText(tag + 4, text);
    GDOptGrid[tag + 4][FGDOptSel] = text;
}

void TGDPageModel::GDOptDisplayComboChange(int index)
{
    if (index < 0 || index > 2)
        return;
    Batch batch(this);
    touch();
    GDOptDisplayCombo = index;
    if (validColumn(FGDOptSel))
        GDOptGrid[7][FGDOptSel] = displayItems().at(index);
}

void TGDPageModel::GDOptBumpLEDCheckClick(bool on)
{
    Batch batch(this);
    touch();
    GDOptBumpLEDCheck = on;
    if (validColumn(FGDOptSel))
        GDOptGrid[8][FGDOptSel] = on ? yesText() : QString();
}

void TGDPageModel::GDOptEnableMaualTestCheckClick(bool on)
{
    Batch batch(this);
    touch();
    GDOptEnableMaualTestCheck = on;
    if (validColumn(FGDOptSel))
        GDOptGrid[9][FGDOptSel] = on ? yesText() : QString();
}

bool TGDPageModel::IntervalKeyAllowed(QChar c)
{
    return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c.unicode() < 0x20;
}

bool TGDPageModel::AlarmKeyAllowed(QChar c)
{
    const QChar sep = GVEngType ? QLatin1Char('.') : QLatin1Char(',');
    return IntervalKeyAllowed(c) || c == QLatin1Char('-') || c == sep;
}

// ---- files ----

void TGDPageModel::ReadColumn(int column, const QByteArray& content)
{
    if (!validColumn(column))
        return;
    Batch batch(this);
    touch();
    const RSensor& s = FSensor[FGDSensorList[column]];
    auto& o = FGDOpt[column];
    const QStringList list = TagConfigLines(content);
    auto has = [&list](const char* key) { return FindConfigKey(list, QLatin1String(key)); };
    auto value = [&list](const char* key) { return GetConfigKey(list, QLatin1String(key)); };

    o[GDOPT_USERID].mChange = has("UserID");
    o[GDOPT_CALINT].mChange = has("CalInterval");
    o[GDOPT_BUMPINT].mChange = has("BumpInterval");
    o[GDOPT_SELFINT].mChange = has("SelfTestInterval");
    o[GDOPT_ALARMLOW].mChange = has("AlarmLow");
    o[GDOPT_ALARMHIGH].mChange = has("AlarmHigh");
    const bool unitFlag = has("UnitFlag");
    o[GDOPT_DISPLAY].mChange = unitFlag;
    o[GDOPT_LED].mChange = unitFlag;
    o[GDOPT_MANUAL].mChange = unitFlag;

    o[GDOPT_USERID].mStr = value("UserID");
    const double cal = roundHalfEven(GetIniFileDataInt(value("CalInterval"), 0) / 86400.0);
    o[GDOPT_CALINT].mValue =
        static_cast<float>(cal < CFG_CALINT_MIN ? CFG_CALINT_MIN : (cal > CFG_CALINT_MAX ? CFG_CALINT_MAX : cal));
    o[GDOPT_BUMPINT].mValue = static_cast<float>(
        StGetIntRange(GetIniFileDataInt(value("BumpInterval"), 0), CFG_BUMPINT_MIN, CFG_BUMPINT_MAX));
    o[GDOPT_SELFINT].mValue = static_cast<float>(StGetIntRange(
        GetIniFileDataInt(value("SelfTestInterval"), CFG_SELFINT_DEFAULT), CFG_SELFINT_MIN, CFG_SELFINT_MAX));
    o[GDOPT_ALARMLOW].mValue = StGetFloatRange(GetIniFileDataFloat(value("AlarmLow"), s.mAlarmLow),
                                               s.mAlarmMin, s.mAlarmMax);
    o[GDOPT_ALARMHIGH].mValue = StGetFloatRange(
        GetIniFileDataFloat(value("AlarmHigh"), s.mAlarmHigh), s.mAlarmMin, s.mAlarmMax);
    int mode = 0;
    bool led = false;
    bool manual = false;
    SplitUnitFlag(StGetIntRange(GetIniFileDataInt(value("UnitFlag"), 0), 0, 255), &mode, &led, &manual);
    o[GDOPT_DISPLAY].mValue = static_cast<float>(mode);
    o[GDOPT_LED].mValue = led ? 1 : 0;
    o[GDOPT_MANUAL].mValue = manual ? 1 : 0;
    DisplayGDOptSel(column);
}

void TGDPageModel::FinishRead()
{
    Batch batch(this);
    touch();
    FGDOptSel = -1;
    GDOptSensorCombo = 0;
    SetGDOptSel(1);
}

bool TGDPageModel::GetGDCfgFromFiles(const QString& transferFolder, QString* error)
{
    Batch batch(this);
    touch();
    QString folder = transferFolder;
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    for (int b = 0; b < CHECK_COUNT; ++b)
        *setFlagBox(b) = false;
    QStringList problems;
    for (int c = 1; c <= CFG_MAX_GD; ++c) {
        const QString path = folder + FSensor[FGDSensorList[c]].mName + QStringLiteral(".CFG");
        QFile file(path);
        if (QFileInfo(path).isDir() || !file.open(QIODevice::ReadOnly)) {
            problems << QStringLiteral("\"%1\" (%2)").arg(path, QFileInfo(path).isDir()
                                                                   ? QStringLiteral("a folder")
                                                                   : file.errorString());
            continue;
        }
        ReadColumn(c, file.readAll());
    }
    FinishRead();
    if (!problems.isEmpty()) {
        if (error)
            *error = QStringLiteral("Cannot read the instrument configuration ")
                     + problems.join(QStringLiteral(", "));
        return false;
    }
    return true;
}

QByteArray TGDPageModel::ColumnFileText(int column) const
{
    if (!validColumn(column))
        return {};
    const RSensor& s = FSensor[FGDSensorList[column]];
    const auto& o = FGDOpt[column];
    auto p = [&o](int opt) { return o[opt].mChange ? QString() : QStringLiteral("# "); };
    auto whole = [](float v) { return v > 0 ? QString::number(qRound(v)) : QStringLiteral("0"); };
    auto level = [&s](float v) {
        return v > 0.001f ? QString::number(static_cast<double>(v), 'f', s.mDecimal)
                          : QStringLiteral("0");
    };
    const int flag = MakeUnitFlag(qRound(o[GDOPT_DISPLAY].mValue), o[GDOPT_LED].mValue > 0.5f,
                                  o[GDOPT_MANUAL].mValue > 0.5f);
    QStringList lines;
    lines << QStringLiteral("[CONFIG]");
    lines << p(GDOPT_DISPLAY) + QStringLiteral("UnitFlag=") + QString::number(flag);
    lines << p(GDOPT_USERID) + QStringLiteral("UserID=") + OneLineText(o[GDOPT_USERID].mStr);
    lines << p(GDOPT_SELFINT) + QStringLiteral("SelfTestInterval=") + whole(o[GDOPT_SELFINT].mValue);
    lines << QString();
    lines << QStringLiteral("[GAS]");
    lines << p(GDOPT_ALARMHIGH) + QStringLiteral("AlarmHigh=") + level(o[GDOPT_ALARMHIGH].mValue);
    lines << p(GDOPT_ALARMLOW) + QStringLiteral("AlarmLow=") + level(o[GDOPT_ALARMLOW].mValue);
    const float cal = o[GDOPT_CALINT].mValue;
    lines << p(GDOPT_CALINT) + QStringLiteral("CalInterval=")
                 + (cal > 0 ? QString::number(qint64(qRound(cal)) * 86400) : QStringLiteral("0"));
    lines << p(GDOPT_BUMPINT) + QStringLiteral("BumpInterval=") + whole(o[GDOPT_BUMPINT].mValue);
    QByteArray out;
    for (const QString& l : lines) {
        out += l.toUtf8();
        out += "\r\n";
    }
    return out;
}

bool TGDPageModel::SetGDCfgToFile(const QString& transferFolder, QString* error)
{
    SetGDOptSel(FGDOptSel);
    QString folder = transferFolder;
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    for (int c = 1; c <= CFG_MAX_GD; ++c) {
        const QString path = folder + FSensor[FGDSensorList[c]].mName + QStringLiteral(".CFG");
        if (!WriteFileAtomic(path, ColumnFileText(c), error))
            return false;
    }
    return true;
}

// ---- download section ----

void TGDPageModel::setUpgradeFile(const QString& path)
{
    if (GDUpgradeFileNameEdit == path)
        return;
    Batch batch(this);
    touch();
    GDUpgradeFileNameEdit = path;
}

void TGDPageModel::setUpgradeLabel(const QString& text)
{
    if (GDUpgradeLabel == text)
        return;
    Batch batch(this);
    touch();
    GDUpgradeLabel = text;
}

void TGDPageModel::setConfigFileSend(bool on)
{
    if (GDOpConfigFileSendCheck == on)
        return;
    Batch batch(this);
    touch();
    GDOpConfigFileSendCheck = on;
}

void TGDPageModel::setFirmwareFileSend(bool on)
{
    if (GDOpFirmwareFileSendCheck == on)
        return;
    Batch batch(this);
    touch();
    GDOpFirmwareFileSendCheck = on;
}

void TGDPageModel::clearResults()
{
    Batch batch(this);
    touch();
    for (int r = 1; r < GDRES_GRID_ROWS; ++r)
        for (int c = 1; c < GDRES_GRID_COLS; ++c)
            GDOpResGrid[r][c].clear();
}

void TGDPageModel::setResultCell(int col, int row, const QString& text)
{
    if (col < 1 || col >= GDRES_GRID_COLS || row < 1 || row >= GDRES_GRID_ROWS)
        return;
    Batch batch(this);
    touch();
    GDOpResGrid[row][col] = text;
}

QString TGDPageModel::ResultText(int code)
{
    switch (code) {
    case 0: return lang(69, "NONE");
    case 1: return lang(70, "PASS");
    case 2: return lang(71, "FAIL");
    case 4: return lang(72, "ERROR");
    default: return QStringLiteral("---");
    }
}

// ---- painting ----

namespace {
const QColor kLavender(238, 238, 247);
const QColor kLightGrey(224, 224, 224);
const QColor kDarkGrey(160, 160, 160);
} // namespace

RCellLook TGDPageModel::GDOptCellLook(int col, int row) const
{
    RCellLook look;
    look.text = Qt::black;
    if (row == 0 || col == 0) {
        look.background = (row == 0 && col >= 1 && col == FGDOptSel) ? QColor(Qt::yellow) : kLavender;
        look.bold = true;
        look.leftAligned = col == 0;
        return look;
    }
    const bool set = validColumn(col) && row >= 1 && row <= GDOPT_COUNT && FGDOpt[col][row - 1].mChange;
    if (set)
        look.background = Qt::white;
    else
        look.background = col == FGDOptSel ? kLightGrey : kDarkGrey;
    return look;
}

RCellLook TGDPageModel::GDOpResCellLook(int col, int row) const
{
    RCellLook look;
    look.text = Qt::black;
    look.background = Qt::white;
    if (row == 0 || col == 0) {
        look.background = kLavender;
        look.bold = true;
        look.leftAligned = col == 0;
        return look;
    }
    if (row != 4)
        return look;
    look.bold = true;
    const QString text = row < GDRES_GRID_ROWS && col < GDRES_GRID_COLS ? GDOpResGrid[row][col] : QString();
    if (text.isEmpty())
        return look;
    if (text == ResultText(1)) {
        look.background = QColor(0, 255, 0);
    } else if (text == ResultText(2)) {
        look.background = Qt::red;
        look.text = Qt::white;
    } else if (text == ResultText(4) || text == lang(73, "No instrument")) {
        look.background = QColor(255, 128, 0);
        look.text = Qt::white;
    }
    return look;
}
