#pragma once
// The USB cable link's part of the application: the serial-port list of the
// Connection tab. The instrument downloads, the clock buttons and "Unit Reset"
// are TMainCore members (Downloads.cpp).
#include <QStringList>
#include <functional>

class TMainCore;

// Sets core.LoadUSBCommPort: refills OpDeviceConnectCommPortComboItems with "---"
// and the bridge ports found, keeping the selection when it is still there (a
// typed serial device path such as a pseudo-terminal is kept in the list),
// otherwise selecting the first port found.
void InstallSerialLink(TMainCore& core);
// The same with the port discovery given (tests).
void InstallSerialLink(TMainCore& core, std::function<QStringList()> ports);
