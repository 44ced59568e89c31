#pragma once
// "marvane-docksim serve-net": a dock on the network, served on loopback.
#include "NetDockServer.h"

#include <QStringList>
#include <QTextStream>

namespace docksim {

// Prints "UDP P TCP Q" as the first line, then serves until standard input (a
// pipe) closes or the process is ended. 0, 1 on failure, 2 on wrong arguments.
int RunServeNetCommand(const QStringList& args, QTextStream& out, QTextStream& err);

} // namespace docksim
