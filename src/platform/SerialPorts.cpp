// Finding the serial port of the dock's USB-UART bridge.
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSerialPortInfo>

#include "platform/Platform.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace platform {

namespace {
constexpr quint16 kBridgeVendorId = 0x10C4;
} // namespace

QStringList UsbUartPorts()
{
    QStringList out;
    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo& info : ports) {
        if (!info.hasVendorIdentifier() || info.vendorIdentifier() != kBridgeVendorId)
            continue;
#ifdef _WIN32
        static const QRegularExpression comN(QStringLiteral("^COM(\\d+)$"),
                                             QRegularExpression::CaseInsensitiveOption);
        const auto m = comN.match(info.portName());
        if (m.hasMatch() && m.captured(1).toInt() > 9)
            out << QStringLiteral("\\\\.\\COM") + m.captured(1);
        else
            out << info.portName();
#else
        out << info.systemLocation();
#endif
    }
    return out;
}

bool IsSerialDevicePath(const QString& path)
{
#ifdef _WIN32
    return path.contains(QLatin1String("COM"), Qt::CaseInsensitive);
#else
    if (path.isEmpty() || !path.startsWith(QLatin1Char('/')))
        return false;
    struct stat st {};
    const QByteArray native = QFile::encodeName(path);
    return ::stat(native.constData(), &st) == 0 && S_ISCHR(st.st_mode);
#endif
}

} // namespace platform
