#pragma once
// What differs between operating systems: folders, legacy 8-bit text.
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>

namespace platform {

QString TransferFolder();        // system temporary folder + "/TREVASK/"
QString ProgramFolder();         // current dir when it holds Language/, else the data folder beside the executable
QString DefaultLogDestination(); // home + "/GAVIRODOCK/"
QString SystemRoot();            // the root a log destination may not be

// 8-bit text of the legacy code page: Windows-1252, or CP949 for language code 82.
QString DecodeLegacy(const QByteArray& bytes, bool korean = false);
QByteArray EncodeLegacy(const QString& text, bool korean = false);

// Roots (with trailing "/") of the mounted removable volumes whose root holds
// CONFIG/DOCKINFORM.CFG in any letter case, sorted by root path.
QStringList RemovableVolumeRoots();

// Serial ports of attached USB-UART bridges (vendor 0x10C4), in the order found:
// device paths such as /dev/ttyUSB0 here, COMn (\\.\COMn above 9) on Windows.
QStringList UsbUartPorts();
// Whether a text names an existing serial device (a character device such as
// /dev/ttyUSB0 or a pseudo-terminal /dev/pts/N); on Windows a COM port name.
bool IsSerialDevicePath(const QString& path);

// IPv4 addresses of the network interfaces that are up and running, in the
// order the system lists them (loopback included).
QStringList LocalIPv4Addresses();

// Pseudo-terminal for the dock simulator's serial side. keeperFd holds the
// slave open so that the master neither hangs up nor loses its settings while
// no client has the port open.
struct PtyPair {
    int masterFd = -1;
    int keeperFd = -1;
    QString slavePath; // what a client opens as its serial port
};
// Raw mode, no echo, master non-blocking. nullopt with a message on failure.
std::optional<PtyPair> OpenPseudoTerminal(QString* error = nullptr);
void ClosePseudoTerminal(PtyPair& pty); // idempotent
// Non-blocking descriptor I/O: bytes moved, 0 when nothing can move now,
// -1 on error; *ended is set when the other side is gone for good.
qint64 ReadDescriptor(int fd, char* data, qint64 maxSize, bool* ended = nullptr);
qint64 WriteDescriptor(int fd, const char* data, qint64 size);
// Standard input is a pipe or socket, so its end tells that the parent is gone.
bool StdinIsPipe();

} // namespace platform
