#pragma once
// The dock operations of the command line: read, purge, config, write, fw-check.
#include <QStringList>
#include <QTextStream>

class AppState;
class CliOperatorPort;

// Returns the exit status (0 success, 1 failure, 2 usage error).
int RunDockCommand(const QString& command, QStringList args, AppState& state, CliOperatorPort& port,
                   QTextStream& out, QTextStream& err);
bool IsDockCommand(const QString& command);
