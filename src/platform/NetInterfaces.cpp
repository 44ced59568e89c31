#include "platform/Platform.h"

#include <QNetworkInterface>

namespace platform {

QStringList LocalIPv4Addresses()
{
    QStringList out;
    for (const QNetworkInterface& iface : QNetworkInterface::allInterfaces()) {
        const auto flags = iface.flags();
        if (!(flags & QNetworkInterface::IsUp) || !(flags & QNetworkInterface::IsRunning))
            continue;
        for (const QNetworkAddressEntry& e : iface.addressEntries())
            if (e.ip().protocol() == QAbstractSocket::IPv4Protocol)
                out << e.ip().toString();
    }
    return out;
}

} // namespace platform
