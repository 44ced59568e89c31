#pragma once
// The "Docking Station" page as a model: every editor value under the name of
// its component, the gas bottle slots with their exact rules, the configuration
// transfer lists, and reading/writing the dock's DOCK.CFG. Widgets only mirror it.
#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVector>
#include <array>
#include <cstdint>

#include "domain/GasTables.h"
#include "link/UnitDef.h"
#include "util/StUtils.h"

inline constexpr int CFG_MAX_BOTTLE = 4;
inline constexpr int CFG_MAX_BOTTLE_DISPLAY = 4;

// Oxygen may not lie strictly inside the band around ambient air.
inline constexpr float CFG_O2GAS_SKIPMIN = 19;
inline constexpr float CFG_O2GAS_SKIPMEAN = 21;
inline constexpr float CFG_O2GAS_SKIPMAX = 23;

// Whole-number spin editors of the page.
struct RSpinRange {
    int mMin;
    int mMax;
    int mStep;
    int mDefault;
};
inline constexpr RSpinRange DOCK_AUTOOFF_RANGE{0, 10800, 60, 60};
inline constexpr RSpinRange DOCK_BUMPTIME_RANGE{10, 120, 5, 10};
inline constexpr RSpinRange DOCK_BUMPPASS_RANGE{0, 95, 5, 50};

// One bottle slot: its gas choice and its concentration spin editor.
struct RBottleSlot {
    QStringList mItems;          // items of DockBottleGasComboN
    int mItemIndex = -1;         // selected item, -1 none
    bool mComboEnabled = false;  // the gas choice can be changed
    bool mEditWritable = false;  // false: read-only and painted in the inactive colour
    float mMin = 0;
    float mMax = 100;
    float mValue = 0;
    int mDecimal = 0;
    float mIncrement = 1;

    QString comboText() const; // the selected item, empty for none
    QString editText() const;  // the value as the editor shows it (user's decimal separator)
    QString fileText() const;  // the same with "." as decimal separator
};

// Configuration transfer lists. transferFolder and usbRoot are local folders
// (with or without a trailing "/"); every path is built with "/".
// bRead: the six-entry read list; otherwise the five-entry write list.
QVector<RCfgList> GetCfgList(const QString& transferFolder, const QString& usbRoot, bool bRead);
QVector<RCfgList> GetWriteCfgList(const QString& transferFolder, const QString& usbRoot);
QVector<RCfgList> GetReadCfgList(const QString& transferFolder, const QString& usbRoot);

// Empties the transfer folder before a Read: makes its folder tree, deletes the
// local copies of the read list and the staged images and logs. False (with the
// names of what could not be made or deleted) when something is left behind.
bool ClearFiles(const QString& transferFolder, QString* error = nullptr);
// The same with the read list already built.
bool ClearFiles(const QString& transferFolder, const QVector<RCfgList>& readList,
                QString* error = nullptr);

// Text of a configuration file as the dock wrote it: UTF-8 when it has a
// byte-order mark or is valid UTF-8 with non-ASCII bytes, else the legacy code page.
bool ConfigTextIsUtf8(const QByteArray& bytes);
QString DecodeConfigText(const QByteArray& bytes);
// The reader's line list ("D ", "T ", "C ", "N " tags) of such a text.
QStringList TagConfigLines(const QByteArray& bytes);
// The value of the first active line whose key is sKey (any case). Only the
// whole key counts: "O2 Gas Concentration" is not found in the SO2 line, nor
// "IP" in "Location=Shipyard".
bool FindConfigKey(const QStringList& sList, const QString& sKey, QString* value = nullptr);
QString GetConfigKey(const QStringList& sList, const QString& sKey);

// Rewrites given keys of an INI-style text in place. Sections and keys match
// without regard to case; a missing key goes to the end of its section, a
// missing section to the end of the text. Every other line keeps its bytes and
// its own line ending; changed lines are encoded like the rest of the file.
class TConfigTextWriter {
public:
    explicit TConfigTextWriter(const QByteArray& original);
    void write(const QString& section, const QString& key, const QString& value);
    QByteArray bytes() const;

private:
    struct Line {
        QByteArray text; // without its line ending
        QByteArray eol;  // "\r\n", "\n", "\r" or empty (last line)
        QString str;     // text decoded
    };
    QByteArray m_bom;
    QVector<Line> m_lines;
    QByteArray m_eol; // the file's most frequent line ending
    bool m_utf8 = false;
    QString decode(const QByteArray& b) const;
    QByteArray encode(const QString& s) const;
    int findSection(const QString& section) const;
    int sectionEnd(int header) const;
};

class TDockPageModel : public QObject {
    Q_OBJECT
public:
    explicit TDockPageModel(QObject* parent = nullptr);

    // Configuration group.
    bool DockCfgAudibleTestCheck = false;
    bool DockCfgVisibleTestCheck = false;
    bool DockCfgUpgradeCheck = false;
    bool DockCfgLoadEventCheck = false;
    bool DockCfgConfgiCheck = false;
    bool DockCfgCalCheck = false;
    bool DockCfgBumpCheck = false;
    bool DockCfgHibernateCheck = false;
    bool DockCfgCalbumpFailedCheck = false;
    int DockCfgAutoPowerOffTimeEdit = DOCK_AUTOOFF_RANGE.mDefault;
    int DockCfgMaxBumpTimeEdit = DOCK_BUMPTIME_RANGE.mDefault;
    int DockCfgBumpPassLimitEdit = DOCK_BUMPPASS_RANGE.mDefault;
    // Information group (SN and version are read-only).
    QString DockInfoSNEdit;
    QString DockInfoVerEdit;
    QString DockInfoLocationEdit;
    // Gas bottle group.
    QString DockBottleLotEdit;
    QString DockBottleDateEdit;
    std::array<int, CFG_MAX_BOTTLE + 1> FBottleList{0, 1, 2, 3, 4}; // [1..4], 0 = empty slot
    std::array<RBottleSlot, CFG_MAX_BOTTLE + 1> FBottleSlot{};     // [1..4]
    // Network group (the port is read-only).
    QString DockLanIpEdit = QStringLiteral("0.0.0.0");
    QString DockLanSubnetMaskEdit = QStringLiteral("255.255.255.0");
    QString DockLanGateWayEdit = QStringLiteral("192.168.0.1");
    int DockLanUdpPortEdit = 7000;
    // Upgrade file group.
    QString DockUpgradeFileEdit;
    QString DockUpgradeLabel = QStringLiteral("---");

    // Editors addressed by component name (used by the widgets and the command line).
    struct CheckEntry {
        const char* name;
        bool TDockPageModel::*member;
        const char* fileKey; // key in section TEST
    };
    struct SpinEntry {
        const char* name;
        int TDockPageModel::*member;
        RSpinRange range;
        const char* fileKey; // key in section OPTIONS
    };
    struct TextEntry {
        const char* name;
        QString TDockPageModel::*member;
        bool readOnly;
    };
    static const QVector<CheckEntry>& Checks();
    static const QVector<SpinEntry>& Spins();
    static const QVector<TextEntry>& Texts();

    // Start-up state: editor defaults and the bottle list 1, 2, 3, 4.
    void InitConst();

    void setCheck(bool TDockPageModel::*member, bool on);
    void setSpin(const SpinEntry& entry, int value); // clamps to the editor's range
    void setText(QString TDockPageModel::*member, const QString& text);
    void setDockInfo(const QString& sn, const QString& version);
    void setUpgradeFile(const QString& path);
    void setUpgradeLabel(const QString& text);

    // Bottle slots (slot 1 to 4).
    void MakeBottleList(int slot);
    void ClearBottle(int slot);
    void ChangeBottleList(int slot);
    void DockBottleGasCombo1Change(int slot, const QString& text);
    // Leaving the concentration editor after typing text; false when the text is
    // not a number (the editor then keeps its value).
    bool DockBottleGasEdit1Exit(int slot, const QString& text);
    void DockBottleGasEdit1TopClick(int slot);
    void DockBottleGasEdit1BottomClick(int slot);
    void setBottleValue(int slot, float value); // as the spin editor takes a value: clamped

    // DOCK.CFG. Reading fills the page; a missing or unreadable file leaves it
    // unchanged and gives false with the reason.
    bool GetDockCfgFromFile(const QString& path, int appLanPort, QString* error = nullptr);
    void ReadDockCfg(const QByteArray& content, int appLanPort);
    // Normalises the address edits, then rewrites the listed keys of the existing
    // file (atomically). A missing file is an error: the dock's own file is never invented.
    bool SetDockCfgToFile(const QString& path, int appLanPort, QString* error = nullptr);
    QByteArray WriteDockCfg(const QByteArray& original, int appLanPort);

signals:
    void changed();

private:
    int m_depth = 0;
    bool m_dirty = false;
    struct Batch; // emits changed() once when the outermost operation ends
    void touch() { m_dirty = true; }
    void oxygenBand(int slot);
    static bool validSlot(int slot) { return slot >= 1 && slot <= CFG_MAX_BOTTLE; }
};

// Number shown with nDecimal decimals and the user's decimal separator.
QString FormatUserFloat(float v, int nDecimal);
// A number typed with the user's decimal separator ("." also accepted in English).
bool ParseUserFloat(const QString& text, float* v);
// Free text written into a configuration line: line breaks become blanks.
QString OneLineText(QString s);
