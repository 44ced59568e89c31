#pragma once
// The two configuration pages' models together, with the file passes of Read
// and Write and a by-name view for the command line.
//
// ShowLines() gives one "Name=value" line per editor:
//   - Docking Station page, named by component: check boxes "true"/"false",
//     spin editors their number, texts as typed, DockBottleGasCombo1..4 the gas
//     name (empty: no gas), DockBottleGasEdit1..4 the text the editor shows;
//   - the instrument options, per sensor column, as
//       GDOpt.<sensor>.<option>=<value>   and   GDOpt.<sensor>.<option>.Set=1|0
//     with <option> one of UserID, CalInterval, BumpInterval (days),
//     SelfTestInterval, AlarmLow, AlarmHigh (with "." as decimal separator),
//     Display (Both, Reading, Life), HideLED, ManualTest (1|0). Display, HideLED
//     and ManualTest share one set flag. The values shown are the committed ones;
//   - GDUpgradeFileNameEdit, GDUpgradeLabel, GDOpConfigFileSendCheck, GDOpFirmwareFileSendCheck.
//
// Set(name, value) changes one editor as a person would: spin editors clamp,
// bottle choices only offer what the slot's list offers, a concentration is
// taken like a typed value followed by leaving the editor (range, decimals,
// oxygen band); an instrument option is set by choosing its sensor, typing into
// its editor and leaving it, which only works while the option is set
// ("GDOpt.<sensor>.<option>.Set=1" first). Read-only editors refuse.
#include <QString>
#include <QStringList>

#include "app/DockConfig.h"
#include "app/GDConfig.h"

// One editor whose value differs from what the last Read brought.
struct ConfigChange {
    QString name;   // as ShowLines() names it
    QString before; // as read
    QString after;  // as the page holds it now
    int gdCol = 0;  // instrument option: the sensor's column of GDOptGrid (1..4), else 0
    int gdRow = 0;  // and the option's row
};

class ConfigEditors {
public:
    TDockPageModel dock;
    TGDPageModel gd;

    // Start-up state of both pages.
    void InitConst();
    // Read: DOCK.CFG and the four instrument files of the transfer folder.
    bool GetDockCfgFromFile(int appLanPort, QString* error);
    // Write: DOCK.CFG updated in place, then the four instrument files.
    bool SetDockCfgToFile(int appLanPort, QString* error);
    // The four instrument files only (instrument configuration download).
    bool SetGDCfgToFile(QString* error);

    QStringList ShowLines() const;
    // The lines of ShowLines() whose values a Write sends to the dock (no identity,
    // port, upgrade files or transfer switches).
    QStringList ConfigLines() const;
    // What differs between two ConfigLines() lists, in the order of the editors.
    static QVector<ConfigChange> Changes(const QStringList& before, const QStringList& after);
    bool Set(const QString& name, const QString& value, QString* error);

    // The same passes on another folder (tests, command line).
    bool GetDockCfgFromFolder(const QString& folder, int appLanPort, QString* error);
    bool SetDockCfgToFolder(const QString& folder, int appLanPort, QString* error);
    bool SetGDCfgToFolder(const QString& folder, QString* error);
};
