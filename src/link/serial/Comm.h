#pragma once
// The serial port under the USB cable link, on top of QSerialPort. The port
// lives on the window thread: its readyRead is delivered there, so received
// bytes reach OnRxChar in order without an event thread of our own.
#include <QIODevice>
#include <QString>
#include <functional>
#include <memory>
#include <stdexcept>

class ECommError : public std::runtime_error {
public:
    ECommError(const QString& text, int errorCode);
    int ErrorCode;
};

// Message texts of the component.
inline constexpr const char* sOpenError = "Error accessing specified device";
inline constexpr const char* sInvalidHandle = "Invalid device handle, access denied";
inline constexpr const char* sPortAlreadyOpen = "Port already assigned (open)";
inline constexpr const char* sPortNotOpen = "Port not open, unable to complete operation";
inline constexpr const char* sSetupCommErr = "Error initializing Read/Write Buffers";
inline constexpr const char* sUpdateDCBErr = "Error updating DataControlBlock";
inline constexpr const char* sCommTimeoutsErr = "Error updating CommTimeouts";
inline constexpr const char* sEscFuncError = "EscapeCommFunction failure";
inline constexpr const char* sReadError = "Read error";
inline constexpr const char* sWriteError = "Write error";
inline constexpr const char* sMsgExtention = " (Error: %d) ";

enum class TParity { paNone, paOdd, paEven, paMark, paSpace };
enum class TStopbits { sb10, sb15, sb20 };
enum class TDatabits { da4, da5, da6, da7, da8 };
enum class TFlowControl { fcNone, fcCTS, fcDTR, fcSoftware, fcDefault };

class TComm {
public:
    TComm();
    ~TComm();
    TComm(const TComm&) = delete;
    TComm& operator=(const TComm&) = delete;

    // Settings; device and queue sizes only change while closed.
    QString DeviceName() const { return FDeviceName; }
    void SetDeviceName(const QString& name);
    int32_t BaudData() const { return FBaudData; }
    void SetBaudData(int32_t rate);
    void SetParity(TParity p);
    void SetStopbits(TStopbits s);
    void SetDatabits(TDatabits d);
    void SetFlowControl(TFlowControl f);
    int32_t ReadBufSize() const { return FReadBufSize; }
    void SetReadBufSize(int32_t n);
    int32_t WriteBufSize() const { return FWriteBufSize; }
    void SetWriteBufSize(int32_t n);
    int32_t FReadTimeout = 1000;
    int32_t FWriteTimeout = 1000;

    // Opens and configures the port; raises ECommError (and leaves the port closed) on failure.
    void Open();
    void Close();
    bool Enabled() const;

    // Bytes transferred, or -1 when the operation did not complete.
    int Write(const void* buf, int count);
    // Returns at once with what has already arrived, up to count.
    int Read(void* buf, int count);
    int InQueCount() const;  // -1 when closed
    int OutQueCount() const; // -1 when closed
    void PurgeIn();
    void PurgeOut();

    // Called on the window thread. OnRxChar gets the number of bytes waiting;
    // OnLost is raised once when the device goes away (cable pulled, device closed).
    std::function<void(int)> OnRxChar;
    std::function<void(int)> OnError;
    std::function<void()> OnLost;

    // Makes the device for a name; tests give a scripted device. The default opens
    // a QSerialPort.
    std::function<std::unique_ptr<QIODevice>(const QString&)> DeviceFactory;

private:
    void applySettings();
    [[noreturn]] void raise(const char* text, int code);
    void lost();

    QString FDeviceName = QStringLiteral("Com2");
    int32_t FBaudData = 9600;
    TParity FParity = TParity::paNone;
    TStopbits FStopbits = TStopbits::sb10;
    TDatabits FDatabits = TDatabits::da8;
    TFlowControl FFlowControl = TFlowControl::fcDefault;
    int32_t FReadBufSize = 4096;
    int32_t FWriteBufSize = 2048;
    std::unique_ptr<QIODevice> m_dev;
    bool m_closing = false;
    bool m_lost = false;
};
