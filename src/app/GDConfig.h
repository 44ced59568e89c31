#pragma once
// The instrument page as a model: the option grid (four sensor columns by nine
// options, each with its set flag), the editors beside the grid for the selected
// column, the download section's check boxes and result grid, and the four
// instrument configuration files. Widgets only mirror it.
#include <QByteArray>
#include <QColor>
#include <QObject>
#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>

#include "domain/GasTables.h"
#include "util/StUtils.h"

inline constexpr int CFG_GD_H2S = 1;
inline constexpr int CFG_GD_CO = 2;
inline constexpr int CFG_GD_O2 = 3;
inline constexpr int CFG_GD_SO2 = 4;
inline constexpr int CFG_GD_HCN = 5;
inline constexpr int CFG_GD_NH3 = 6;
inline constexpr int CFG_GD_CL2 = 7;
inline constexpr int CFG_GD_O3 = 8;
inline constexpr int CFG_GD_H2 = 9;
inline constexpr int CFG_MAX_GD = 4;

inline constexpr int CFG_CALINT_MIN = 0;
inline constexpr int CFG_CALINT_MAX = 365;
inline constexpr int CFG_CALINT_GAP = 30;
inline constexpr int CFG_CALINT_DEFAULT = 0;
inline constexpr int CFG_BUMPINT_MIN = 0;
inline constexpr int CFG_BUMPINT_MAX = 365;
inline constexpr int CFG_BUMPINT_GAP = 30;
inline constexpr int CFG_BUMPINT_DEFAULT = 0;
inline constexpr int CFG_SELFINT_MIN = 8;
inline constexpr int CFG_SELFINT_MAX = 48;
inline constexpr int CFG_SELFINT_GAP = 1;
inline constexpr int CFG_SELFINT_DEFAULT = 20;

// Options of one column.
inline constexpr int GDOPT_USERID = 0;
inline constexpr int GDOPT_CALINT = 1;
inline constexpr int GDOPT_BUMPINT = 2;
inline constexpr int GDOPT_SELFINT = 3;
inline constexpr int GDOPT_ALARMLOW = 4;
inline constexpr int GDOPT_ALARMHIGH = 5;
inline constexpr int GDOPT_DISPLAY = 6;
inline constexpr int GDOPT_LED = 7;    // 1 = LED hidden
inline constexpr int GDOPT_MANUAL = 8; // 1 = manual test enabled
inline constexpr int GDOPT_COUNT = 9;

inline constexpr int GDOPT_GRID_ROWS = 10;
inline constexpr int GDOPT_GRID_COLS = 5;
inline constexpr int GDRES_GRID_ROWS = 5;
inline constexpr int GDRES_GRID_COLS = 5;

// The sensor row of each editor column 1 to 4 (entry 0 unused).
inline constexpr std::array<int, CFG_MAX_GD + 1> FGDSensorList = {0, 1, 2, 3, 4};

struct RGDOpt {
    bool mChange = false; // set: written active; otherwise written as a comment
    float mValue = 0;
    QString mStr; // option 0 only
};

// UnitFlag from options 6 to 8 and back.
int MakeUnitFlag(int displayMode, bool ledHidden, bool manualTest);
void SplitUnitFlag(int flag, int* displayMode, bool* ledHidden, bool* manualTest);

// How a grid cell is painted.
struct RCellLook {
    QColor background;
    QColor text;
    bool bold = false;
    bool leftAligned = false; // 8 pixels in; otherwise centred
};

class TGDPageModel : public QObject {
    Q_OBJECT
public:
    explicit TGDPageModel(QObject* parent = nullptr);

    // FGDOpt[column 1..4][option 0..8]; column 0 unused.
    std::array<std::array<RGDOpt, GDOPT_COUNT>, CFG_MAX_GD + 1> FGDOpt{};
    int FGDOptSel = -1;        // selected column 1..4, 0 or -1 for none
    int FGDOptGridColSel = -1; // cell last selected with the mouse
    int FGDOptGridRowSel = -1;

    // The texts of GDOptGrid, [row][column]; row 0 and column 0 are fixed.
    std::array<std::array<QString, GDOPT_GRID_COLS>, GDOPT_GRID_ROWS> GDOptGrid{};

    // Editors beside the grid (for the selected column).
    int GDOptSensorCombo = 0; // item index
    QString GDOptUserIDEdit;
    QString GDOptCalEdit;
    QString GDOptBumpEdit;
    QString GDOptSelfEdit;
    QString GDOptLOWEdit;
    QString GDOptHIGHEdit;
    int GDOptDisplayCombo = 0; // item index
    bool GDOptBumpLEDCheck = false;
    bool GDOptEnableMaualTestCheck = false;
    // The hidden set-flag boxes of the selected column.
    bool GDOptUserIDCheck = false;
    bool GDOptCalCheck = false;
    bool GDOptBumpCheck = false;
    bool GDOptSelfCheck = false;
    bool GDOptLOWCheck = false;
    bool GDOptHIGHCheck = false;
    bool GDOptDisplayCheck = false;

    // Download section and instrument upgrade file.
    QString GDUpgradeFileNameEdit;
    QString GDUpgradeLabel = QStringLiteral("---");
    QString GDUpgradeFileNameEdit1; // second chooser: kept disabled and hidden
    QString GDUpgradeLabel1 = QStringLiteral("---");
    bool GDOpConfigFileSendCheck = false;
    bool GDOpFirmwareFileSendCheck = false;
    // The texts of GDOpResGrid, [row][column]; row 0 and column 0 are fixed.
    std::array<std::array<QString, GDRES_GRID_COLS>, GDRES_GRID_ROWS> GDOpResGrid{};

    // Set-flag boxes in COMPLIST order (grid rows 1 to 6, then the display box).
    static constexpr int CHECK_COUNT = 7;
    bool* setFlagBox(int box); // box 0..6
    bool setFlagBoxValue(int box) const;
    static const char* setFlagBoxName(int box);
    static int boxOfRow(int row); // COMPLIST: grid row 1..9 to box 0..6, -1 otherwise

    // Editor state derived from the selection and the set flags.
    bool editorEnabled(int row) const; // grid row 1..9 of the editor beside it
    QStringList displayItems() const;  // items of GDOptDisplayCombo
    const RSensor& selectedSensor() const; // column outside 1..4 counts as column 1

    // Start-up: nothing set, defaults, column 1 selected.
    void InitConst();
    // Language texts changed: row labels, display item names, result grid labels.
    void RefreshTexts();

    void DisplayGDOptSel(int column);
    void SetGDOptSel(int n);

    // Grid and sensor choice.
    void GDOptGridFixedCellClick(int col, int row);
    void GDOptGridSelectCell(int col, int row);
    void GDOptGridDblClick();
    void GDOptSensorComboChange(int index);

    // Set-flag boxes (toggling one enables or disables its editor).
    void SetFlagBoxClick(int box, bool on);

    // Editors: the text as typed, then the handlers of leaving and up-down clicks.
    // Interval tags: 1 calibration, 2 bump, 3 self-test. Alarm tags: 1 low, 2 high.
    void setEditText(int row, const QString& text); // grid row 1..6 of the edit
    QString editText(int row) const;
    void GDOptUserIDEditExit();
    void GDOptCalEditExit(int tag);
    void GDOptCalUpdownChangingEx(int tag, bool up);
    void GDOptLOWEditExit(int tag);
    void GDOptLOWUpDownChangingEx(int tag, bool up);
    void GDOptDisplayComboChange(int index);
    void GDOptBumpLEDCheckClick(bool on);
    void GDOptEnableMaualTestCheckClick(bool on);
    static bool IntervalKeyAllowed(QChar c); // digits; control characters pass
    static bool AlarmKeyAllowed(QChar c);    // digits, "-", the decimal separator

    // Files. Reading fills the model from "<folder>/<sensor>.CFG"; a file that
    // cannot be read leaves its column as it was and is named in *error.
    bool GetGDCfgFromFiles(const QString& transferFolder, QString* error = nullptr);
    void ReadColumn(int column, const QByteArray& content); // without the final selection
    void FinishRead(); // first column selected without committing
    QByteArray ColumnFileText(int column) const;
    // Commits the editors, then writes the four files atomically.
    bool SetGDCfgToFile(const QString& transferFolder, QString* error = nullptr);

    // Download section.
    void setUpgradeFile(const QString& path);
    void setUpgradeLabel(const QString& text);
    void setConfigFileSend(bool on);
    void setFirmwareFileSend(bool on);
    void clearResults(); // every non-fixed cell of the result grid
    void setResultCell(int col, int row, const QString& text);
    static QString ResultText(int code); // GetTestResult

    // Painting.
    RCellLook GDOptCellLook(int col, int row) const;
    RCellLook GDOpResCellLook(int col, int row) const;

signals:
    void changed();

private:
    int m_depth = 0;
    bool m_dirty = false;
    struct Batch;
    void touch() { m_dirty = true; }
    QString intervalText(int value) const;
    QString alarmText(const RSensor& s, float value) const;
    int intervalFromEdit(int tag) const;
    float alarmFromEdit(int tag, const RSensor& s) const;
    bool validColumn(int c) const { return c >= 1 && c <= CFG_MAX_GD; }
};
