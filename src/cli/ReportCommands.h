#pragma once
// The reporting commands of the command line: save-log, report, result show, mail-test.
#include <QStringList>
#include <QTextStream>

class AppState;
class CliOperatorPort;

// Returns the exit status (0 success, 1 failure, 2 usage error).
int RunReportCommand(const QString& command, QStringList args, AppState& state, CliOperatorPort& port,
                     QTextStream& out, QTextStream& err);
bool IsReportCommand(const QString& command);
