#pragma once
// "marvane-docksim fixture": writes a dock file tree into a folder.
#include <QString>
#include <QStringList>
#include <QTextStream>

namespace docksim {

QString FixtureUsage();
// args: what follows the command name. Returns the exit code: 0 written,
// 1 the folder could not be used or written, 2 wrong arguments.
int RunFixtureCommand(const QStringList& args, QTextStream& out, QTextStream& err);

} // namespace docksim
