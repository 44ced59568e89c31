#pragma once
// The application's state that outlives any one operation: folder roots, the
// settings (as the values of the window's controls), the tester list and the
// Auto-mode schedule. The window mirrors it; the command line drives it directly.
#include <QString>
#include <QStringList>
#include <QVector>
#include <array>

#include "domain/ReportSettings.h"
#include "util/OperatorPort.h"
#include "util/StUtils.h"

inline const QString PROG_TITLE = QStringLiteral("Marvane");
inline const QString PROG_VER = QStringLiteral("1.2.3");
inline const QString PROG_DATE = QStringLiteral("2024-06-12");
QString ProgramCaption(); // "Marvane [ Version : 1.2.3 ] 2024-06-12"

inline constexpr int USER_TREVASK = 0;
inline constexpr int USER_OLA = 1;
inline constexpr int USER_RUV = 2;
inline constexpr int USER_KM1 = 3;
inline constexpr int USER_DEFAULT = USER_KM1;

struct RSetSch {
    TDateTime mTime = 0;                  // time of day as a day fraction
    std::array<bool, 8> mDayOfWeek{};     // [1..7], Monday to Sunday
};

// The values of the settings controls, named after the controls they live in.
// Those that reporting reads are in RReportSettings.
struct AppSettings : RReportSettings {
    bool ConfigSetEtcUploadImageCheck = false;
    bool ConfigSetEtcAutoStartCheck = false;
    int ConfigSetEtcPurgeDayEdit = 90;
    bool ConfigSetEtcAutoPurgeCheck = true;
    bool ConfigSetEtcRetainLogCheck = false;
    QString ConfigSendEmailToEdit;
    QString ConfigSendEmailSvrFromEdit;
    QString ConfigSendEmailSvrUserNameEdit;
    QString ConfigSendEmailSvrPwEdit;
    QString ConfigSendEmailSvrEdit;
    int ConfigSendEmailSvrPortEdit = 587;
    bool ConfigSendEmailSvrSSLCheck = true;
    QString ConfigPrNPrintBottomLeftEdit;
    QString ConfigPrNPrintBottomRightEdit;
    int ConfigPrNPrintTypeCombo = 0;
    QString ConfigPrNPrintFontCombo = QStringLiteral("Arial");
    double ConfigPrnMarginTopEdit = 5;
    double ConfigPrnMarginLeftEdit = 5;
    double ConfigPrnMarginBottomEdit = 5;
    double ConfigPrnMarginRightEdit = 5;
    bool ConfigPrNMarginHalfSizeCheck = false;
    QString ConfigPrNNetworkSubnetEdit = QStringLiteral("255.255.255.0");
    int ConfigPrNNetworkPortEdit = 7000;
    int DockLanUdpPortEdit = 7000;
    bool LevelDev = false; // read only
    // Keys this program adds (documented in README.md).
    QString NetworkInterfaces;   // NETWORK/Interfaces: discovery limited to these IPv4 addresses
    int NetworkTcpPort = 80;     // NETWORK/TcpPort
    QString EmailCaFile;         // EMAIL/CAFile: extra certificate authority for the mail server
    QString PrintFooter[3];      // PRINT/Footer1..3: customer lines of the "Manufaturer" certificate
    bool PrintCertInterface = false; // PRINT/CertLanguage: Interface (true) or English
    QString NetworkDocks;        // NETWORK/Docks: dock addresses visited besides the ones discovery finds
    bool AlertMailAtOnce = false; // ALERT/MailAtOnce: a failed test or gas alarm is mailed as it comes
    int FleetBumpIntervalDays = 1;   // FLEET/*: the fleet's due dates where a dock sets no interval
    int FleetCalIntervalDays = 180;
    int FleetDueSoonDays = 7;
    int FleetAlarmDays = 7;
    bool FleetMailStatus = false;    // FLEET/MailStatus: the scheduled mail carries the fleet status CSV
    QString FleetServer;         // FLEET/Server: postgresql://USER@HOST:PORT/DATABASE, empty: none
    QString FleetPassword;       // FLEET/Password: kept like the mail password
    QString FleetSite;           // FLEET/Site: this PC's name on the server (default: host name)
};

// Editing state of the tester grid: rows of (name, company, department) below a header row.
class TesterGrid {
public:
    using Row = std::array<QString, 3>;
    QVector<Row> rows;      // data rows (grid row i + 1)
    int FUserSel = -1;      // -1: the grid mirrors the lists

    int gridRowCount() const { return int(rows.size()) + 1; } // with the header row
    void selectCell(int gridRow) { FUserSel = gridRow - 1; }
    void insertRow() { rows.append(Row{}); }
    bool deleteSelectedRow(); // false when nothing happened
};

enum class SetResult { Ok, Usage, Invalid, Failed };

class AppState : public TReportState {
public:
    explicit AppState(OperatorPort* port = nullptr);
    RReportSettings& reportSettings() override { return settings; }
    using TReportState::reportSettings;

    OperatorPort* port() const { return m_port; }
    void setPort(OperatorPort* port) { m_port = port; }

    // Folder roots.
    QString GVPath;
    static QString TransferFolder();
    static QString SettingsFilePath();

    bool FFirst = true;
    bool FExe = false;
    bool FAutoMode = false;
    // FLogDestDir, FLastReportFile, FLastReportDate: in TReportState.
    QString FUserTester;
    QStringList FUserNameList, FUserCompanyList, FUserPartList;
    std::array<RSetSch, 5> FTimeSch{}; // [1..4]
    bool FTimeSchChanged = false;
    QByteArray FWindowGeometry; // WINDOW/Geometry: the window's last size and place
    // WINDOW/Link, Port, Address, Page: the link, serial port, dock address and page
    // the window was left with (written by the window only).
    QString FWindowLink, FWindowPort, FWindowAddress, FWindowPage;
    AppSettings settings;
    TesterGrid testerGrid;
    QStringList PrintResUserComboItems; // tester names as the Print page lists them
    int PrintResUserComboIndex = -1;

    // Start-up without the window: program folder, number format, folders, settings,
    // language list and the selected language's texts.
    // The window loads the texts itself as part of applying them (loadTexts false).
    // False when the transfer folder is refused or cannot be made (the message has
    // been shown); the settings are then the defaults and are not saved.
    bool StartUp(bool loadTexts = true);
    // Creates the transfer folder and its staging folders; false (with a message in
    // *error) when one cannot be made or the folder is not the user's own.
    bool MakeDefaultDirectory(QString* error = nullptr);
    void GetSetting();
    bool SaveSetting(QString* error = nullptr);
    void UserDataLoad();
    void UserDataSave();
    // The Print page's tester, by name; PrintResUserComboIndex follows it.
    void SelectTester(const QString& name);
    // The rules SaveSetting and GetSetting apply to the controls' values, applied
    // to the state whenever the Config page changes, so operations see them at once.
    void NormaliseSettings();
    bool FormCloseQuery() const { return !FAutoMode && !FExe; }
    // Service level of the hidden gesture: 0, 1 or 2.
    int ServiceLevel(bool ctrlShiftAltHeld) const;
    // Toggles a day cell of the schedule grid (row 1..4, column 1..7).
    void ToggleScheduleDay(int row, int col);
    void SetScheduleTime(int row, TDateTime t);

    static QString AddLastSlash(const QString& s);

    // The tester grid and the Print page's tester combo follow the lists again.
    void ResetEditorsFromLists();
    // "SECTION/Key=value" assignments applied through the settings file and saved
    // with SaveSetting. USER/<name>=company,department adds a tester, an empty value removes it.
    SetResult SetSettingsFromText(const QStringList& assignments, QString* error);

private:
    OperatorPort* m_port = nullptr;
    void MigrateLegacySettings();
    // A settings file that cannot be read as one is renamed, with a message, so
    // that the defaults written next do not replace it.
    void KeepUnreadableSettingsAside();
    bool PrepareSettingsFolder(QString* error);
};

// The keys of the settings file in the order they are read at start-up; the
// command line shows and sets them through this list.
struct SettingKey {
    QString section;
    QString key;
    enum Kind { Integer, Boolean, Text, Time, DateTime, Float } kind;
};
QVector<SettingKey> SettingsKeyTable(const AppState& st); // expands USER and SCH rows
QString SettingValueText(const AppState& st, const SettingKey& k); // as "settings show" prints it
// Why bytes are not a settings file (empty when they are one).
QString SettingsFileDamage(const QByteArray& bytes);
// Passwords: shown masked, and read from standard input when given as "-".
bool IsSecretSetting(const SettingKey& k);
bool IsSecretSetting(const QString& section, const QString& key);
