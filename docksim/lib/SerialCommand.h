#pragma once
// "marvane-docksim serve-serial": a dock on the USB cable, served over a
// pseudo-terminal.
#include <QString>
#include <QStringList>
#include <QTextStream>

namespace docksim {

struct SerialServerOptions;
struct DockTiming;

QString ServeSerialUsage();
// Fills options and the tree folder from the arguments; false with a message.
bool ParseServeSerialArgs(const QStringList& args, QString& dir, SerialServerOptions& options,
                          DockTiming& timing, QString& failBays, QString& emptyBays, QString* error);
// Prints "PTY <slave path>" as the first line, then serves until standard
// input (a pipe) closes or the process is ended. 0, 1 on failure, 2 on wrong arguments.
int RunServeSerialCommand(const QStringList& args, QTextStream& out, QTextStream& err);

} // namespace docksim
