#include "app/LanConnect.h"

#include "app/MainCore.h"
#include "lang/LangTable.h"
#include "platform/Platform.h"

#include <algorithm>

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

QStringList ListedDocks(const QString& setting, QStringList* bad)
{
    QStringList out;
    for (const QString& part : setting.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QString entry = part.trimmed();
        if (entry.isEmpty())
            continue;
        // Four numbers exactly: "10.0.0.5.7" is a typing error, not 10.0.0.5.
        const QString ip = entry.count(QLatin1Char('.')) == 3 ? TUdpSkt::CheckAddress(entry) : QString();
        if (ip.isEmpty()) {
            if (bad)
                *bad << entry;
        } else if (!out.contains(ip)) {
            out << ip;
        }
    }
    return out;
}

namespace {

// Each listed dock is asked directly ("CONNECT" to its own address), for networks
// that do not pass broadcasts. Those that answer join the list under the address
// they were asked at; the others are kept apart, to be tried all the same.
void probeListedDocks(TMainCore& c, TLanDiscovery& discovery, double retrySec, double maxSec)
{
    QStringList bad;
    const QStringList listed = ListedDocks(c.state.settings.NetworkDocks, &bad);
    for (const QString& b : bad)
        c.AddLog(LOGTYPE_LANSERACH, LangText(845) + QStringLiteral(" : ") + b);
    c.FDockLanSilent.clear();
    // A dock answers a direct request at once; a short round keeps a long list quick.
    const double round = std::min(maxSec, 1.0);
    for (const QString& ip : listed) {
        if (discovery.Stopped && discovery.Stopped())
            break;
        const bool known = std::any_of(c.FDockLan.begin() + 1, c.FDockLan.end(),
                                       [&](const RDockLanInfo& d) { return d.mIp == ip; });
        if (known)
            continue;
        QVector<RDockLanInfo> answer;
        discovery.Search({RMyIp{ip, ip}}, std::min(retrySec, round / 2), round, answer);
        if (answer.size() < 2) {
            c.FDockLanSilent << ip;
            continue;
        }
        RDockLanInfo dock = answer[1];
        dock.mIp = ip;
        c.FDockLan << dock;
    }
}

} // namespace

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
        // A stop asked for during the search ends it; one left over from an earlier operation does not.
        const bool stale = c->CancelRequested();
        discovery.Stopped = [c, stale] { return !stale && c->CancelRequested(); };
        // No network to search keeps the docks of the last search.
        discovery.Search(discovery.Networks(locals), retrySec, maxSec, c->FDockLan);
        c->LanSearchError = discovery.Error;
        if (c->FDockLan.isEmpty())
            c->FDockLan = {RDockLanInfo{}};
        probeListedDocks(*c, discovery, retrySec, maxSec);

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
