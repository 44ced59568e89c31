// Build step: writes the six language files of a program folder from the sources in
// its Language/ folder, with the same code as the service page's "Make Language File".
#include "lang/LangTable.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 2) {
        std::fprintf(stderr, "usage: marvane-langfiles PROGRAM_FOLDER\n");
        return 2;
    }
    const QString folder = args.at(1);
    if (!QFileInfo(folder).isDir()) {
        std::fprintf(stderr, "marvane-langfiles: %s is not a folder\n", qPrintable(QDir::toNativeSeparators(folder)));
        return 2;
    }
    const QString error = LangTable::buildLanguageFiles(folder);
    if (!error.isEmpty()) {
        std::fprintf(stderr, "marvane-langfiles: %s\n", qPrintable(error));
        return 1;
    }
    return 0;
}
