#pragma once
// "marvane-cli auto": Auto mode without a window, as a long-running service.
#include <QString>
#include <QStringList>
#include <QTextStream>

class AppState;
class CliOperatorPort;

bool IsAutoCommand(const QString& command);
int RunAutoCommand(const QString& command, QStringList args, AppState& state, CliOperatorPort& port,
                   QTextStream& out, QTextStream& err);
