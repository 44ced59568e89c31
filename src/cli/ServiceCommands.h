#pragma once
// The service commands and the bay task monitor on the command line:
// "service ..." and "monitor ...", over the USB cable.
#include <QStringList>
#include <QTextStream>

class AppState;
class CliOperatorPort;

bool IsServiceCommand(const QString& command);
// Returns the exit status (0 success, 1 failure, 2 usage error).
int RunServiceCommand(const QString& command, QStringList args, AppState& state, CliOperatorPort& port,
                      QTextStream& out, QTextStream& err);
