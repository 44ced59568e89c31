#pragma once
// What the alert store and the report documents read from the application's
// state, and the little they write back: the alert settings, the date style, the
// folder for a duplicate of each report, the log destination and the name and
// date of the last report. The application state derives from TReportState, so
// the reporting layer sees only this part of it.
#include <QString>

#include "util/StUtils.h"

// The settings controls that reporting reads, named after their controls.
struct RReportSettings {
    int ConfigSetDateRadio = 0;
    int ConfigSetAlertBumpEdit = 1;
    bool ConfigSetAlertBumpFailCheck = true;
    int ConfigSetAlertCalEdit = 30;
    bool ConfigSetAlertCalFailCheck = true;
    int ConfigSetAlertEventEdit = 1;
    int ConfigSetAlertEventCombo = 1; // 0 hours, 1 days
    bool ConfigSetAlertEventAfterCheck = false;
    TDateTime ConfigSetAlertRefTimePicker = 0.25;
    QString ConfigSendOptDirEdit;
};

class TReportState {
public:
    virtual ~TReportState() = default;

    QString FLogDestDir;
    QString FLastReportFile;
    TDateTime FLastReportDate = 0;

    virtual RReportSettings& reportSettings() = 0;
    const RReportSettings& reportSettings() const { return const_cast<TReportState*>(this)->reportSettings(); }
};
