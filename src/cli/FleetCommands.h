#pragma once
// "marvane-cli fleet": the fleet index from the command line (status, show, export, rebuild).
#include <QString>
#include <QStringList>
#include <QTextStream>

class AppState;

bool IsFleetCommand(const QString& command);
int RunFleetCommand(const QString& command, QStringList args, AppState& state, QTextStream& out, QTextStream& err);
