#pragma once
// "fleet push" and "fleet status --all-sites": the central fleet server from the command line.
#include <QStringList>
#include <QTextStream>

class AppState;
class CliOperatorPort;

// True for the fleet sub-commands that reach the server.
bool IsFleetServerCommand(const QStringList& args);
int RunFleetServerCommand(QStringList args, AppState& state, CliOperatorPort& port, QTextStream& out,
                          QTextStream& err);
