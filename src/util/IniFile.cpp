#include "util/IniFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QSaveFile>
#include <QStringDecoder>

#include <cmath>

#include "platform/Platform.h"

namespace {

// "[Name]" (blanks allowed around) gives Name.
bool sectionHeader(const QString& line, QString* name = nullptr)
{
    const QString t = line.trimmed();
    if (!t.startsWith(QLatin1Char('[')))
        return false;
    const qsizetype close = t.indexOf(QLatin1Char(']'));
    if (close < 0)
        return false;
    if (name)
        *name = t.mid(1, close - 1).trimmed();
    return true;
}

// "key = value" gives key; comment lines and lines without a key are no key lines.
bool keyLine(const QString& line, QString* key = nullptr)
{
    const QString t = line.trimmed();
    if (t.isEmpty() || t.startsWith(QLatin1Char(';')) || t.startsWith(QLatin1Char('#'))
        || t.startsWith(QLatin1Char('[')))
        return false;
    const qsizetype eq = t.indexOf(QLatin1Char('='));
    if (eq <= 0)
        return false;
    const QString k = t.left(eq).trimmed();
    if (k.isEmpty())
        return false;
    if (key)
        *key = k;
    return true;
}

QString valueOf(const QString& line)
{
    return line.mid(line.indexOf(QLatin1Char('=')) + 1).trimmed();
}

// A value must stay on its own line: a line break in it would open new keys or sections.
QString oneLine(QString s)
{
    s.replace(QLatin1Char('\r'), QLatin1Char(' '));
    s.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return s;
}

bool validName(const QString& name)
{
    return !name.isEmpty() && !name.contains(QLatin1Char('\r'))
           && !name.contains(QLatin1Char('\n'));
}

} // namespace

IniFile::IniFile(const QString& path)
{
    load(path);
}

bool IniFile::load(const QString& path)
{
    m_path = path;
    m_error.clear();
    m_lines.clear();
    m_eol = QStringLiteral("\r\n");
    m_dirty = false;
    m_finalEol = true;
    m_bom = false;

    QFile file(path);
    if (!QFileInfo::exists(path)) {
        m_error = QStringLiteral("File \"%1\" does not exist").arg(path);
        return false;
    }
    if (QFileInfo(path).isDir() || !file.open(QIODevice::ReadOnly)) {
        m_error = QStringLiteral("Cannot read \"%1\": %2")
                      .arg(path, QFileInfo(path).isDir() ? QStringLiteral("it is a folder")
                                                         : file.errorString());
        return false;
    }
    QByteArray bytes = file.readAll();
    file.close();

    if (bytes.startsWith("\xEF\xBB\xBF")) {
        m_bom = true;
        bytes.remove(0, 3);
    }
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (utf8.hasError())
        text = platform::DecodeLegacy(bytes);

    // Split at CRLF, LF or CR and keep the most frequent one for writing.
    qsizetype crlf = 0;
    qsizetype lf = 0;
    qsizetype cr = 0;
    qsizetype start = 0;
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('\r')) {
            m_lines.append(text.mid(start, i - start));
            if (i + 1 < n && text.at(i + 1) == QLatin1Char('\n')) {
                ++crlf;
                ++i;
            } else {
                ++cr;
            }
            start = i + 1;
        } else if (c == QLatin1Char('\n')) {
            m_lines.append(text.mid(start, i - start));
            ++lf;
            start = i + 1;
        }
    }
    if (start < n) {
        m_lines.append(text.mid(start));
        m_finalEol = false;
    }
    if (lf > crlf && lf >= cr)
        m_eol = QStringLiteral("\n");
    else if (cr > crlf && cr > lf)
        m_eol = QStringLiteral("\r");
    return true;
}

bool IniFile::save()
{
    if (m_path.isEmpty()) {
        m_error = QStringLiteral("No file name given");
        return false;
    }
    if (!WriteFileAtomic(m_path, toBytes(), &m_error, m_ownerOnly))
        return false;
    m_error.clear();
    m_dirty = false;
    return true;
}

bool IniFile::saveAs(const QString& path)
{
    m_path = path;
    return save();
}

int IniFile::findSection(const QString& section) const
{
    const QString wanted = section.trimmed();
    QString name;
    for (int i = 0; i < m_lines.size(); ++i) {
        if (sectionHeader(m_lines.at(i), &name)
            && name.compare(wanted, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

int IniFile::sectionEnd(int headerLine) const
{
    int i = headerLine + 1;
    while (i < m_lines.size() && !sectionHeader(m_lines.at(i)))
        ++i;
    return i;
}

int IniFile::findKey(const QString& section, const QString& key) const
{
    const int header = findSection(section);
    if (header < 0)
        return -1;
    const QString wanted = key.trimmed();
    const int end = sectionEnd(header);
    QString name;
    for (int i = header + 1; i < end; ++i) {
        if (keyLine(m_lines.at(i), &name) && name.compare(wanted, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

bool IniFile::sectionExists(const QString& section) const { return findSection(section) >= 0; }

bool IniFile::keyExists(const QString& section, const QString& key) const
{
    return findKey(section, key) >= 0;
}

QStringList IniFile::keys(const QString& section) const
{
    QStringList result;
    const int header = findSection(section);
    if (header < 0)
        return result;
    const int end = sectionEnd(header);
    QString name;
    for (int i = header + 1; i < end; ++i) {
        if (keyLine(m_lines.at(i), &name) && !result.contains(name, Qt::CaseInsensitive))
            result.append(name);
    }
    return result;
}

std::optional<QString> IniFile::value(const QString& section, const QString& key) const
{
    const int line = findKey(section, key);
    if (line < 0)
        return std::nullopt;
    return valueOf(m_lines.at(line));
}

QString IniFile::readString(const QString& section, const QString& key, const QString& def) const
{
    return value(section, key).value_or(def);
}

int IniFile::readInteger(const QString& section, const QString& key, int def) const
{
    const auto v = value(section, key);
    if (!v)
        return def;
    bool ok = false;
    const int n = v->toInt(&ok, 10);
    return ok ? n : def;
}

bool IniFile::readBool(const QString& section, const QString& key, bool def) const
{
    const auto v = value(section, key);
    if (!v)
        return def;
    bool ok = false;
    const qlonglong n = v->toLongLong(&ok, 10);
    return ok ? n != 0 : def;
}

double IniFile::readFloat(const QString& section, const QString& key, double def) const
{
    const auto v = value(section, key);
    if (!v)
        return def;
    bool ok = false;
    double d = QLocale::system().toDouble(*v, &ok);
    if (!ok)
        d = QLocale::c().toDouble(*v, &ok);
    return ok && std::isfinite(d) ? d : def;
}

void IniFile::writeString(const QString& section, const QString& key, const QString& value)
{
    const QString sec = section.trimmed();
    const QString k = key.trimmed();
    if (!validName(sec) || sec.contains(QLatin1Char(']')) || !validName(k)
        || k.contains(QLatin1Char('=')))
        return;
    const QString v = oneLine(value);

    const int existing = findKey(sec, k);
    if (existing >= 0) {
        QString spelling;
        keyLine(m_lines.at(existing), &spelling);
        const QString line = spelling + QLatin1Char('=') + v;
        if (m_lines.at(existing) != line) {
            m_lines[existing] = line;
            m_dirty = true;
        }
        return;
    }

    const int header = findSection(sec);
    if (header >= 0) {
        int insertAt = header + 1;
        for (int i = sectionEnd(header) - 1; i > header; --i) {
            if (!m_lines.at(i).trimmed().isEmpty()) {
                insertAt = i + 1;
                break;
            }
        }
        m_lines.insert(insertAt, k + QLatin1Char('=') + v);
        if (insertAt == m_lines.size() - 1)
            m_finalEol = true;
    } else {
        m_lines.append(QLatin1Char('[') + sec + QLatin1Char(']'));
        m_lines.append(k + QLatin1Char('=') + v);
        m_finalEol = true;
    }
    m_dirty = true;
}

void IniFile::writeInteger(const QString& section, const QString& key, int value)
{
    writeString(section, key, QString::number(value));
}

void IniFile::writeBool(const QString& section, const QString& key, bool value)
{
    writeString(section, key, value ? QStringLiteral("1") : QStringLiteral("0"));
}

void IniFile::writeFloat(const QString& section, const QString& key, double value)
{
    QLocale loc = QLocale::system();
    loc.setNumberOptions(loc.numberOptions() | QLocale::OmitGroupSeparator);
    writeString(section, key, loc.toString(value, 'g', QLocale::FloatingPointShortest));
}

void IniFile::deleteKey(const QString& section, const QString& key)
{
    const int line = findKey(section, key);
    if (line < 0)
        return;
    m_lines.removeAt(line);
    m_dirty = true;
}

void IniFile::eraseSectionKeys(const QString& section)
{
    const int header = findSection(section);
    if (header < 0)
        return;
    int end = sectionEnd(header);
    for (int i = header + 1; i < end;) {
        if (keyLine(m_lines.at(i))) {
            m_lines.removeAt(i);
            --end;
            m_dirty = true;
        } else {
            ++i;
        }
    }
}

QByteArray IniFile::toBytes() const
{
    QByteArray out;
    if (m_bom)
        out.append("\xEF\xBB\xBF");
    if (m_lines.isEmpty())
        return out;
    QString text = m_lines.join(m_eol);
    if (m_finalEol)
        text += m_eol;
    out.append(text.toUtf8());
    return out;
}

bool WriteFileAtomic(const QString& path, const QByteArray& data, QString* error, bool ownerOnly)
{
    auto fail = [error](const QString& message) {
        if (error)
            *error = message;
        return false;
    };
    if (path.isEmpty())
        return fail(QStringLiteral("No file name given"));
    const QFileInfo info(path);
    if (info.isDir())
        return fail(QStringLiteral("Cannot write \"%1\": it is a folder").arg(path));
    const QString folder = info.absolutePath();
    if (!QDir().mkpath(folder))
        return fail(QStringLiteral("Cannot create the folder \"%1\"").arg(folder));

    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return fail(QStringLiteral("Cannot write \"%1\": %2").arg(path, file.errorString()));
    // Set on the temporary file, so the secret is never readable by others, not even briefly.
    if (ownerOnly && !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
        file.cancelWriting();
        return fail(QStringLiteral("Cannot restrict \"%1\" to its owner: %2").arg(path, file.errorString()));
    }
    if (file.write(data) != data.size()) {
        const QString reason = file.errorString();
        file.cancelWriting();
        return fail(QStringLiteral("Cannot write \"%1\": %2").arg(path, reason));
    }
    if (!file.commit())
        return fail(QStringLiteral("Cannot write \"%1\": %2").arg(path, file.errorString()));
    return true;
}
