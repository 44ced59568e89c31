#include "app/LanConnect.h"

#include "app/MainCore.h"
#include "lang/LangTable.h"
#include "platform/Platform.h"

QStringList RestrictInterfaces(const QStringList& system, const QString& setting)
{
    const QString list = setting.trimmed();
    if (list.isEmpty())
        return system;
    QStringList wanted;
    for (const QString& part : list.split(QLatin1Char(','), Qt::SkipEmptyParts))
        wanted << part.trimmed();
    // Only addresses the machine really has: a typing error never widens the search.
    QStringList out;
    for (const QString& ip : system)
        if (wanted.contains(ip) && !out.contains(ip))
            out << ip;
    return out;
}

void InstallLanLink(TMainCore& core)
{
    InstallLanLink(core, [] { return platform::LocalIPv4Addresses(); });
}

void InstallLanLink(TMainCore& core, std::function<QStringList()> localAddresses)
{
    TMainCore* c = &core;
    core.LoadLanConnect = [c, localAddresses = std::move(localAddresses)](double retrySec, double maxSec) {
        const QString remembered = c->OpDeviceConnectLanListComboText;
        const QStringList locals =
            RestrictInterfaces(localAddresses ? localAddresses() : QStringList(), c->state.settings.NetworkInterfaces);

        TLanDiscovery discovery;
        discovery.DockPort = quint16(c->state.settings.ConfigPrNNetworkPortEdit);
        discovery.SubnetMask = CheckIp(c->state.settings.ConfigPrNNetworkSubnetEdit);
        discovery.OnLog = [c](const QString& s) { c->AddLog(LOGTYPE_LANSERACH, s); };
        // No network to search keeps the docks of the last search.
        discovery.Search(discovery.Networks(locals), retrySec, maxSec, c->FDockLan);
        c->LanSearchError = discovery.Error;
        if (c->FDockLan.isEmpty())
            c->FDockLan = {RDockLanInfo{}};

        QStringList items{LangText(734)};
        for (qsizetype i = 1; i < c->FDockLan.size(); ++i)
            items << QLatin1Char('[') + c->FDockLan[i].mSN + QStringLiteral("] ") + c->FDockLan[i].mIp;
        int index = int(items.indexOf(remembered));
        if (index <= 0)
            index = items.size() >= 2 ? 1 : 0;
        c->OpDeviceConnectLanListComboItems = items;
        c->OpDeviceConnectLanListComboIndex = index;
        c->OpDeviceConnectLanListComboText = items[index];
    };
}
