#include "app/ConfigEditors.h"

#include <QHash>

#include "platform/Platform.h"

namespace {

QString folderWithSlash(QString f)
{
    if (!f.endsWith(QLatin1Char('/')))
        f += QLatin1Char('/');
    return f;
}

bool fail(QString* error, const QString& message)
{
    if (error)
        *error = message;
    return false;
}

bool parseBool(const QString& text, bool* on)
{
    const QString t = text.trimmed().toLower();
    if (t == QLatin1String("1") || t == QLatin1String("true") || t == QLatin1String("yes")
        || t == QLatin1String("on") || t == QLatin1String("checked")) {
        *on = true;
        return true;
    }
    if (t == QLatin1String("0") || t == QLatin1String("false") || t == QLatin1String("no")
        || t == QLatin1String("off") || t == QLatin1String("unchecked")) {
        *on = false;
        return true;
    }
    return false;
}

bool parseWhole(const QString& text, int* v)
{
    bool ok = false;
    const int n = text.trimmed().toInt(&ok, 10);
    if (ok)
        *v = n;
    return ok;
}

// Option names of the by-name view, by grid row 1..9.
const char* const kOptionName[10] = {"",           "UserID",   "CalInterval", "BumpInterval",
                                     "SelfTestInterval", "AlarmLow", "AlarmHigh",   "Display",
                                     "HideLED",    "ManualTest"};

QString boolText(bool b) { return b ? QStringLiteral("true") : QStringLiteral("false"); }

} // namespace

void ConfigEditors::InitConst()
{
    dock.InitConst();
    gd.InitConst();
}

bool ConfigEditors::GetDockCfgFromFolder(const QString& folder, int appLanPort, QString* error)
{
    const QString f = folderWithSlash(folder);
    QString dockError;
    QString gdError;
    const bool dockOk = dock.GetDockCfgFromFile(f + FILE_CONFIG_DOCK, appLanPort, &dockError);
    const bool gdOk = gd.GetGDCfgFromFiles(f, &gdError);
    if (dockOk && gdOk)
        return true;
    QStringList messages;
    if (!dockOk)
        messages << dockError;
    if (!gdOk)
        messages << gdError;
    return fail(error, messages.join(QLatin1Char('\n')));
}

bool ConfigEditors::SetDockCfgToFolder(const QString& folder, int appLanPort, QString* error)
{
    const QString f = folderWithSlash(folder);
    if (!dock.SetDockCfgToFile(f + FILE_CONFIG_DOCK, appLanPort, error))
        return false;
    return gd.SetGDCfgToFile(f, error);
}

bool ConfigEditors::SetGDCfgToFolder(const QString& folder, QString* error)
{
    return gd.SetGDCfgToFile(folderWithSlash(folder), error);
}

bool ConfigEditors::GetDockCfgFromFile(int appLanPort, QString* error)
{
    return GetDockCfgFromFolder(platform::TransferFolder(), appLanPort, error);
}

bool ConfigEditors::SetDockCfgToFile(int appLanPort, QString* error)
{
    return SetDockCfgToFolder(platform::TransferFolder(), appLanPort, error);
}

bool ConfigEditors::SetGDCfgToFile(QString* error)
{
    return SetGDCfgToFolder(platform::TransferFolder(), error);
}

QStringList ConfigEditors::ShowLines() const
{
    QStringList out;
    auto line = [&out](const QString& name, const QString& value) {
        out << name + QLatin1Char('=') + value;
    };
    for (const auto& c : TDockPageModel::Checks())
        line(QLatin1String(c.name), boolText(dock.*(c.member)));
    for (const auto& s : TDockPageModel::Spins())
        line(QLatin1String(s.name), QString::number(dock.*(s.member)));
    for (const auto& t : TDockPageModel::Texts()) {
        if (QLatin1String(t.name) == QLatin1String("DockUpgradeFileEdit"))
            continue; // listed with the upgrade group below
        if (QLatin1String(t.name) == QLatin1String("DockUpgradeLabel"))
            continue;
        line(QLatin1String(t.name), dock.*(t.member));
    }
    for (int slot = 1; slot <= CFG_MAX_BOTTLE; ++slot) {
        const int code = dock.FBottleList[slot];
        line(QStringLiteral("DockBottleGasCombo%1").arg(slot),
             code >= 1 && code <= CFG_MAX_GAS ? FGasInfo[code - 1].mName : QString());
        line(QStringLiteral("DockBottleGasEdit%1").arg(slot), dock.FBottleSlot[slot].editText());
    }
    line(QStringLiteral("DockLanUdpPortEdit"), QString::number(dock.DockLanUdpPortEdit));
    line(QStringLiteral("DockUpgradeFileEdit"), dock.DockUpgradeFileEdit);
    line(QStringLiteral("DockUpgradeLabel"), dock.DockUpgradeLabel);

    const QStringList display = gd.displayItems();
    for (int c = 1; c <= CFG_MAX_GD; ++c) {
        const RSensor& s = FSensor[FGDSensorList[c]];
        const auto& o = gd.FGDOpt[c];
        const QString prefix = QStringLiteral("GDOpt.") + s.mName + QLatin1Char('.');
        auto opt = [&](int row, const QString& value) {
            const QString name = prefix + QLatin1String(kOptionName[row]);
            line(name, value);
            line(name + QStringLiteral(".Set"), o[row - 1].mChange ? QStringLiteral("1") : QStringLiteral("0"));
        };
        opt(1, o[GDOPT_USERID].mStr);
        for (int row = 2; row <= 4; ++row)
            opt(row, QString::number(qRound(o[row - 1].mValue)));
        for (int row = 5; row <= 6; ++row)
            opt(row, QString::number(static_cast<double>(o[row - 1].mValue), 'f', s.mDecimal));
        const int mode = qRound(o[GDOPT_DISPLAY].mValue);
        opt(7, mode >= 0 && mode < display.size() ? display.at(mode) : QString::number(mode));
        opt(8, o[GDOPT_LED].mValue > 0.5f ? QStringLiteral("1") : QStringLiteral("0"));
        opt(9, o[GDOPT_MANUAL].mValue > 0.5f ? QStringLiteral("1") : QStringLiteral("0"));
    }
    line(QStringLiteral("GDUpgradeFileNameEdit"), gd.GDUpgradeFileNameEdit);
    line(QStringLiteral("GDUpgradeLabel"), gd.GDUpgradeLabel);
    line(QStringLiteral("GDOpConfigFileSendCheck"), boolText(gd.GDOpConfigFileSendCheck));
    line(QStringLiteral("GDOpFirmwareFileSendCheck"), boolText(gd.GDOpFirmwareFileSendCheck));
    return out;
}

QStringList ConfigEditors::ConfigLines() const
{
    static const QStringList kNotSent = {
        QStringLiteral("DockInfoSNEdit"),          QStringLiteral("DockInfoVerEdit"),
        QStringLiteral("DockLanUdpPortEdit"),      QStringLiteral("DockUpgradeFileEdit"),
        QStringLiteral("DockUpgradeLabel"),        QStringLiteral("GDUpgradeFileNameEdit"),
        QStringLiteral("GDUpgradeLabel"),          QStringLiteral("GDOpConfigFileSendCheck"),
        QStringLiteral("GDOpFirmwareFileSendCheck")};
    QStringList out;
    for (const QString& line : ShowLines())
        if (!kNotSent.contains(line.section(QLatin1Char('='), 0, 0)))
            out << line;
    return out;
}

QVector<ConfigChange> ConfigEditors::Changes(const QStringList& before, const QStringList& after)
{
    QHash<QString, QString> old;
    for (const QString& line : before)
        old.insert(line.section(QLatin1Char('='), 0, 0), line.section(QLatin1Char('='), 1));
    QVector<ConfigChange> out;
    for (const QString& line : after) {
        ConfigChange c;
        c.name = line.section(QLatin1Char('='), 0, 0);
        c.after = line.section(QLatin1Char('='), 1);
        c.before = old.value(c.name);
        if (old.contains(c.name) && c.before == c.after)
            continue;
        // "GDOpt.<sensor>.<option>[.Set]" names a cell of the option grid.
        const QStringList parts = c.name.split(QLatin1Char('.'));
        if (parts.size() >= 3 && parts[0] == QLatin1String("GDOpt")) {
            for (int col = 1; col <= CFG_MAX_GD; ++col)
                if (FSensor[FGDSensorList[col]].mName == parts[1])
                    c.gdCol = col;
            for (int row = 1; row < 10; ++row)
                if (parts[2] == QLatin1String(kOptionName[row]))
                    c.gdRow = row;
        }
        out << c;
    }
    return out;
}

bool ConfigEditors::Set(const QString& name, const QString& value, QString* error)
{
    const QString n = name.trimmed();
    bool on = false;
    int whole = 0;

    for (const auto& c : TDockPageModel::Checks()) {
        if (n != QLatin1String(c.name))
            continue;
        if (!parseBool(value, &on))
            return fail(error, QStringLiteral("%1 is a check box: give true or false, not \"%2\"").arg(n, value));
        dock.setCheck(c.member, on);
        return true;
    }
    for (const auto& s : TDockPageModel::Spins()) {
        if (n != QLatin1String(s.name))
            continue;
        if (!parseWhole(value, &whole))
            return fail(error, QStringLiteral("%1 takes a whole number (%2 to %3), not \"%4\"")
                                   .arg(n)
                                   .arg(s.range.mMin)
                                   .arg(s.range.mMax)
                                   .arg(value));
        dock.setSpin(s, whole);
        return true;
    }
    for (const auto& t : TDockPageModel::Texts()) {
        if (n != QLatin1String(t.name))
            continue;
        if (t.readOnly)
            return fail(error, QStringLiteral("%1 is read-only").arg(n));
        dock.setText(t.member, value);
        return true;
    }
    if (n == QLatin1String("DockLanUdpPortEdit"))
        return fail(error, QStringLiteral("DockLanUdpPortEdit is read-only: it follows the "
                                          "program's LAN port setting"));
    for (int slot = 1; slot <= CFG_MAX_BOTTLE; ++slot) {
        if (n == QStringLiteral("DockBottleGasCombo%1").arg(slot)) {
            const RBottleSlot& s = dock.FBottleSlot[slot];
            if (!s.mComboEnabled)
                return fail(error, QStringLiteral("%1 is disabled: the slot before it holds no gas").arg(n));
            const QString gas = value.trimmed().toUpper();
            if (!s.mItems.contains(gas)) {
                QStringList offered;
                for (const QString& item : s.mItems)
                    offered << (item.isEmpty() ? QStringLiteral("(empty)") : item);
                return fail(error, QStringLiteral("%1 offers %2, not \"%3\"")
                                       .arg(n, offered.join(QStringLiteral(", ")), value));
            }
            dock.DockBottleGasCombo1Change(slot, gas);
            return true;
        }
        if (n == QStringLiteral("DockBottleGasEdit%1").arg(slot)) {
            if (!dock.FBottleSlot[slot].mEditWritable)
                return fail(error, QStringLiteral("%1 is read-only: slot %2 holds no gas").arg(n).arg(slot));
            float v = 0;
            if (!ParseUserFloat(value, &v))
                return fail(error, QStringLiteral("%1 takes a number, not \"%2\"").arg(n, value));
            dock.DockBottleGasEdit1Exit(slot, value);
            return true;
        }
    }

    if (n == QLatin1String("GDUpgradeFileNameEdit")) {
        gd.setUpgradeFile(value);
        return true;
    }
    if (n == QLatin1String("GDOpConfigFileSendCheck") || n == QLatin1String("GDOpFirmwareFileSendCheck")) {
        if (!parseBool(value, &on))
            return fail(error, QStringLiteral("%1 is a check box: give true or false, not \"%2\"").arg(n, value));
        if (n == QLatin1String("GDOpConfigFileSendCheck"))
            gd.setConfigFileSend(on);
        else
            gd.setFirmwareFileSend(on);
        return true;
    }
    if (n == QLatin1String("GDUpgradeLabel"))
        return fail(error, QStringLiteral("GDUpgradeLabel is read-only"));

    if (n.startsWith(QLatin1String("GDOpt."))) {
        const QStringList parts = n.split(QLatin1Char('.'));
        if (parts.size() < 3 || parts.size() > 4
            || (parts.size() == 4 && parts.at(3).compare(QLatin1String("Set"), Qt::CaseInsensitive) != 0))
            return fail(error, QStringLiteral("Unknown editor \"%1\": use GDOpt.<sensor>.<option> or "
                                              "GDOpt.<sensor>.<option>.Set").arg(n));
        int column = 0;
        for (int c = 1; c <= CFG_MAX_GD; ++c) {
            if (parts.at(1).compare(FSensor[FGDSensorList[c]].mName, Qt::CaseInsensitive) == 0)
                column = c;
        }
        int row = 0;
        for (int r = 1; r <= 9; ++r) {
            if (parts.at(2).compare(QLatin1String(kOptionName[r]), Qt::CaseInsensitive) == 0)
                row = r;
        }
        if (column == 0)
            return fail(error, QStringLiteral("Unknown sensor \"%1\" (H2S, CO, O2, SO2)").arg(parts.at(1)));
        if (row == 0)
            return fail(error, QStringLiteral("Unknown option \"%1\" (UserID, CalInterval, BumpInterval, "
                                              "SelfTestInterval, AlarmLow, AlarmHigh, Display, HideLED, "
                                              "ManualTest)").arg(parts.at(2)));
        const QString display = QStringLiteral("GDOpt.%1.%2").arg(FSensor[FGDSensorList[column]].mName,
                                                                  QLatin1String(kOptionName[row]));
        if (parts.size() == 4) {
            if (!parseBool(value, &on))
                return fail(error, QStringLiteral("%1.Set takes 1 or 0, not \"%2\"").arg(display, value));
            gd.GDOptSensorComboChange(column - 1);
            gd.SetFlagBoxClick(TGDPageModel::boxOfRow(row), on);
            gd.SetGDOptSel(column);
            return true;
        }
        // Check the value before touching the selection, so a refused value changes nothing.
        QString text = value;
        int mode = -1;
        switch (row) {
        case 2:
        case 3:
        case 4:
            for (QChar ch : value) {
                if (!TGDPageModel::IntervalKeyAllowed(ch) || ch.unicode() < 0x20)
                    return fail(error, QStringLiteral("%1 takes a whole number, not \"%2\"").arg(display, value));
            }
            break;
        case 5:
        case 6: {
            if (!GVEngType)
                text.replace(QLatin1Char('.'), QLatin1Char(','));
            float v = 0;
            bool keysOk = !text.isEmpty();
            for (QChar ch : text)
                keysOk = keysOk && TGDPageModel::AlarmKeyAllowed(ch) && ch.unicode() >= 0x20;
            if (!keysOk || !ParseUserFloat(text, &v))
                return fail(error, QStringLiteral("%1 takes a number, not \"%2\"").arg(display, value));
            break;
        }
        case 7: {
            const QStringList items = gd.displayItems();
            for (int i = 0; i < items.size(); ++i) {
                if (value.trimmed().compare(items.at(i), Qt::CaseInsensitive) == 0
                    || value.trimmed() == QString::number(i))
                    mode = i;
            }
            if (mode < 0)
                return fail(error, QStringLiteral("%1 is one of %2, not \"%3\"")
                                       .arg(display, items.join(QStringLiteral(", ")), value));
            break;
        }
        case 8:
        case 9:
            if (!parseBool(value, &on))
                return fail(error, QStringLiteral("%1 takes 1 or 0, not \"%2\"").arg(display, value));
            break;
        default:
            break;
        }
        gd.GDOptSensorComboChange(column - 1);
        if (!gd.editorEnabled(row))
            return fail(error, QStringLiteral("%1 is not set, so its editor is disabled: set %1.Set=1 first")
                                   .arg(display));
        switch (row) {
        case 1:
            gd.setEditText(1, OneLineText(value));
            gd.GDOptUserIDEditExit();
            break;
        case 2:
        case 3:
        case 4:
            gd.setEditText(row, value);
            gd.GDOptCalEditExit(row - 1);
            break;
        case 5:
        case 6:
            gd.setEditText(row, text);
            gd.GDOptLOWEditExit(row - 4);
            break;
        case 7:
            gd.GDOptDisplayComboChange(mode);
            break;
        case 8:
            gd.GDOptBumpLEDCheckClick(on);
            break;
        case 9:
            gd.GDOptEnableMaualTestCheckClick(on);
            break;
        default:
            break;
        }
        gd.SetGDOptSel(column); // commit, as leaving the column does
        return true;
    }
    return fail(error, QStringLiteral("Unknown editor \"%1\"").arg(n));
}
