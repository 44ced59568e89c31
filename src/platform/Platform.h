#pragma once
// What differs between operating systems: folders, legacy 8-bit text.
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>

namespace platform {

// The transfer folder: settings, language list and staging folders. Private to the
// user and kept across reboots: $XDG_STATE_HOME/marvane/TREVASK/ (default
// ~/.local/state/marvane/TREVASK/); %TEMP%\TREVASK\ on Windows. Evaluated on
// every call, so a test can move it with HOME or XDG_STATE_HOME.
QString TransferFolder();
// Where older versions kept it: the temporary folder + "TREVASK/".
QString LegacyTransferFolder();
// Creates the transfer folder with mode 0700 (missing parents too), or checks
// that the existing one is a real folder (no link) owned by the user and takes
// group and other access away. False with a message that says what is wrong.
bool PrepareTransferFolder(QString* error = nullptr);
// The same check without creating anything; a missing folder passes.
bool CheckTransferFolder(QString* error = nullptr);
// A regular file (not a link) owned by the user running the program.
bool IsOwnRegularFile(const QString& path);
// Gives the file "from" the name "to" in one step, replacing a file of that name
// (the same folder, so a reader sees the old file or the new one, never a mix).
bool ReplaceFile(const QString& from, const QString& to);
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
