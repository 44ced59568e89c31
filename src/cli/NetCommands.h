#pragma once
// The network commands of the command line: discover.
#include <QStringList>
#include <QTextStream>

class AppState;
class CliOperatorPort;

bool IsNetCommand(const QString& command);
// Returns the exit status (0 success, also when no dock answered; 2 usage error).
int RunNetCommand(const QString& command, QStringList args, AppState& state, CliOperatorPort& port,
                  QTextStream& out, QTextStream& err);
