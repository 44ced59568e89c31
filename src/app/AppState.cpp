#include "app/AppState.h"

#include "logview/CertPage.h"

#include <QDateTime>
#include <algorithm>
#include <cmath>
#include <optional>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QRegularExpression>
#include <QTime>

#include "fleet/FleetServer.h"
#include "lang/LangTable.h"
#include "platform/Platform.h"
#include "util/IniFile.h"

namespace {

const char* const kStagingFolders[] = {"FW/DOCK/",          "FW/GD/",          "LOG/",
                                       "LOG/DOCK/",         "LOG/GaviroEVENT/", "LOG/GaviroCAL/",
                                       "LOG/GaviroBUMP/"};

// Default of Time1..Time4 when the key is there but unreadable: 2:00, 8:00, 14:00, 20:00.
TDateTime unreadableScheduleTime(int n) { return (6.0 * n - 4.0) / 24.0; }
// Default when the key is absent: ten minutes past those hours.
TDateTime absentScheduleTime(int n) { return unreadableScheduleTime(n) + 10.0 / 1440.0; }

TDateTime timeToDays(const QTime& t) { return t.msecsSinceStartOfDay() / 86400000.0; }

QTime daysToTime(TDateTime d)
{
    double frac = d - std::floor(d);
    int ms = int(std::llround(frac * 86400000.0)) % 86400000;
    return QTime::fromMSecsSinceStartOfDay(ms);
}

// Times are written as hh:nn:ss; older files may hold the user's own format.
std::optional<TDateTime> parseTime(const QString& text)
{
    const QString s = text.trimmed();
    if (s.isEmpty())
        return std::nullopt;
    for (const char* fmt : {"H:mm:ss", "H:mm", "h:mm:ss AP", "h:mm AP"}) {
        QTime t = QTime::fromString(s, QString::fromLatin1(fmt));
        if (t.isValid())
            return timeToDays(t);
    }
    const QLocale loc = QLocale::system();
    for (auto f : {QLocale::LongFormat, QLocale::ShortFormat}) {
        QTime t = loc.toTime(s, f);
        if (t.isValid())
            return timeToDays(t);
    }
    return std::nullopt;
}

std::optional<TDateTime> parseDateTime(const QString& text)
{
    const QString s = text.trimmed();
    for (const char* fmt : {"yyyy-MM-dd HH:mm:ss", "yyyy/MM/dd HH:mm:ss", "yyyy-MM-dd HH:mm",
                            "yyyy/MM/dd HH:mm", "yyyy-MM-dd", "yyyy/MM/dd"}) {
        QDateTime dt = QDateTime::fromString(s, QString::fromLatin1(fmt));
        if (dt.isValid())
            return DateTimeToDays(dt);
    }
    const QLocale loc = QLocale::system();
    QDateTime dt = loc.toDateTime(s, QLocale::ShortFormat);
    if (dt.isValid())
        return DateTimeToDays(dt);
    return std::nullopt;
}

QString timeText(TDateTime d) { return daysToTime(d).toString(QStringLiteral("HH:mm:ss")); }
QString dateTimeText(TDateTime d)
{
    return DaysToDateTime(d).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString readTrimmed(const IniFile& ini, const QString& sec, const QString& key, const QString& def)
{
    return ini.readString(sec, key, def).trimmed();
}

int readRanged(const IniFile& ini, const QString& sec, const QString& key, int def, int lo, int hi)
{
    return StGetIntRange(ini.readInteger(sec, key, def), lo, hi);
}

double readRangedFloat(const IniFile& ini, const QString& sec, const QString& key, double def,
                       double lo, double hi)
{
    double v = ini.readFloat(sec, key, def);
    if (!(v >= lo))
        return lo;
    return v > hi ? hi : v;
}

QString floatText(double v) { return QString::number(v, 'g', 10); }

} // namespace

QString ProgramCaption()
{
    return PROG_TITLE + QStringLiteral(" [ Version : ") + PROG_VER + QStringLiteral(" ] ") +
           PROG_DATE;
}

bool TesterGrid::deleteSelectedRow()
{
    if (FUserSel < 0 || gridRowCount() <= 2 || FUserSel >= rows.size())
        return false;
    rows.removeAt(FUserSel);
    return true;
}

AppState::AppState(OperatorPort* port) : m_port(port)
{
    for (int n = 1; n <= 4; ++n)
        FTimeSch[n].mTime = absentScheduleTime(n);
}

QString AppState::TransferFolder() { return platform::TransferFolder(); }

QString AppState::SettingsFilePath() { return TransferFolder() + QStringLiteral("DOCK_KM1.INI"); }

QString AppState::AddLastSlash(const QString& s)
{
    if (s.trimmed().isEmpty())
        return QString();
    return s.endsWith('/') ? s : s + '/';
}

bool AppState::MakeDefaultDirectory(QString* error)
{
    const QString root = TransferFolder();
    if (!platform::PrepareTransferFolder(error))
        return false;
    MigrateLegacySettings();
    QStringList failed;
    QDir dir;
    for (const char* sub : kStagingFolders) {
        const QString path = root + QString::fromLatin1(sub);
        if (!dir.mkpath(path))
            failed << path;
    }
    if (failed.isEmpty())
        return true;
    if (error)
        *error = QStringLiteral("Cannot create the folder %1. Check that the transfer folder "
                                "is writable.")
                     .arg(QDir::toNativeSeparators(failed.first()));
    return false;
}

QString SettingsFileDamage(const QByteArray& bytes)
{
    if (bytes.contains('\0'))
        return QStringLiteral("it holds binary data");
    const QString text = QString::fromUtf8(bytes);
    bool anyLine = false;
    for (QString line : text.split(QRegularExpression(QStringLiteral("\r\n|\r|\n")))) {
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith(';') || line.startsWith('#'))
            continue;
        anyLine = true;
        if ((line.startsWith('[') && line.contains(']')) || line.indexOf('=') > 0)
            return QString();
    }
    return anyLine ? QStringLiteral("no line of it is a section or a setting") : QString();
}

void AppState::KeepUnreadableSettingsAside()
{
    const QString path = SettingsFilePath();
    const QFileInfo info(path);
    if (!info.exists())
        return;
    QFile f(path);
    QString why;
    if (!info.isFile() || !f.open(QIODevice::ReadOnly))
        why = info.isFile() ? f.errorString() : QStringLiteral("it is not a file");
    else if (info.size() > 16 * 1024 * 1024)
        why = QStringLiteral("it is far too large");
    else
        why = SettingsFileDamage(f.readAll());
    f.close();
    if (why.isEmpty())
        return;
    // Kept for whoever wants to look at it; the defaults start afresh beside it.
    QString aside = path + QStringLiteral(".unreadable-") +
                    QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMddHHmmss"));
    for (int n = 2; QFileInfo::exists(aside); ++n)
        aside = path + QStringLiteral(".unreadable-") + QString::number(n);
    const bool moved = QFile::rename(path, aside);
    // The settings come before the language: the built-in text when none is loaded yet.
    QString text = LangText(824);
    if (text.isEmpty())
        text = BuiltInEnglish().text(824);
    if (m_port)
        m_port->showMessage(text.arg(QDir::toNativeSeparators(path), why,
                                              moved ? QDir::toNativeSeparators(aside) : QStringLiteral("-")),
                            PROG_TITLE, OperatorPort::Icon::Warning);
}

void AppState::MigrateLegacySettings()
{
    // Older versions kept the transfer folder in the shared temporary folder,
    // which is emptied at boot. Take the settings and the language list over once,
    // and only files of this user: anyone can put files into /tmp.
    const QString legacy = platform::LegacyTransferFolder();
    const QString root = TransferFolder();
    if (QDir::cleanPath(legacy) == QDir::cleanPath(root) || QFileInfo::exists(SettingsFilePath()))
        return;
    const QString oldSettings = legacy + QStringLiteral("DOCK_KM1.INI");
    if (!platform::IsOwnRegularFile(oldSettings) ||
        QFileInfo(QDir::cleanPath(legacy)).isSymLink())
        return;
    auto copyOver = [](const QString& from, const QString& to) {
        QFile in(from);
        return in.open(QIODevice::ReadOnly) && WriteFileAtomic(to, in.readAll(), nullptr, true);
    };
    // The old file holds the mail password where anyone may look: it goes once copied.
    if (copyOver(oldSettings, SettingsFilePath()))
        QFile::remove(oldSettings);
    const QString oldList = legacy + QStringLiteral("GDDockLang.INI");
    const QString newList = root + QStringLiteral("GDDockLang.INI");
    if (platform::IsOwnRegularFile(oldList) && !QFileInfo::exists(newList))
        copyOver(oldList, newList);
}

bool AppState::StartUp(bool loadTexts)
{
    GVPath = GetGVPath();
    FFirst = false;
    FExe = false;
    GVEngType = DetectEngType();
    QString err;
    const bool folderOk = MakeDefaultDirectory(&err);
    if (!folderOk && m_port)
        m_port->showMessage(err, PROG_TITLE, OperatorPort::Icon::Error);
    GetSetting();
    ResetEditorsFromLists();
    if (loadTexts && !GVLang().loadSelected(GVPath) && m_port)
        m_port->showMessage(LangText(825), PROG_TITLE, OperatorPort::Icon::Warning);
    return folderOk;
}

bool AppState::PrepareSettingsFolder(QString* error)
{
    QString why;
    if (platform::PrepareTransferFolder(&why))
        return true;
    if (error)
        *error = QStringLiteral("The settings could not be saved to %1: %2")
                     .arg(QDir::toNativeSeparators(SettingsFilePath()), why);
    return false;
}

void AppState::ResetEditorsFromLists()
{
    testerGrid.FUserSel = -1;
    UserDataLoad();
    PrintResUserComboItems = FUserNameList;
    PrintResUserComboIndex = int(FUserNameList.indexOf(FUserTester));
}

SetResult AppState::SetSettingsFromText(const QStringList& assignments, QString* error)
{
    struct Change {
        SettingKey key;
        QString value;
        bool remove = false;
    };
    QVector<Change> changes;
    const QVector<SettingKey> table = SettingsKeyTable(*this);
    auto fail = [error](SetResult r, const QString& msg) {
        if (error)
            *error = msg;
        return r;
    };
    for (const QString& a : assignments) {
        const int eq = int(a.indexOf('='));
        const int slash = int(a.indexOf('/'));
        if (eq < 0 || slash < 1 || slash > eq)
            return fail(SetResult::Usage,
                        QStringLiteral("'%1' is not of the form SECTION/Key=value").arg(a));
        const QString section = a.left(slash).trimmed();
        const QString key = a.mid(slash + 1, eq - slash - 1).trimmed();
        const QString value = a.mid(eq + 1);
        if (key.isEmpty())
            return fail(SetResult::Usage, QStringLiteral("'%1' names no key").arg(a));
        if (section.compare("USER", Qt::CaseInsensitive) == 0) {
            // A tester: the key is the name, the value "company,department"; empty removes.
            changes.append({SettingKey{"USER", key, SettingKey::Text}, value, value.isEmpty()});
            continue;
        }
        auto it = std::find_if(table.begin(), table.end(), [&](const SettingKey& k) {
            return k.section.compare(section, Qt::CaseInsensitive) == 0 &&
                   k.key.compare(key, Qt::CaseInsensitive) == 0;
        });
        if (it == table.end())
            return fail(SetResult::Usage,
                        QStringLiteral("Unknown setting %1/%2 (see 'settings show')").arg(section, key));
        QString v = value;
        bool ok = true;
        switch (it->kind) {
        case SettingKey::Integer:
            v.trimmed().toInt(&ok);
            v = v.trimmed();
            break;
        case SettingKey::Boolean: {
            const QString t = v.trimmed().toLower();
            if (t == "1" || t == "true" || t == "yes" || t == "on")
                v = "1";
            else if (t == "0" || t == "false" || t == "no" || t == "off")
                v = "0";
            else
                ok = false;
            break;
        }
        case SettingKey::Time:
            ok = parseTime(v).has_value();
            if (ok)
                v = timeText(*parseTime(v));
            break;
        case SettingKey::DateTime:
            ok = parseDateTime(v).has_value();
            if (ok)
                v = dateTimeText(*parseDateTime(v));
            break;
        case SettingKey::Float:
            v.trimmed().toDouble(&ok);
            v = v.trimmed();
            break;
        case SettingKey::Text:
            break;
        }
        if (!ok)
            return fail(SetResult::Invalid,
                        QStringLiteral("%1/%2: '%3' is not a valid value").arg(it->section, it->key, value));
        if (it->section == "PRINT" && it->key == "CertLanguage") {
            CertLanguage l;
            if (!ParseCertLanguage(v, &l))
                return fail(SetResult::Invalid,
                            QStringLiteral("PRINT/CertLanguage: '%1' is not a valid value: English or Interface")
                                .arg(value));
            v = CertLanguageName(l);
        }
        if (it->section == "FLEET" && it->key == "Server" && !v.trimmed().isEmpty()) {
            RFleetServerAddress address;
            QString why;
            if (!ParseFleetServerUri(v, &address, &why))
                return fail(SetResult::Invalid, why);
        }
        changes.append({*it, v});
    }

    // The values go through the file and back, so the same normalisation as the
    // window's applies on reading and on saving.
    QString folderError;
    if (!PrepareSettingsFolder(&folderError))
        return fail(SetResult::Failed, folderError);
    IniFile ini(SettingsFilePath());
    ini.setPath(SettingsFilePath());
    ini.setOwnerOnly(true);
    for (const Change& c : changes) {
        if (c.remove)
            ini.deleteKey(c.key.section, c.key.key);
        else
            ini.writeString(c.key.section, c.key.key, c.value);
    }
    if (!ini.save())
        return fail(SetResult::Failed, QStringLiteral("The settings could not be saved to %1: %2")
                                           .arg(QDir::toNativeSeparators(SettingsFilePath()), ini.lastError()));
    GetSetting();
    ResetEditorsFromLists();
    QString err;
    if (!SaveSetting(&err))
        return fail(SetResult::Failed, err);
    return SetResult::Ok;
}

void AppState::GetSetting()
{
    // A refused transfer folder (a link, someone else's) is neither read nor
    // written: defaults instead.
    const bool folderOk = platform::CheckTransferFolder();
    IniFile ini;
    if (folderOk) {
        KeepUnreadableSettingsAside();
        ini.load(SettingsFilePath());
    }
    AppSettings& s = settings;

    GVLang().GVLangSelect = ini.readInteger("SET", "LANGUAGE", 0);
    FLogDestDir = AddLastSlash(ini.readString("SET", "LogDestination", QString()));
    FUserTester = ini.readString("SET", "LastUser", QString());
    FWindowGeometry = QByteArray::fromBase64(ini.readString("WINDOW", "Geometry", QString()).toLatin1());
    FWindowLink = ini.readString("WINDOW", "Link", QString()).trimmed();
    FWindowPort = ini.readString("WINDOW", "Port", QString()).trimmed();
    FWindowAddress = ini.readString("WINDOW", "Address", QString()).trimmed();
    FWindowPage = ini.readString("WINDOW", "Page", QString()).trimmed();

    FUserNameList.clear();
    FUserCompanyList.clear();
    FUserPartList.clear();
    for (const QString& name : ini.keys("USER")) {
        const QStringList parts = StDivideToken(ini.readString("USER", name, QString()), ",", 2);
        FUserNameList << name;
        FUserCompanyList << parts.value(0);
        FUserPartList << parts.value(1);
    }

    for (int n = 1; n <= 4; ++n) {
        RSetSch& sch = FTimeSch[n];
        const QString key = QStringLiteral("Time%1").arg(n);
        if (ini.keyExists("SCH", key)) {
            sch.mTime = parseTime(ini.readString("SCH", key, QString()))
                            .value_or(unreadableScheduleTime(n));
            for (int d = 1; d <= 7; ++d)
                sch.mDayOfWeek[d] = ini.readBool("SCH", key + QStringLiteral("_Week%1").arg(d), false);
        } else {
            sch.mTime = absentScheduleTime(n);
            sch.mDayOfWeek.fill(false);
        }
    }

    FLastReportFile = readTrimmed(ini, "REPORT", "LastFile", QString());
    FLastReportDate = parseDateTime(ini.readString("REPORT", "LastDate", QString())).value_or(NowDays());

    s.ConfigSetDateRadio = ini.readInteger("SET", "DateFormat", 0);
    s.ConfigSetAlertBumpEdit = readRanged(ini, "ALERT", "NotBumpDay", 1, 0, 1000);
    s.ConfigSetAlertBumpFailCheck = ini.readBool("ALERT", "BumpFail", true);
    s.ConfigSetAlertCalEdit = readRanged(ini, "ALERT", "NotCalDay", 30, 0, 1000);
    s.ConfigSetAlertCalFailCheck = ini.readBool("ALERT", "CalFail", true);
    s.ConfigSetAlertEventEdit = readRanged(ini, "ALERT", "EventInterval", 1, 0, 1000);
    s.ConfigSetAlertEventCombo = ini.readBool("ALERT", "EventIntervalType", true) ? 1 : 0;
    s.ConfigSetAlertEventAfterCheck = ini.readBool("ALERT", "EventAftre", false);
    s.ConfigSetAlertRefTimePicker =
        parseTime(ini.readString("ALERT", "DayStartTime", QString())).value_or(0.25);
    s.ConfigSetEtcUploadImageCheck = ini.readBool("ETC", "UploadImage", false);
    s.ConfigSetEtcAutoStartCheck = ini.readBool("ETC", "AutoStart", false);
    s.ConfigSetEtcPurgeDayEdit = readRanged(ini, "ETC", "PurgeDay", 90, 0, 365);
    s.ConfigSetEtcAutoPurgeCheck = ini.readBool("ETC", "AutoPurge", true);
    s.ConfigSetEtcRetainLogCheck = ini.readBool("ETC", "LogRetain", false);
    s.ConfigSendEmailToEdit = readTrimmed(ini, "EMAIL", "To", QString());
    s.ConfigSendEmailSvrFromEdit = readTrimmed(ini, "EMAIL", "From", QString());
    s.ConfigSendEmailSvrUserNameEdit = readTrimmed(ini, "EMAIL", "User", QString());
    s.ConfigSendEmailSvrPwEdit = readTrimmed(ini, "EMAIL", "PW", QString());
    s.ConfigSendEmailSvrEdit = readTrimmed(ini, "EMAIL", "Server", QString());
    s.ConfigSendEmailSvrPortEdit = readRanged(ini, "EMAIL", "Port", 587, 1, 65535);
    s.ConfigSendEmailSvrSSLCheck = ini.readBool("EMAIL", "UseSSL", true);
    s.ConfigSendOptDirEdit = AddLastSlash(readTrimmed(ini, "Report", "OptionSend", QString()));
    s.ConfigPrNPrintBottomLeftEdit = ini.readString("PRINT", "BottomLeft", QString());
    s.ConfigPrNPrintBottomRightEdit = ini.readString("PRINT", "BottomRight", QString());
    s.ConfigPrNPrintTypeCombo = ini.readInteger("PRINT", "Type", 0);
    s.ConfigPrNPrintFontCombo = ini.readString("PRINT", "Font", QStringLiteral("Arial"));
    s.ConfigPrnMarginTopEdit = readRangedFloat(ini, "PRINT", "Top", 5, 0, 100);
    s.ConfigPrnMarginLeftEdit = readRangedFloat(ini, "PRINT", "Left", 5, 0, 100);
    s.ConfigPrnMarginBottomEdit = readRangedFloat(ini, "PRINT", "Bottom", 5, 0, 100);
    s.ConfigPrnMarginRightEdit = readRangedFloat(ini, "PRINT", "Right", 5, 0, 100);
    s.ConfigPrNMarginHalfSizeCheck = ini.readBool("PRINT", "HalfSize", false);
    s.ConfigPrNNetworkSubnetEdit =
        readTrimmed(ini, "NETWORK", "SubnetMask", QStringLiteral("255.255.255.0"));
    s.ConfigPrNNetworkPortEdit = readRanged(ini, "NETWORK", "Port", 7000, 1, 65535);
    s.LevelDev = ini.readBool("SET", "LevelDev", false);
    s.NetworkInterfaces = readTrimmed(ini, "NETWORK", "Interfaces", QString());
    s.NetworkTcpPort = readRanged(ini, "NETWORK", "TcpPort", 80, 1, 65535);
    s.EmailCaFile = readTrimmed(ini, "EMAIL", "CAFile", QString());
    s.NetworkDocks = readTrimmed(ini, "NETWORK", "Docks", QString());
    s.AlertMailAtOnce = ini.readBool("ALERT", "MailAtOnce", false);
    s.FleetBumpIntervalDays = readRanged(ini, "FLEET", "BumpIntervalDays", 1, 0, 3650);
    s.FleetCalIntervalDays = readRanged(ini, "FLEET", "CalIntervalDays", 180, 0, 3650);
    s.FleetDueSoonDays = readRanged(ini, "FLEET", "DueSoonDays", 7, 0, 365);
    s.FleetAlarmDays = readRanged(ini, "FLEET", "AlarmDays", 7, 0, 3650);
    s.FleetMailStatus = ini.readBool("FLEET", "MailStatus", false);
    for (int i = 0; i < 3; ++i)
        s.PrintFooter[i] = ini.readString("PRINT", QStringLiteral("Footer%1").arg(i + 1), QString());
    // Anything but "Interface" keeps the certificates as they have always been printed.
    CertLanguage certLanguage = CertLanguage::English;
    ParseCertLanguage(ini.readString("PRINT", "CertLanguage", QString()), &certLanguage);
    s.PrintCertInterface = certLanguage == CertLanguage::Interface;
    s.FleetServer = readTrimmed(ini, "FLEET", "Server", QString());
    s.FleetPassword = ini.readString("FLEET", "Password", QString());
    s.FleetSite = readTrimmed(ini, "FLEET", "Site", QString());
    if (s.FleetSite.isEmpty())
        s.FleetSite = DefaultFleetSite();

    // A radio group or combo cannot select an item it does not have.
    if (s.ConfigSetDateRadio < 0 || s.ConfigSetDateRadio > 2)
        s.ConfigSetDateRadio = 0;
    s.DockLanUdpPortEdit = s.ConfigPrNNetworkPortEdit;
    if (CertLayoutOf(s.ConfigPrNPrintTypeCombo).mId != s.ConfigPrNPrintTypeCombo)
        s.ConfigPrNPrintTypeCombo = 0;
    // AutoStart is the window's business: reading the settings never starts, and
    // so never locks, anything (the command line reads them for every command).

    // A bare root is no place for the store.
    if (FLogDestDir.trimmed().length() <= 3)
        FLogDestDir = platform::DefaultLogDestination();
    if (!QFileInfo::exists(FLogDestDir))
        QDir().mkpath(FLogDestDir); // a failure shows up when the folder is used

    GVLang().loadList(folderOk ? TransferFolder() : QString(), GVPath.isEmpty() ? GetGVPath() : GVPath);
}

bool AppState::SaveSetting(QString* error)
{
    testerGrid.FUserSel = 0;
    UserDataSave();
    // The certificate tester is kept by name: what the Print page's combo shows.
    if (!FUserNameList.contains(FUserTester))
        FUserTester.clear();

    if (!PrepareSettingsFolder(error))
        return false;
    IniFile ini(SettingsFilePath());
    ini.setPath(SettingsFilePath());
    ini.setOwnerOnly(true);
    const AppSettings& s = settings;

    ini.writeInteger("SET", "LANGUAGE", GVLang().GVLangSelect);
    FLogDestDir = AddLastSlash(FLogDestDir);
    ini.writeString("SET", "LogDestination", FLogDestDir);
    ini.writeString("SET", "LastUser", FUserTester);

    ini.eraseSectionKeys("USER");
    for (int i = 0; i < FUserNameList.size(); ++i)
        ini.writeString("USER", FUserNameList[i], FUserCompanyList.value(i) + ',' + FUserPartList.value(i));

    for (int n = 1; n <= 4; ++n) {
        const QString key = QStringLiteral("Time%1").arg(n);
        ini.writeString("SCH", key, timeText(FTimeSch[n].mTime));
        for (int d = 1; d <= 7; ++d)
            ini.writeBool("SCH", key + QStringLiteral("_Week%1").arg(d), FTimeSch[n].mDayOfWeek[d]);
    }

    ini.writeString("REPORT", "LastFile", FLastReportFile);
    ini.writeString("REPORT", "LastDate", dateTimeText(FLastReportDate));
    ini.writeInteger("SET", "DateFormat", s.ConfigSetDateRadio);
    ini.writeInteger("ALERT", "NotBumpDay", s.ConfigSetAlertBumpEdit);
    ini.writeBool("ALERT", "BumpFail", s.ConfigSetAlertBumpFailCheck);
    ini.writeInteger("ALERT", "NotCalDay", s.ConfigSetAlertCalEdit);
    ini.writeBool("ALERT", "CalFail", s.ConfigSetAlertCalFailCheck);
    ini.writeInteger("ALERT", "EventInterval", s.ConfigSetAlertEventEdit);
    ini.writeBool("ALERT", "EventIntervalType", s.ConfigSetAlertEventCombo == 1);
    ini.writeBool("ALERT", "EventAftre", s.ConfigSetAlertEventAfterCheck);
    ini.writeString("ALERT", "DayStartTime", timeText(s.ConfigSetAlertRefTimePicker));
    ini.writeBool("ETC", "UploadImage", s.ConfigSetEtcUploadImageCheck);
    ini.writeBool("ETC", "AutoStart", s.ConfigSetEtcAutoStartCheck);
    ini.writeInteger("ETC", "PurgeDay", s.ConfigSetEtcPurgeDayEdit);
    ini.writeBool("ETC", "AutoPurge", s.ConfigSetEtcAutoPurgeCheck);
    ini.writeBool("ETC", "LogRetain", s.ConfigSetEtcRetainLogCheck);
    ini.writeString("EMAIL", "To", s.ConfigSendEmailToEdit);
    ini.writeString("EMAIL", "From", s.ConfigSendEmailSvrFromEdit);
    ini.writeString("EMAIL", "User", s.ConfigSendEmailSvrUserNameEdit);
    ini.writeString("EMAIL", "PW", s.ConfigSendEmailSvrPwEdit);
    ini.writeString("EMAIL", "Server", s.ConfigSendEmailSvrEdit);
    ini.writeInteger("EMAIL", "Port", s.ConfigSendEmailSvrPortEdit);
    ini.writeBool("EMAIL", "UseSSL", s.ConfigSendEmailSvrSSLCheck);
    ini.writeString("Report", "OptionSend", s.ConfigSendOptDirEdit);
    ini.writeString("PRINT", "BottomLeft", s.ConfigPrNPrintBottomLeftEdit);
    ini.writeString("PRINT", "BottomRight", s.ConfigPrNPrintBottomRightEdit);
    ini.writeInteger("PRINT", "Type", s.ConfigPrNPrintTypeCombo);
    ini.writeString("PRINT", "Font", s.ConfigPrNPrintFontCombo);
    ini.writeFloat("PRINT", "Top", s.ConfigPrnMarginTopEdit);
    ini.writeFloat("PRINT", "Left", s.ConfigPrnMarginLeftEdit);
    ini.writeFloat("PRINT", "Bottom", s.ConfigPrnMarginBottomEdit);
    ini.writeFloat("PRINT", "Right", s.ConfigPrnMarginRightEdit);
    ini.writeBool("PRINT", "HalfSize", s.ConfigPrNMarginHalfSizeCheck);
    ini.writeString("NETWORK", "SubnetMask", CheckIp(s.ConfigPrNNetworkSubnetEdit));
    ini.writeInteger("NETWORK", "Port", s.ConfigPrNNetworkPortEdit);
    // Keys of our own: written only once someone has set them.
    if (!FWindowGeometry.isEmpty())
        ini.writeString("WINDOW", "Geometry", QString::fromLatin1(FWindowGeometry.toBase64()));
    const std::pair<const char*, const QString*> windowKeys[] = {
        {"Link", &FWindowLink}, {"Port", &FWindowPort}, {"Address", &FWindowAddress}, {"Page", &FWindowPage}};
    for (const auto& [key, value] : windowKeys)
        if (!value->isEmpty() || ini.keyExists("WINDOW", key))
            ini.writeString("WINDOW", key, *value);
    if (!s.NetworkInterfaces.isEmpty() || ini.keyExists("NETWORK", "Interfaces"))
        ini.writeString("NETWORK", "Interfaces", s.NetworkInterfaces);
    if (s.NetworkTcpPort != 80 || ini.keyExists("NETWORK", "TcpPort"))
        ini.writeInteger("NETWORK", "TcpPort", s.NetworkTcpPort);
    if (!s.EmailCaFile.isEmpty() || ini.keyExists("EMAIL", "CAFile"))
        ini.writeString("EMAIL", "CAFile", s.EmailCaFile);
    if (!s.NetworkDocks.isEmpty() || ini.keyExists("NETWORK", "Docks"))
        ini.writeString("NETWORK", "Docks", s.NetworkDocks);
    if (s.AlertMailAtOnce || ini.keyExists("ALERT", "MailAtOnce"))
        ini.writeBool("ALERT", "MailAtOnce", s.AlertMailAtOnce);
    auto fleetInt = [&ini](const char* key, int v, int def) {
        if (v != def || ini.keyExists("FLEET", key))
            ini.writeInteger("FLEET", key, v);
    };
    fleetInt("BumpIntervalDays", s.FleetBumpIntervalDays, 1);
    fleetInt("CalIntervalDays", s.FleetCalIntervalDays, 180);
    fleetInt("DueSoonDays", s.FleetDueSoonDays, 7);
    fleetInt("AlarmDays", s.FleetAlarmDays, 7);
    if (s.FleetMailStatus || ini.keyExists("FLEET", "MailStatus"))
        ini.writeBool("FLEET", "MailStatus", s.FleetMailStatus);
    for (int i = 0; i < 3; ++i) {
        const QString key = QStringLiteral("Footer%1").arg(i + 1);
        if (!s.PrintFooter[i].isEmpty() || ini.keyExists("PRINT", key))
            ini.writeString("PRINT", key, s.PrintFooter[i]);
    }
    if (s.PrintCertInterface || ini.keyExists("PRINT", "CertLanguage"))
        ini.writeString("PRINT", "CertLanguage",
                        CertLanguageName(s.PrintCertInterface ? CertLanguage::Interface : CertLanguage::English));
    if (!s.FleetServer.isEmpty() || ini.keyExists("FLEET", "Server"))
        ini.writeString("FLEET", "Server", s.FleetServer);
    if (!s.FleetPassword.isEmpty() || ini.keyExists("FLEET", "Password"))
        ini.writeString("FLEET", "Password", s.FleetPassword);
    if (s.FleetSite != DefaultFleetSite() || ini.keyExists("FLEET", "Site"))
        ini.writeString("FLEET", "Site", s.FleetSite);

    if (ini.save())
        return true;
    if (error)
        *error = QStringLiteral("The settings could not be saved to %1: %2")
                     .arg(QDir::toNativeSeparators(SettingsFilePath()), ini.lastError());
    return false;
}

void AppState::SelectTester(const QString& name)
{
    FUserTester = name;
    PrintResUserComboIndex = int(PrintResUserComboItems.indexOf(name));
}

void AppState::NormaliseSettings()
{
    AppSettings& s = settings;
    s.ConfigSetEtcPurgeDayEdit = std::clamp(s.ConfigSetEtcPurgeDayEdit, 0, 365);
    s.ConfigPrNNetworkPortEdit = std::clamp(s.ConfigPrNNetworkPortEdit, 1, 65535);
    s.ConfigSendEmailSvrPortEdit = std::clamp(s.ConfigSendEmailSvrPortEdit, 1, 65535);
    s.DockLanUdpPortEdit = s.ConfigPrNNetworkPortEdit;
    s.ConfigPrNNetworkSubnetEdit = CheckIp(s.ConfigPrNNetworkSubnetEdit);
    if (s.ConfigSetDateRadio < 0)
        s.ConfigSetDateRadio = 0;
    if (s.ConfigPrNPrintTypeCombo < 0)
        s.ConfigPrNPrintTypeCombo = 0;
}

void AppState::UserDataLoad()
{
    if (testerGrid.FUserSel != -1)
        return;
    testerGrid.rows.clear();
    for (int i = 0; i < FUserNameList.size(); ++i)
        testerGrid.rows.append({FUserNameList[i], FUserCompanyList.value(i), FUserPartList.value(i)});
    if (testerGrid.rows.isEmpty())
        testerGrid.rows.append(TesterGrid::Row{});
}

void AppState::UserDataSave()
{
    if (testerGrid.FUserSel != -1) {
        FUserNameList.clear();
        FUserCompanyList.clear();
        FUserPartList.clear();
        for (const TesterGrid::Row& row : testerGrid.rows) {
            if (row[0].trimmed().isEmpty())
                continue;
            FUserNameList << row[0].trimmed();
            FUserCompanyList << row[1].trimmed();
            FUserPartList << row[2].trimmed();
        }
        // Rows moved, inserted or deleted around the tester leave the choice as it was.
        PrintResUserComboItems = FUserNameList;
        PrintResUserComboIndex = int(FUserNameList.indexOf(FUserTester));
    }
    testerGrid.FUserSel = -1;
}

int AppState::ServiceLevel(bool ctrlShiftAltHeld) const
{
    if (!ctrlShiftAltHeld)
        return 0;
    IniFile ini(SettingsFilePath());
    return ini.readBool("SET", "LevelDev", false) ? 2 : 1;
}

void AppState::ToggleScheduleDay(int row, int col)
{
    if (row < 1 || row > 4 || col < 1 || col > 7)
        return;
    FTimeSch[row].mDayOfWeek[col] = !FTimeSch[row].mDayOfWeek[col];
    FTimeSchChanged = true;
}

void AppState::SetScheduleTime(int row, TDateTime t)
{
    if (row < 1 || row > 4)
        return;
    FTimeSch[row].mTime = t;
    FTimeSchChanged = true;
}

QVector<SettingKey> SettingsKeyTable(const AppState& st)
{
    using K = SettingKey;
    QVector<SettingKey> t;
    t << K{"SET", "LANGUAGE", K::Integer} << K{"SET", "LogDestination", K::Text}
      << K{"SET", "LastUser", K::Text};
    for (const QString& name : st.FUserNameList)
        t << K{"USER", name, K::Text};
    for (int n = 1; n <= 4; ++n)
        t << K{"SCH", QStringLiteral("Time%1").arg(n), K::Time};
    for (int n = 1; n <= 4; ++n)
        for (int d = 1; d <= 7; ++d)
            t << K{"SCH", QStringLiteral("Time%1_Week%2").arg(n).arg(d), K::Boolean};
    t << K{"REPORT", "LastFile", K::Text} << K{"REPORT", "LastDate", K::DateTime}
      << K{"SET", "DateFormat", K::Integer} << K{"ALERT", "NotBumpDay", K::Integer}
      << K{"ALERT", "BumpFail", K::Boolean} << K{"ALERT", "NotCalDay", K::Integer}
      << K{"ALERT", "CalFail", K::Boolean} << K{"ALERT", "EventInterval", K::Integer}
      << K{"ALERT", "EventIntervalType", K::Boolean} << K{"ALERT", "EventAftre", K::Boolean}
      << K{"ALERT", "DayStartTime", K::Time} << K{"ETC", "UploadImage", K::Boolean}
      << K{"ETC", "AutoStart", K::Boolean} << K{"ETC", "PurgeDay", K::Integer}
      << K{"ETC", "AutoPurge", K::Boolean} << K{"ETC", "LogRetain", K::Boolean}
      << K{"EMAIL", "To", K::Text} << K{"EMAIL", "From", K::Text} << K{"EMAIL", "User", K::Text}
      << K{"EMAIL", "PW", K::Text} << K{"EMAIL", "Server", K::Text}
      << K{"EMAIL", "Port", K::Integer} << K{"EMAIL", "UseSSL", K::Boolean}
      << K{"Report", "OptionSend", K::Text} << K{"PRINT", "BottomLeft", K::Text}
      << K{"PRINT", "BottomRight", K::Text} << K{"PRINT", "Type", K::Integer}
      << K{"PRINT", "Font", K::Text} << K{"PRINT", "Top", K::Float} << K{"PRINT", "Left", K::Float}
      << K{"PRINT", "Bottom", K::Float} << K{"PRINT", "Right", K::Float}
      << K{"PRINT", "HalfSize", K::Boolean} << K{"PRINT", "Footer1", K::Text}
      << K{"PRINT", "Footer2", K::Text} << K{"PRINT", "Footer3", K::Text}
      << K{"NETWORK", "SubnetMask", K::Text}
      << K{"NETWORK", "Port", K::Integer} << K{"SET", "LevelDev", K::Boolean};
    // The keys this program adds (README.md), after the usual ones.
    t << K{"NETWORK", "Interfaces", K::Text} << K{"NETWORK", "TcpPort", K::Integer}
      << K{"EMAIL", "CAFile", K::Text} << K{"NETWORK", "Docks", K::Text}
      << K{"ALERT", "MailAtOnce", K::Boolean} << K{"PRINT", "CertLanguage", K::Text};
    t << K{"FLEET", "BumpIntervalDays", K::Integer} << K{"FLEET", "CalIntervalDays", K::Integer}
      << K{"FLEET", "DueSoonDays", K::Integer} << K{"FLEET", "AlarmDays", K::Integer}
      << K{"FLEET", "MailStatus", K::Boolean};
    t << K{"FLEET", "Server", K::Text} << K{"FLEET", "Password", K::Text} << K{"FLEET", "Site", K::Text};
    return t;
}

QString SettingValueText(const AppState& st, const SettingKey& k)
{
    const AppSettings& s = st.settings;
    auto b = [](bool v) { return v ? QStringLiteral("1") : QStringLiteral("0"); };
    const QString id = k.section.toUpper() + '/' + k.key;
    if (k.section.compare("USER", Qt::CaseInsensitive) == 0) {
        int i = int(st.FUserNameList.indexOf(k.key));
        return i < 0 ? QString() : st.FUserCompanyList.value(i) + ',' + st.FUserPartList.value(i);
    }
    if (k.section == "SCH") {
        const int n = k.key.mid(4, 1).toInt();
        if (k.key.size() == 5)
            return timeText(st.FTimeSch[n].mTime);
        return b(st.FTimeSch[n].mDayOfWeek[k.key.right(1).toInt()]);
    }
    if (id == "SET/LANGUAGE") return QString::number(GVLang().GVLangSelect);
    if (id == "SET/LogDestination") return st.FLogDestDir;
    if (id == "SET/LastUser") return st.FUserTester;
    if (id == "REPORT/LastFile") return st.FLastReportFile;
    if (id == "REPORT/LastDate") return dateTimeText(st.FLastReportDate);
    if (id == "SET/DateFormat") return QString::number(s.ConfigSetDateRadio);
    if (id == "ALERT/NotBumpDay") return QString::number(s.ConfigSetAlertBumpEdit);
    if (id == "ALERT/BumpFail") return b(s.ConfigSetAlertBumpFailCheck);
    if (id == "ALERT/NotCalDay") return QString::number(s.ConfigSetAlertCalEdit);
    if (id == "ALERT/CalFail") return b(s.ConfigSetAlertCalFailCheck);
    if (id == "ALERT/EventInterval") return QString::number(s.ConfigSetAlertEventEdit);
    if (id == "ALERT/EventIntervalType") return b(s.ConfigSetAlertEventCombo == 1);
    if (id == "ALERT/EventAftre") return b(s.ConfigSetAlertEventAfterCheck);
    if (id == "ALERT/DayStartTime") return timeText(s.ConfigSetAlertRefTimePicker);
    if (id == "ETC/UploadImage") return b(s.ConfigSetEtcUploadImageCheck);
    if (id == "ETC/AutoStart") return b(s.ConfigSetEtcAutoStartCheck);
    if (id == "ETC/PurgeDay") return QString::number(s.ConfigSetEtcPurgeDayEdit);
    if (id == "ETC/AutoPurge") return b(s.ConfigSetEtcAutoPurgeCheck);
    if (id == "ETC/LogRetain") return b(s.ConfigSetEtcRetainLogCheck);
    if (id == "EMAIL/To") return s.ConfigSendEmailToEdit;
    if (id == "EMAIL/From") return s.ConfigSendEmailSvrFromEdit;
    if (id == "EMAIL/User") return s.ConfigSendEmailSvrUserNameEdit;
    if (id == "EMAIL/PW") return s.ConfigSendEmailSvrPwEdit;
    if (id == "EMAIL/Server") return s.ConfigSendEmailSvrEdit;
    if (id == "EMAIL/Port") return QString::number(s.ConfigSendEmailSvrPortEdit);
    if (id == "EMAIL/UseSSL") return b(s.ConfigSendEmailSvrSSLCheck);
    if (id == "REPORT/OptionSend") return s.ConfigSendOptDirEdit;
    if (id == "PRINT/BottomLeft") return s.ConfigPrNPrintBottomLeftEdit;
    if (id == "PRINT/BottomRight") return s.ConfigPrNPrintBottomRightEdit;
    if (id == "PRINT/Type") return QString::number(s.ConfigPrNPrintTypeCombo);
    if (id == "PRINT/Font") return s.ConfigPrNPrintFontCombo;
    if (id == "PRINT/Top") return floatText(s.ConfigPrnMarginTopEdit);
    if (id == "PRINT/Left") return floatText(s.ConfigPrnMarginLeftEdit);
    if (id == "PRINT/Bottom") return floatText(s.ConfigPrnMarginBottomEdit);
    if (id == "PRINT/Right") return floatText(s.ConfigPrnMarginRightEdit);
    if (id == "PRINT/HalfSize") return b(s.ConfigPrNMarginHalfSizeCheck);
    if (id.startsWith("PRINT/Footer") && id.size() == 13) return s.PrintFooter[qBound(0, id.right(1).toInt() - 1, 2)];
    if (id == "PRINT/CertLanguage")
        return CertLanguageName(s.PrintCertInterface ? CertLanguage::Interface : CertLanguage::English);
    if (id == "NETWORK/SubnetMask") return s.ConfigPrNNetworkSubnetEdit;
    if (id == "NETWORK/Port") return QString::number(s.ConfigPrNNetworkPortEdit);
    if (id == "NETWORK/Interfaces") return s.NetworkInterfaces;
    if (id == "NETWORK/TcpPort") return QString::number(s.NetworkTcpPort);
    if (id == "SET/LevelDev") return b(s.LevelDev);
    if (id == "NETWORK/Interfaces") return s.NetworkInterfaces;
    if (id == "NETWORK/TcpPort") return QString::number(s.NetworkTcpPort);
    if (id == "EMAIL/CAFile") return s.EmailCaFile;
    if (id == "NETWORK/Docks") return s.NetworkDocks;
    if (id == "ALERT/MailAtOnce") return b(s.AlertMailAtOnce);
    if (id == "FLEET/BumpIntervalDays") return QString::number(s.FleetBumpIntervalDays);
    if (id == "FLEET/CalIntervalDays") return QString::number(s.FleetCalIntervalDays);
    if (id == "FLEET/DueSoonDays") return QString::number(s.FleetDueSoonDays);
    if (id == "FLEET/AlarmDays") return QString::number(s.FleetAlarmDays);
    if (id == "FLEET/MailStatus") return b(s.FleetMailStatus);
    if (id == "FLEET/Server") return s.FleetServer;
    if (id == "FLEET/Password") return s.FleetPassword;
    if (id == "FLEET/Site") return s.FleetSite;
    return QString();
}

bool IsSecretSetting(const QString& section, const QString& key)
{
    static const QStringList kSecrets = {"EMAIL/PW", "FLEET/Password"};
    const QString id = section + '/' + key;
    return std::any_of(kSecrets.begin(), kSecrets.end(),
                       [&](const QString& s) { return s.compare(id, Qt::CaseInsensitive) == 0; });
}

bool IsSecretSetting(const SettingKey& k) { return IsSecretSetting(k.section, k.key); }
