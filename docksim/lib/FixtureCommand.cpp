#include "FixtureCommand.h"

#include "Fixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace docksim {

QString FixtureUsage()
{
    return QStringLiteral(
        "usage: marvane-docksim fixture DIR [--size small|large] [--seed N] [--now DATETIME]\n"
        "                               [--manifest FILE] [--force]\n"
        "Writes a complete dock file tree (configuration, firmware images, logs) into DIR,\n"
        "as the dock shows it when plugged in as a USB drive.\n"
        "  --size small|large  about 40 log files (default) or more than 2000\n"
        "  --seed N            same seed, same tree (default 1)\n"
        "  --now DATETIME      the dock's \"now\" as yyyy-MM-ddTHH:mm (default: the current time)\n"
        "  --manifest FILE     also write the full manifest (every file, its kind and date) to FILE\n"
        "  --force             write into DIR even when it is not empty (files of the tree are\n"
        "                      replaced, nothing else is removed)\n");
}

namespace {

int usageError(QTextStream& err, const QString& message)
{
    err << "marvane-docksim fixture: " << message << "\n"
        << "Try 'marvane-docksim fixture --help'.\n";
    err.flush();
    return 2;
}

} // namespace

int RunFixtureCommand(const QStringList& args, QTextStream& out, QTextStream& err)
{
    QString dir;
    FixtureSize size = FixtureSize::Small;
    quint32 seed = 1;
    QDateTime now = QDateTime::currentDateTime();
    QString manifestFile;
    bool force = false;

    for (int i = 0; i < args.size(); ++i) {
        QString arg = args[i];
        QString value;
        bool inlineValue = false;
        if (arg.startsWith(QLatin1String("--")) && arg.contains(QLatin1Char('='))) {
            value = arg.section(QLatin1Char('='), 1);
            arg = arg.section(QLatin1Char('='), 0, 0);
            inlineValue = true;
        }
        auto takeValue = [&](QString& v) {
            if (inlineValue) {
                v = value;
                return true;
            }
            if (i + 1 >= args.size())
                return false;
            v = args[++i];
            return true;
        };

        if (arg == QLatin1String("-h") || arg == QLatin1String("--help")) {
            out << FixtureUsage();
            out.flush();
            return 0;
        }
        if (arg == QLatin1String("--force")) {
            force = true;
        } else if (arg == QLatin1String("--size")) {
            QString v;
            if (!takeValue(v))
                return usageError(err, QStringLiteral("--size needs a value"));
            if (v.compare(QLatin1String("small"), Qt::CaseInsensitive) == 0)
                size = FixtureSize::Small;
            else if (v.compare(QLatin1String("large"), Qt::CaseInsensitive) == 0)
                size = FixtureSize::Large;
            else
                return usageError(err, QStringLiteral("--size must be small or large, not \"%1\"").arg(v));
        } else if (arg == QLatin1String("--seed")) {
            QString v;
            if (!takeValue(v))
                return usageError(err, QStringLiteral("--seed needs a value"));
            bool ok = false;
            seed = v.toUInt(&ok);
            if (!ok)
                return usageError(err, QStringLiteral("--seed must be a whole number from 0 to 4294967295, not \"%1\"").arg(v));
        } else if (arg == QLatin1String("--now")) {
            QString v;
            if (!takeValue(v))
                return usageError(err, QStringLiteral("--now needs a value"));
            now = QDateTime::fromString(v, Qt::ISODate);
            if (!now.isValid())
                return usageError(err, QStringLiteral("--now must be a date and time like 2025-06-15T12:00, not \"%1\"").arg(v));
        } else if (arg == QLatin1String("--manifest")) {
            if (!takeValue(manifestFile) || manifestFile.isEmpty())
                return usageError(err, QStringLiteral("--manifest needs a file name"));
        } else if (arg.startsWith(QLatin1Char('-')) && arg.size() > 1) {
            return usageError(err, QStringLiteral("unknown option %1").arg(args[i]));
        } else if (dir.isEmpty() && !arg.isEmpty()) {
            dir = arg;
        } else {
            return usageError(err, arg.isEmpty() ? QStringLiteral("empty folder name")
                                                 : QStringLiteral("more than one folder given (%1)").arg(arg));
        }
    }
    if (dir.isEmpty())
        return usageError(err, QStringLiteral("no folder given"));

    const QFileInfo info(dir);
    if (info.exists() && !info.isDir()) {
        err << "marvane-docksim fixture: " << dir << " exists and is not a folder\n";
        err.flush();
        return 1;
    }
    if (info.exists() && !force
        && !QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot).isEmpty()) {
        err << "marvane-docksim fixture: " << dir << " is not empty; use --force to write into it anyway\n";
        err.flush();
        return 1;
    }

    const FixtureManifest m = WriteFixture(dir, size, seed, now);
    if (!m.ok()) {
        err << "marvane-docksim fixture: " << m.error << "\n";
        err.flush();
        return 1;
    }
    if (!manifestFile.isEmpty()) {
        QFile f(manifestFile);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)
            || f.write(ManifestText(m, true).toUtf8()) < 0) {
            err << "marvane-docksim fixture: cannot write the manifest to " << manifestFile << ": "
                << f.errorString() << "\n";
            err.flush();
            return 1;
        }
    }
    out << "Wrote a " << (size == FixtureSize::Large ? "large" : "small") << " dock tree for dock "
        << m.dockSerial << " into " << m.root << "\n"
        << ManifestText(m, false);
    out.flush();
    return 0;
}

} // namespace docksim
