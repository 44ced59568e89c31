#include "link/serial/Comm.h"

#include <QSerialPort>

ECommError::ECommError(const QString& text, int errorCode)
    : std::runtime_error(text.toStdString()), ErrorCode(errorCode)
{
}

TComm::TComm() = default;

TComm::~TComm()
{
    Close();
}

void TComm::raise(const char* text, int code)
{
    throw ECommError(QString::fromLatin1(text) + QString::asprintf(sMsgExtention, code), code);
}

void TComm::SetDeviceName(const QString& name)
{
    if (Enabled())
        raise(sPortAlreadyOpen, -1);
    FDeviceName = name;
}

void TComm::SetReadBufSize(int32_t n)
{
    if (Enabled())
        raise(sPortAlreadyOpen, -1);
    FReadBufSize = n;
}

void TComm::SetWriteBufSize(int32_t n)
{
    if (Enabled())
        raise(sPortAlreadyOpen, -1);
    FWriteBufSize = n;
}

void TComm::SetBaudData(int32_t rate)
{
    if (rate == FBaudData)
        return;
    FBaudData = rate;
    if (Enabled())
        applySettings();
}

void TComm::SetParity(TParity p)
{
    if (p == FParity)
        return;
    FParity = p;
    if (Enabled())
        applySettings();
}

void TComm::SetStopbits(TStopbits s)
{
    if (s == FStopbits)
        return;
    FStopbits = s;
    if (Enabled())
        applySettings();
}

void TComm::SetDatabits(TDatabits d)
{
    if (d == FDatabits)
        return;
    FDatabits = d;
    if (Enabled())
        applySettings();
}

void TComm::SetFlowControl(TFlowControl f)
{
    if (f == FFlowControl)
        return;
    FFlowControl = f;
    if (Enabled())
        applySettings();
}

void TComm::applySettings()
{
    auto* sp = qobject_cast<QSerialPort*>(m_dev.get());
    if (!sp)
        return; // a scripted device has no line
    bool ok = sp->setBaudRate(FBaudData);
    static const QSerialPort::Parity parities[] = {QSerialPort::NoParity, QSerialPort::OddParity,
                                                   QSerialPort::EvenParity, QSerialPort::MarkParity,
                                                   QSerialPort::SpaceParity};
    ok = sp->setParity(parities[int(FParity)]) && ok;
    static const QSerialPort::StopBits stops[] = {QSerialPort::OneStop, QSerialPort::OneAndHalfStop,
                                                  QSerialPort::TwoStop};
    ok = sp->setStopBits(stops[int(FStopbits)]) && ok;
    // Four data bits do not exist on this platform; five is the nearest.
    static const QSerialPort::DataBits bits[] = {QSerialPort::Data5, QSerialPort::Data5, QSerialPort::Data6,
                                                 QSerialPort::Data7, QSerialPort::Data8};
    ok = sp->setDataBits(bits[int(FDatabits)]) && ok;
    // The dock protocol needs no handshake; without a driver default we choose none.
    QSerialPort::FlowControl flow = QSerialPort::NoFlowControl;
    if (FFlowControl == TFlowControl::fcCTS)
        flow = QSerialPort::HardwareControl;
    else if (FFlowControl == TFlowControl::fcSoftware)
        flow = QSerialPort::SoftwareControl;
    ok = sp->setFlowControl(flow) && ok;
    if (!ok)
        raise(sUpdateDCBErr, int(sp->error()));
}

void TComm::Open()
{
    if (Enabled())
        raise(sPortAlreadyOpen, -1);
    m_dev.reset();
    m_lost = false;
    std::unique_ptr<QIODevice> dev;
    if (DeviceFactory) {
        dev = DeviceFactory(FDeviceName);
    } else {
        auto sp = std::make_unique<QSerialPort>();
        sp->setPortName(FDeviceName);
        dev = std::move(sp);
    }
    if (!dev)
        raise(sOpenError, -1);
    if (!dev->isOpen() && !dev->open(QIODevice::ReadWrite)) {
        auto* sp = qobject_cast<QSerialPort*>(dev.get());
        raise(sOpenError, sp ? int(sp->error()) : -1);
    }
    m_dev = std::move(dev);
    try {
        applySettings();
    } catch (...) {
        // Release the device, or every later attempt would find it still held.
        Close();
        throw;
    }
    QIODevice* d = m_dev.get();
    QObject::connect(d, &QIODevice::readyRead, d, [this] {
        if (OnRxChar && m_dev && m_dev->isOpen()) {
            const qint64 n = m_dev->bytesAvailable();
            if (n > 0)
                OnRxChar(int(std::min<qint64>(n, INT32_MAX)));
        }
    });
    QObject::connect(d, &QIODevice::aboutToClose, d, [this] {
        if (!m_closing)
            lost();
    });
    if (auto* sp = qobject_cast<QSerialPort*>(d)) {
        QObject::connect(sp, &QSerialPort::errorOccurred, sp, [this](QSerialPort::SerialPortError e) {
            if (e == QSerialPort::NoError)
                return;
            if (OnError)
                OnError(int(e));
            // A port that fails to read or write is as gone as one unplugged:
            // waiting on it would only run into time-outs.
            if (e == QSerialPort::ResourceError || e == QSerialPort::DeviceNotFoundError ||
                e == QSerialPort::PermissionError || e == QSerialPort::ReadError ||
                e == QSerialPort::WriteError)
                lost();
        });
    }
}

void TComm::lost()
{
    if (m_lost)
        return;
    m_lost = true;
    if (OnLost)
        OnLost();
}

void TComm::Close()
{
    if (!m_dev)
        return;
    m_closing = true;
    QObject::disconnect(m_dev.get(), nullptr, nullptr, nullptr);
    if (m_dev->isOpen())
        m_dev->close();
    // The device may be inside one of its own signals: let the event loop free it.
    m_dev.release()->deleteLater();
    m_closing = false;
}

bool TComm::Enabled() const
{
    return m_dev && m_dev->isOpen() && !m_lost;
}

int TComm::Write(const void* buf, int count)
{
    if (!Enabled())
        return -1;
    const qint64 n = m_dev->write(static_cast<const char*>(buf), count);
    return n < 0 ? -1 : int(n);
}

int TComm::Read(void* buf, int count)
{
    if (!Enabled() || count <= 0)
        return Enabled() ? 0 : -1;
    const qint64 n = m_dev->read(static_cast<char*>(buf), count);
    return n < 0 ? -1 : int(n);
}

int TComm::InQueCount() const
{
    return Enabled() ? int(std::min<qint64>(m_dev->bytesAvailable(), INT32_MAX)) : -1;
}

int TComm::OutQueCount() const
{
    return Enabled() ? int(std::min<qint64>(m_dev->bytesToWrite(), INT32_MAX)) : -1;
}

void TComm::PurgeIn()
{
    if (auto* sp = qobject_cast<QSerialPort*>(m_dev.get()))
        sp->clear(QSerialPort::Input);
    else if (Enabled())
        m_dev->readAll();
}

void TComm::PurgeOut()
{
    if (auto* sp = qobject_cast<QSerialPort*>(m_dev.get()))
        sp->clear(QSerialPort::Output);
}
