#include "app/AutoModeMemory.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include "link/UnitDef.h"
#include "platform/Platform.h"
#include "util/FileCopy.h"
#include "util/IniFile.h"

namespace {

// A serial as a section name: brackets and line breaks would open another section.
QString section(const QString& dockSn)
{
    QString s = dockSn.trimmed();
    for (QChar& c : s)
        if (c == '[' || c == ']' || c.unicode() < 0x20)
            c = '_';
    return s.isEmpty() ? QStringLiteral("_") : s;
}

bool saveIni(IniFile& ini, QString* error)
{
    QDir().mkpath(platform::TransferFolder());
    if (ini.save())
        return true;
    if (error)
        *error = QDir::toNativeSeparators(ini.path()) + QStringLiteral(": ") + ini.lastError();
    return false;
}

QString kindKey(uint8_t kind) { return kind == UNIT_FWTYPE_DOCK ? QStringLiteral("Dock") : QStringLiteral("GD"); }

} // namespace

QString TAutoRetryList::FilePath() { return platform::TransferFolder() + QStringLiteral("AUTORETRY.INI"); }

QStringList TAutoRetryList::Load(const QString& dockSn)
{
    const IniFile ini(FilePath());
    const QString sec = section(dockSn);
    QStringList out;
    const int n = ini.readInteger(sec, QStringLiteral("Count"), 0);
    for (int i = 1; i <= n; ++i) {
        const QString f = ini.readString(sec, QStringLiteral("File%1").arg(i), QString()).trimmed();
        if (!f.isEmpty() && !out.contains(f, Qt::CaseInsensitive))
            out << f;
    }
    return out;
}

bool TAutoRetryList::Save(const QString& dockSn, const QStringList& files, QString* error)
{
    IniFile ini(FilePath());
    ini.setPath(FilePath());
    const QString sec = section(dockSn);
    if (files.isEmpty() && !ini.sectionExists(sec))
        return true;
    ini.eraseSectionKeys(sec);
    if (!files.isEmpty()) {
        ini.writeInteger(sec, QStringLiteral("Count"), int(files.size()));
        for (int i = 0; i < files.size(); ++i)
            ini.writeString(sec, QStringLiteral("File%1").arg(i + 1), files[i]);
    }
    return saveIni(ini, error);
}

QString TFirmwareMemory::FilePath() { return platform::TransferFolder() + QStringLiteral("AUTOFIRMWARE.INI"); }

RFWSent TFirmwareMemory::Load(const QString& dockSn, uint8_t kind)
{
    const IniFile ini(FilePath());
    const QString sec = section(dockSn), k = kindKey(kind);
    return {ini.readString(sec, k, QString()).trimmed(), ini.readString(sec, k + QStringLiteral("Ver"), QString()),
            ini.readString(sec, k + QStringLiteral("File"), QString())};
}

bool TFirmwareMemory::Remember(const QString& dockSn, uint8_t kind, const RFWSent& sent, QString* error)
{
    IniFile ini(FilePath());
    ini.setPath(FilePath());
    const QString sec = section(dockSn), k = kindKey(kind);
    ini.writeString(sec, k, sent.mHash);
    ini.writeString(sec, k + QStringLiteral("Ver"), sent.mVer);
    ini.writeString(sec, k + QStringLiteral("File"), sent.mFile);
    return saveIni(ini, error);
}

QString TFirmwareMemory::ImageHash(const QString& path)
{
    return FileSha256(path);
}

QString TFirmwareMemory::ImageVersion(uint8_t kind, const QString& path)
{
    QString desc;
    std::array<uint8_t, 4> ver{};
    if (TUnitDef::IsValidFirmware(kind, path, desc, ver) != 0)
        return QString();
    return QStringLiteral("%1.%2").arg(ver[0]).arg(ver[1]);
}

bool TFirmwareMemory::SameVersion(const QString& reported, const QString& imageVersion)
{
    static const QRegularExpression re(QStringLiteral("(\\d+)\\.(\\d+)"));
    const QRegularExpressionMatch m = re.match(reported);
    if (imageVersion.isEmpty() || !m.hasMatch())
        return false;
    return QStringLiteral("%1.%2").arg(m.captured(1).toInt()).arg(m.captured(2).toInt()) == imageVersion;
}
