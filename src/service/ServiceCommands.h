#pragma once
// The service page's single-shot commands: serial number, production set-up,
// pump test, instrument memory clear and the simulation records, plus the frame
// of the "PC Operation" dialog. Each opens the serial transport on the chosen
// port, whatever link is chosen, sends one or a few requests and closes it.
#include <QByteArray>
#include <QString>
#include <functional>

class TMainCore;

// Simulation record commands and the service operation codes.
inline constexpr uint8_t SIMUL_CMD_EVENT = 17;
inline constexpr uint8_t SIMUL_CMD_BUMP = 18;
inline constexpr uint8_t SIMUL_CMD_CAL = 19;
inline constexpr uint8_t SERVICE_OP_PUMPTEST = 51;
inline constexpr uint8_t SERVICE_OP_GDDFCLEAR = 102;

// The dock's serial-number field takes this many characters.
inline constexpr int SERVICE_SN_MAX = 11;
// The question "GD DF Clear" asks before it erases the instruments' memory.
inline constexpr int LANG_SVC_GDCLEAR_ASK = 856;

struct RSimEvent {
    QString mSN;
    int mSensor = 0;       // drop-down index: 0 H2S, 1 CO, 2 O2, 3 SO2
    int mType = 0;         // 0 LOW, 1 HIGH
    double mLevel = 10.0;
    int mDuration = 100;   // seconds
};

struct RSimTest {
    QString mSN;
    int mSensor = 0;
    double mZeroPre = 0, mZero = 0;
    int mZeroTime = 1;
    double mSpanPre = 25, mSpan = 25;
    int mSpanTime = 5;
};

// A decimal value x 10, rounded, as the 16-bit word the dock takes. Values past
// the 16-bit range are clamped to it rather than wrapped into another number.
uint16_t SimTenths(double v);
// Text as one byte per character, zero-padded to 12 bytes (a longer text stays whole).
QByteArray SimSerialBytes(const QString& sSN);
QByteArray SimEventRecord(const RSimEvent& e);
QByteArray SimTestRecord(const RSimTest& t);
// Whether a serial number can go to the dock: printable ASCII only.
bool IsServiceSerialText(const QString& s);

class TServiceCommands {
public:
    explicit TServiceCommands(TMainCore& core);

    // History page.
    QString DebugOpSNEdit = QStringLiteral("TS00000000");
    bool DebugOpReadSNBtnClick();
    bool DebugOpWriteSNBtnClick();

    // "Production" group.
    QString PCProdNameEdit = QStringLiteral("TS00000000");
    double PCProdOffsetEdit = 0; // hours, -23 .. 23
    int PCProdDuty1Edit = 0, PCProdDuty2Edit = 0;
    QString PCProdReadLabel = QStringLiteral("---");
    bool PCProdReadBtnClick();
    bool PCProdSetBtnClick();

    // A refusal or an error answer fails the command (status panel, LastError).
    bool PCPumpTestBtnClick();
    // Asks first: the instruments' event logs and results are erased.
    bool PCGDDFClearBtnClick();

    // Simulation panel.
    QString PCSimSNEdit = QStringLiteral("SH00000000");
    int PCSimSensorComboIndex = 0;
    double PCSimEventAlarmEdit = 10.0;
    int PCSimEventTypeRadioIndex = 0;
    int PCSimEventDurationEdit = 100;
    double PCSimTestZeroPreEdit = 0.0, PCSimTestZeroEdit = 0.0;
    int PCSimTestZeroTimeEdit = 1;
    double PCSimTestSpanPreEdit = 25.0, PCSimTestSpanEdit = 25.0;
    int PCSimTestSpanTimeEdit = 5;
    bool PCSimEventAddBtnClick();
    bool PCSimTestBumpBtnClick(int tag); // tag 1 bump test, 2 calibration

    // "PC Operation": the serial traffic boxes of the main window off, the port list
    // refreshed, the transport opened on the chosen port; showDlg runs while it is
    // open, and the transport is closed afterwards in every case.
    bool PCOpBtnClick(const std::function<void()>& showDlg);

    // Why the last command did not run (empty when it did or failed silently).
    QString LastError;

private:
    // Opens the serial transport on the chosen port around body; false when busy.
    bool run(bool refreshPorts, const std::function<bool(bool opened)>& body);
    bool cableChosen();
    // Success or failure of one command by the dock's answer code.
    bool answered(uint8_t nCode);
    // After writing a serial number: false with LastError when the dock reports another.
    bool sameSerial(const QString& sMeant, const QString& sBack);
    TMainCore& m_core;
};
