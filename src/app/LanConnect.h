#pragma once
// The network links' part of the Connection tab: the dock search that fills
// OpDeviceConnectLanListCombo.
#include <QStringList>
#include <functional>

class TMainCore;

// Sets core.LoadLanConnect. The local IPv4 addresses come from the system, kept
// to those NETWORK/Interfaces names when that setting is not empty.
void InstallLanLink(TMainCore& core);
// The same with the local addresses given (tests).
void InstallLanLink(TMainCore& core, std::function<QStringList()> localAddresses);
// The addresses discovery uses: the system's, restricted by the setting's list.
QStringList RestrictInterfaces(const QStringList& system, const QString& setting);
// The dock addresses of NETWORK/Docks: each a single IPv4 address, once, in the
// setting's order. Entries that are none are named in *bad.
QStringList ListedDocks(const QString& setting, QStringList* bad = nullptr);
