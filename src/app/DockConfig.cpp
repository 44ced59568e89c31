#include "app/DockConfig.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QStringDecoder>

#include <cmath>
#include <stdexcept>

#include "app/GDConfig.h"
#include "platform/Platform.h"
#include "util/IniFile.h"

namespace {

QString withSlash(QString path)
{
    if (!path.isEmpty() && !path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    return path;
}

QString trimBlanks(const QString& s)
{
    qsizetype b = 0;
    qsizetype e = s.size();
    while (b < e && s.at(b).unicode() <= 0x20)
        ++b;
    while (e > b && s.at(e - 1).unicode() <= 0x20)
        --e;
    return s.mid(b, e - b);
}

RCfgList cfgEntry(const QString& fat, const QString& usb, const QString& save)
{
    RCfgList e;
    e.mFatFile = fat;
    e.mUsbFile = usb;
    e.mSaveFile = save;
    e.mLength = 0;
    return e;
}

RCfgList dockEntry(const QString& tf, const QString& usb)
{
    return cfgEntry(FAT_FILE_CONFIG_DOCK, usb + DIR_CONFIG_DOCK + FILE_CONFIG_DOCK,
                    tf + FILE_CONFIG_DOCK);
}

RCfgList informEntry(const QString& tf, const QString& usb)
{
    return cfgEntry(FAT_FILE_CONFIG_INFORM, usb + DIR_CONFIG_INFORM + FILE_CONFIG_INFORM,
                    tf + FILE_CONFIG_INFORM);
}

void appendGDEntries(QVector<RCfgList>& list, const QString& tf, const QString& usb)
{
    for (int c = 1; c <= CFG_MAX_GD; ++c) {
        const QString name = FSensor[FGDSensorList[c]].mName + QStringLiteral(".CFG");
        list.append(cfgEntry(FAT_DIR_CONFIG_GD + name, usb + DIR_CONFIG_GD + name, tf + name));
    }
}

// Profile-style line classification for the writer.
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

bool keyLine(const QString& line, QString* key = nullptr)
{
    const QString t = line.trimmed();
    if (t.isEmpty() || t.startsWith(QLatin1Char(';')) || t.startsWith(QLatin1Char('#'))
        || t.startsWith(QLatin1String("//")) || t.startsWith(QLatin1Char('[')))
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

} // namespace

// ---- small text helpers ----

QString FormatUserFloat(float v, int nDecimal)
{
    return ChangeFStrToGerFStr(QString::number(static_cast<double>(v), 'f', nDecimal));
}

bool ParseUserFloat(const QString& text, float* v)
{
    QString t = trimBlanks(text);
    if (!GVEngType)
        t.replace(QLatin1Char(','), QLatin1Char('.'));
    if (t.isEmpty())
        return false;
    for (QChar c : t) {
        if (!(c.isDigit() || c == QLatin1Char('.') || c == QLatin1Char('-') || c == QLatin1Char('+')))
            return false;
    }
    bool ok = false;
    const double d = QLocale::c().toDouble(t, &ok);
    if (!ok || !std::isfinite(d) || std::fabs(d) > 1e9)
        return false;
    *v = static_cast<float>(d);
    return true;
}

QString OneLineText(QString s)
{
    s.replace(QLatin1Char('\r'), QLatin1Char(' '));
    s.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return s;
}

// ---- bottle slot ----

QString RBottleSlot::comboText() const
{
    return mItemIndex >= 0 && mItemIndex < mItems.size() ? mItems.at(mItemIndex) : QString();
}

QString RBottleSlot::editText() const { return FormatUserFloat(mValue, mDecimal); }

QString RBottleSlot::fileText() const { return ChangeGerFStrToFStr(editText()); }

// ---- transfer lists ----

QVector<RCfgList> GetCfgList(const QString& transferFolder, const QString& usbRoot, bool bRead)
{
    const QString tf = withSlash(transferFolder);
    const QString usb = withSlash(usbRoot);
    QVector<RCfgList> list;
    list.append(dockEntry(tf, usb));
    appendGDEntries(list, tf, usb);
    if (bRead)
        list.append(informEntry(tf, usb));
    return list;
}

QVector<RCfgList> GetWriteCfgList(const QString& transferFolder, const QString& usbRoot)
{
    QVector<RCfgList> list;
    appendGDEntries(list, withSlash(transferFolder), withSlash(usbRoot));
    return list;
}

QVector<RCfgList> GetReadCfgList(const QString& transferFolder, const QString& usbRoot)
{
    return {informEntry(withSlash(transferFolder), withSlash(usbRoot))};
}

bool ClearFiles(const QString& transferFolder, QString* error)
{
    return ClearFiles(transferFolder, GetCfgList(transferFolder, QString(), true), error);
}

bool ClearFiles(const QString& transferFolder, const QVector<RCfgList>& readList, QString* error)
{
    const QString tf = withSlash(transferFolder);
    QStringList problems;
    static const char* const tree[] = {"FW/DOCK/", "FW/GD/", "LOG/", "LOG/DOCK/",
                                       "LOG/GaviroEVENT/", "LOG/GaviroCAL/", "LOG/GaviroBUMP/"};
    for (const char* sub : tree) {
        if (!QDir().mkpath(tf + QLatin1String(sub)))
            problems << QStringLiteral("cannot create \"%1\"").arg(tf + QLatin1String(sub));
    }
    auto removeFile = [&problems](const QString& path) {
        const QFileInfo info(path);
        if (!info.exists() && !info.isSymLink())
            return;
        if (info.isDir() && !info.isSymLink()) {
            problems << QStringLiteral("\"%1\" is a folder").arg(path);
            return;
        }
        if (!QFile::remove(path))
            problems << QStringLiteral("cannot delete \"%1\"").arg(path);
    };
    for (const RCfgList& e : readList)
        removeFile(e.mSaveFile);
    const struct {
        const char* folder;
        const char* suffix;
    } staged[] = {{"FW/DOCK/", "img"},        {"FW/GD/", "img"},         {"LOG/DOCK/", "csv"},
                  {"LOG/GaviroEVENT/", "csv"}, {"LOG/GaviroCAL/", "xml"}, {"LOG/GaviroBUMP/", "xml"}};
    for (const auto& s : staged) {
        const QDir dir(tf + QLatin1String(s.folder));
        if (!dir.exists())
            continue;
        // The dock's FAT names come in any case: match the extension without regard to it.
        const QFileInfoList files = dir.entryInfoList(QDir::Files | QDir::Hidden | QDir::System);
        for (const QFileInfo& f : files) {
            // Listed as a file just now: removed without looking at it again.
            if (f.suffix().compare(QLatin1String(s.suffix), Qt::CaseInsensitive) == 0
                && f.fileName().size() > 4 && !QFile::remove(f.filePath()) && QFileInfo::exists(f.filePath()))
                problems << QStringLiteral("cannot delete \"%1\"").arg(f.filePath());
        }
    }
    if (!problems.isEmpty()) {
        if (error)
            *error = QStringLiteral("The transfer folder could not be emptied: ")
                     + problems.join(QStringLiteral("; "));
        return false;
    }
    return true;
}

// ---- reading configuration text ----

bool ConfigTextIsUtf8(const QByteArray& bytes)
{
    if (bytes.startsWith("\xEF\xBB\xBF"))
        return true;
    bool high = false;
    for (char c : bytes) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            high = true;
            break;
        }
    }
    if (!high)
        return false;
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString decoded = utf8.decode(bytes); // decode() is lazy: it must be turned into a string
    return !utf8.hasError();
}

QString DecodeConfigText(const QByteArray& bytes)
{
    if (!ConfigTextIsUtf8(bytes))
        return platform::DecodeLegacy(bytes);
    QByteArray b = bytes;
    if (b.startsWith("\xEF\xBB\xBF"))
        b.remove(0, 3);
    return QString::fromUtf8(b);
}

QStringList TagConfigLines(const QByteArray& bytes)
{
    if (!ConfigTextIsUtf8(bytes))
        return TagIniLines(bytes);
    // The same tagging as the shared reader, on the UTF-8 text.
    return TagIniText(DecodeConfigText(bytes));
}

bool FindConfigKey(const QStringList& sList, const QString& sKey, QString* value)
{
    const QString wanted = sKey.trimmed();
    if (wanted.isEmpty())
        return false;
    for (const QString& line : sList) {
        if (!line.startsWith(QLatin1String("D ")))
            continue;
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq < 0 || trimBlanks(line.mid(2, eq - 2)).compare(wanted, Qt::CaseInsensitive) != 0)
            continue;
        if (value)
            *value = trimBlanks(line.mid(eq + 1));
        return true;
    }
    return false;
}

QString GetConfigKey(const QStringList& sList, const QString& sKey)
{
    QString v;
    return FindConfigKey(sList, sKey, &v) ? v : QString();
}

// ---- writer ----

TConfigTextWriter::TConfigTextWriter(const QByteArray& original)
{
    m_utf8 = ConfigTextIsUtf8(original);
    QByteArray body = original;
    if (body.startsWith("\xEF\xBB\xBF")) {
        m_bom = body.left(3);
        body.remove(0, 3);
    }
    qsizetype crlf = 0, lf = 0, cr = 0;
    qsizetype start = 0;
    const qsizetype n = body.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char c = body.at(i);
        if (c != '\r' && c != '\n')
            continue;
        Line line;
        line.text = body.mid(start, i - start);
        if (c == '\r' && i + 1 < n && body.at(i + 1) == '\n') {
            line.eol = "\r\n";
            ++crlf;
            ++i;
        } else if (c == '\r') {
            line.eol = "\r";
            ++cr;
        } else {
            line.eol = "\n";
            ++lf;
        }
        m_lines.append(line);
        start = i + 1;
    }
    if (start < n)
        m_lines.append(Line{body.mid(start), QByteArray(), QString()});
    // One decode for the whole text; both code pages keep CR and LF as they are,
    // so its lines match the byte lines one to one.
    const QString text = decode(body);
    QStringList parts;
    qsizetype from = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c != QLatin1Char('\r') && c != QLatin1Char('\n'))
            continue;
        parts.append(text.mid(from, i - from));
        if (c == QLatin1Char('\r') && i + 1 < text.size() && text.at(i + 1) == QLatin1Char('\n'))
            ++i;
        from = i + 1;
    }
    if (from < text.size())
        parts.append(text.mid(from));
    for (int i = 0; i < m_lines.size(); ++i)
        m_lines[i].str = parts.size() == m_lines.size() ? parts.at(i) : decode(m_lines.at(i).text);
    m_eol = "\r\n";
    if (lf > crlf && lf >= cr)
        m_eol = "\n";
    else if (cr > crlf && cr > lf)
        m_eol = "\r";
}

QString TConfigTextWriter::decode(const QByteArray& b) const
{
    return m_utf8 ? QString::fromUtf8(b) : platform::DecodeLegacy(b);
}

QByteArray TConfigTextWriter::encode(const QString& s) const
{
    return m_utf8 ? s.toUtf8() : platform::EncodeLegacy(s);
}

int TConfigTextWriter::findSection(const QString& section) const
{
    QString name;
    for (int i = 0; i < m_lines.size(); ++i) {
        if (sectionHeader(m_lines.at(i).str, &name)
            && name.compare(section, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

int TConfigTextWriter::sectionEnd(int header) const
{
    int i = header + 1;
    while (i < m_lines.size() && !sectionHeader(m_lines.at(i).str))
        ++i;
    return i;
}

void TConfigTextWriter::write(const QString& section, const QString& key, const QString& value)
{
    const QString v = OneLineText(value).trimmed();
    const int header = findSection(section);
    if (header >= 0) {
        const int end = sectionEnd(header);
        QString name;
        for (int i = header + 1; i < end; ++i) {
            const QString& text = m_lines.at(i).str;
            if (!keyLine(text, &name) || name.compare(key, Qt::CaseInsensitive) != 0)
                continue;
            // An unchanged value keeps its line as the dock wrote it.
            if (text.mid(text.indexOf(QLatin1Char('=')) + 1).trimmed() == v)
                return;
            m_lines[i].str = name + QLatin1Char('=') + v;
            m_lines[i].text = encode(m_lines[i].str);
            return;
        }
        // After the section's last non-blank line.
        int at = header + 1;
        for (int i = end - 1; i > header; --i) {
            if (!m_lines.at(i).str.trimmed().isEmpty()) {
                at = i + 1;
                break;
            }
        }
        if (m_lines.at(at - 1).eol.isEmpty())
            m_lines[at - 1].eol = m_eol;
        const QString line = key + QLatin1Char('=') + v;
        m_lines.insert(at, Line{encode(line), m_eol, line});
        return;
    }
    if (!m_lines.isEmpty() && m_lines.last().eol.isEmpty())
        m_lines.last().eol = m_eol;
    const QString headerLine = QLatin1Char('[') + section + QLatin1Char(']');
    const QString line = key + QLatin1Char('=') + v;
    m_lines.append(Line{encode(headerLine), m_eol, headerLine});
    m_lines.append(Line{encode(line), m_eol, line});
}

QByteArray TConfigTextWriter::bytes() const
{
    QByteArray out = m_bom;
    for (const Line& l : m_lines) {
        out += l.text;
        out += l.eol;
    }
    return out;
}

// ---- model ----

struct TDockPageModel::Batch {
    TDockPageModel* m;
    explicit Batch(TDockPageModel* model) : m(model) { ++m->m_depth; }
    ~Batch()
    {
        if (--m->m_depth == 0 && m->m_dirty) {
            m->m_dirty = false;
            emit m->changed();
        }
    }
};

TDockPageModel::TDockPageModel(QObject* parent) : QObject(parent)
{
    InitConst();
}

const QVector<TDockPageModel::CheckEntry>& TDockPageModel::Checks()
{
    // In the order the dock's file lists them (section TEST).
    static const QVector<CheckEntry> table = {
        {"DockCfgAudibleTestCheck", &TDockPageModel::DockCfgAudibleTestCheck, "Buzzer test"},
        {"DockCfgVisibleTestCheck", &TDockPageModel::DockCfgVisibleTestCheck, "LED test"},
        {"DockCfgUpgradeCheck", &TDockPageModel::DockCfgUpgradeCheck, "Upgrade"},
        {"DockCfgLoadEventCheck", &TDockPageModel::DockCfgLoadEventCheck, "Save event log"},
        {"DockCfgConfgiCheck", &TDockPageModel::DockCfgConfgiCheck, "Change config"},
        {"DockCfgCalCheck", &TDockPageModel::DockCfgCalCheck, "Calibration"},
        {"DockCfgBumpCheck", &TDockPageModel::DockCfgBumpCheck, "Bump test"},
        {"DockCfgHibernateCheck", &TDockPageModel::DockCfgHibernateCheck, "Allow Turn Off"},
        {"DockCfgCalbumpFailedCheck", &TDockPageModel::DockCfgCalbumpFailedCheck,
         "CAL after Bump fail"},
    };
    return table;
}

const QVector<TDockPageModel::SpinEntry>& TDockPageModel::Spins()
{
    static const QVector<SpinEntry> table = {
        {"DockCfgAutoPowerOffTimeEdit", &TDockPageModel::DockCfgAutoPowerOffTimeEdit,
         DOCK_AUTOOFF_RANGE, "Auto Off Time"},
        {"DockCfgMaxBumpTimeEdit", &TDockPageModel::DockCfgMaxBumpTimeEdit, DOCK_BUMPTIME_RANGE,
         "Bump Time"},
        {"DockCfgBumpPassLimitEdit", &TDockPageModel::DockCfgBumpPassLimitEdit,
         DOCK_BUMPPASS_RANGE, "Bump Pass Limit"},
    };
    return table;
}

const QVector<TDockPageModel::TextEntry>& TDockPageModel::Texts()
{
    static const QVector<TextEntry> table = {
        {"DockInfoSNEdit", &TDockPageModel::DockInfoSNEdit, true},
        {"DockInfoVerEdit", &TDockPageModel::DockInfoVerEdit, true},
        {"DockInfoLocationEdit", &TDockPageModel::DockInfoLocationEdit, false},
        {"DockBottleLotEdit", &TDockPageModel::DockBottleLotEdit, false},
        {"DockBottleDateEdit", &TDockPageModel::DockBottleDateEdit, false},
        {"DockLanIpEdit", &TDockPageModel::DockLanIpEdit, false},
        {"DockLanSubnetMaskEdit", &TDockPageModel::DockLanSubnetMaskEdit, false},
        {"DockLanGateWayEdit", &TDockPageModel::DockLanGateWayEdit, false},
        {"DockUpgradeFileEdit", &TDockPageModel::DockUpgradeFileEdit, false},
        {"DockUpgradeLabel", &TDockPageModel::DockUpgradeLabel, true},
    };
    return table;
}

void TDockPageModel::InitConst()
{
    Batch batch(this);
    for (const CheckEntry& c : Checks())
        this->*(c.member) = false;
    for (const SpinEntry& s : Spins())
        this->*(s.member) = s.range.mDefault;
    DockInfoSNEdit.clear();
    DockInfoVerEdit.clear();
    DockInfoLocationEdit.clear();
    DockBottleLotEdit.clear();
    DockBottleDateEdit.clear();
    DockLanIpEdit = QStringLiteral("0.0.0.0");
    DockLanSubnetMaskEdit = QStringLiteral("255.255.255.0");
    DockLanGateWayEdit = QStringLiteral("192.168.0.1");
    DockUpgradeFileEdit.clear();
    DockUpgradeLabel = QStringLiteral("---");
    for (auto& s : FBottleSlot)
        s = RBottleSlot{};
    FBottleList = {0, 1, 2, 3, 4};
    for (int slot = 1; slot <= CFG_MAX_BOTTLE; ++slot)
        ChangeBottleList(slot);
    touch();
}

void TDockPageModel::setCheck(bool TDockPageModel::*member, bool on)
{
    Batch batch(this);
    if (this->*member != on) {
        this->*member = on;
        touch();
    }
}

void TDockPageModel::setSpin(const SpinEntry& entry, int value)
{
    Batch batch(this);
    const int v = StGetIntRange(value, entry.range.mMin, entry.range.mMax);
    if (this->*(entry.member) != v) {
        this->*(entry.member) = v;
        touch();
    }
}

void TDockPageModel::setText(QString TDockPageModel::*member, const QString& text)
{
    Batch batch(this);
    if (this->*member != text) {
        this->*member = text;
        touch();
    }
}

void TDockPageModel::setDockInfo(const QString& sn, const QString& version)
{
    Batch batch(this);
    setText(&TDockPageModel::DockInfoSNEdit, sn);
    setText(&TDockPageModel::DockInfoVerEdit, version);
}

void TDockPageModel::setUpgradeFile(const QString& path)
{
    setText(&TDockPageModel::DockUpgradeFileEdit, path);
}

void TDockPageModel::setUpgradeLabel(const QString& text)
{
    setText(&TDockPageModel::DockUpgradeLabel, text);
}

// ---- bottle slots ----

void TDockPageModel::MakeBottleList(int slot)
{
    if (!validSlot(slot))
        return;
    Batch batch(this);
    RBottleSlot& s = FBottleSlot[slot];
    s.mItems.clear();
    if (slot > 1)
        s.mItems.append(QString());
    for (int code = 1; code <= CFG_MAX_GAS; ++code) {
        bool used = false;
        for (int k = 1; k < slot; ++k)
            used = used || FBottleList[k] == code;
        if (!used)
            s.mItems.append(FGasInfo[code - 1].mName);
    }
    const int code = FBottleList[slot];
    const QString current = code >= 1 && code <= CFG_MAX_GAS ? FGasInfo[code - 1].mName : QString();
    s.mItemIndex = int(s.mItems.indexOf(current));
    if (s.mItemIndex < 0) {
        s.mItemIndex = 0;
        if (slot == 1)
            FBottleList[1] = CFG_GAS_H2S;
    }
    touch();
}

void TDockPageModel::ClearBottle(int slot)
{
    if (!validSlot(slot))
        return;
    Batch batch(this);
    for (int k = slot; k <= CFG_MAX_BOTTLE; ++k)
        FBottleList[k] = 0;
    for (int k = slot; k <= CFG_MAX_BOTTLE; ++k)
        MakeBottleList(k);
    touch();
}

void TDockPageModel::ChangeBottleList(int slot)
{
    if (!validSlot(slot))
        return;
    Batch batch(this);
    touch();
    for (int k = slot; k <= CFG_MAX_BOTTLE; ++k) {
        FBottleSlot[k].mComboEnabled = false;
        FBottleSlot[k].mEditWritable = false;
    }
    const int code = FBottleList[slot];
    if (slot != 1 && code == 0) {
        ClearBottle(slot);
        FBottleSlot[slot].mComboEnabled = slot == 2 || FBottleList[slot - 1] > 0;
        return;
    }
    if (slot == 1 && code < 1)
        ClearBottle(2);
    MakeBottleList(slot);
    RBottleSlot& s = FBottleSlot[slot];
    s.mComboEnabled = true;
    s.mEditWritable = true;
    const int gas = FBottleList[slot];
    if (gas >= 1 && gas <= CFG_MAX_GAS) {
        const RGasInfo& g = FGasInfo[gas - 1];
        s.mMin = g.mCalMin;
        s.mMax = g.mCalMax;
        s.mDecimal = g.mDecimal;
        s.mIncrement = g.mIncrement;
        s.mValue = g.mCalDefault;
    }
    for (int k = slot + 1; k <= CFG_MAX_BOTTLE; ++k) {
        const QString remembered = FBottleSlot[k].comboText();
        if (FBottleList[k] == gas) {
            ClearBottle(k);
            FBottleSlot[k].mComboEnabled = true;
            break;
        }
        MakeBottleList(k);
        RBottleSlot& later = FBottleSlot[k];
        if (FBottleList[k] == 0) {
            later.mComboEnabled = FBottleList[k - 1] > 0;
        } else {
            // The rebuilt list keeps the slot's choice; a remembered text that is
            // not offered any more leaves the slot's own gas selected.
            const int idx = int(later.mItems.indexOf(remembered));
            if (idx >= 0 && !remembered.isEmpty())
                later.mItemIndex = idx;
            later.mComboEnabled = true;
            later.mEditWritable = true;
        }
    }
}

void TDockPageModel::DockBottleGasCombo1Change(int slot, const QString& text)
{
    if (!validSlot(slot))
        return;
    Batch batch(this);
    int code = 0;
    for (int c = 1; c <= CFG_MAX_GAS; ++c) {
        if (FGasInfo[c - 1].mName == text)
            code = c;
    }
    if (code == FBottleList[slot])
        return;
    FBottleList[slot] = code;
    ChangeBottleList(slot);
}

void TDockPageModel::setBottleValue(int slot, float value)
{
    if (!validSlot(slot))
        return;
    Batch batch(this);
    RBottleSlot& s = FBottleSlot[slot];
    float v = StGetFloatRange(value, s.mMin, s.mMax);
    // The editor holds what it shows.
    const double scale = std::pow(10.0, s.mDecimal);
    v = static_cast<float>(std::round(static_cast<double>(v) * scale) / scale);
    if (s.mValue != v) {
        s.mValue = v;
        touch();
    }
}

void TDockPageModel::oxygenBand(int slot)
{
    if (FBottleList[slot] != CFG_GAS_O2)
        return;
    const float v = FBottleSlot[slot].mValue;
    if (v >= CFG_O2GAS_SKIPMIN && v <= CFG_O2GAS_SKIPMEAN)
        setBottleValue(slot, CFG_O2GAS_SKIPMIN);
    else if (v >= CFG_O2GAS_SKIPMEAN && v <= CFG_O2GAS_SKIPMAX)
        setBottleValue(slot, CFG_O2GAS_SKIPMAX);
}

bool TDockPageModel::DockBottleGasEdit1Exit(int slot, const QString& text)
{
    if (!validSlot(slot))
        return false;
    Batch batch(this);
    float v = 0;
    const bool ok = ParseUserFloat(text, &v);
    if (ok)
        setBottleValue(slot, v);
    else
        touch(); // the editor shows its value again
    oxygenBand(slot);
    return ok;
}

void TDockPageModel::DockBottleGasEdit1TopClick(int slot)
{
    if (!validSlot(slot) || !FBottleSlot[slot].mEditWritable)
        return;
    Batch batch(this);
    setBottleValue(slot, FBottleSlot[slot].mValue + FBottleSlot[slot].mIncrement);
    oxygenBand(slot);
}

void TDockPageModel::DockBottleGasEdit1BottomClick(int slot)
{
    if (!validSlot(slot) || !FBottleSlot[slot].mEditWritable)
        return;
    Batch batch(this);
    setBottleValue(slot, FBottleSlot[slot].mValue - FBottleSlot[slot].mIncrement);
    oxygenBand(slot);
}

// ---- DOCK.CFG ----

bool TDockPageModel::GetDockCfgFromFile(const QString& path, int appLanPort, QString* error)
{
    QFile file(path);
    if (QFileInfo(path).isDir() || !file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("Cannot read the dock configuration \"%1\": %2")
                         .arg(path, QFileInfo(path).isDir() ? QStringLiteral("it is a folder")
                                                            : file.errorString());
        return false;
    }
    const QByteArray content = file.readAll();
    ReadDockCfg(content, appLanPort);
    return true;
}

void TDockPageModel::ReadDockCfg(const QByteArray& content, int appLanPort)
{
    Batch batch(this);
    touch();
    const QStringList list = TagConfigLines(content);
    auto value = [&list](const QString& key) { return GetConfigKey(list, key); };

    const char* const spinKeys[] = {"AUTO Off Time", "Bump Time", "Bump Pass Limit"};
    for (int i = 0; i < Spins().size(); ++i) {
        const SpinEntry& s = Spins().at(i);
        setSpin(s, GetIniFileDataInt(value(QLatin1String(spinKeys[i])), this->*(s.member)));
    }
    for (const CheckEntry& c : Checks())
        this->*(c.member) = GetIniFileDataBool(value(QLatin1String(c.fileKey)), this->*(c.member));

    DockInfoLocationEdit = value(QStringLiteral("location"));
    DockBottleLotEdit = value(QStringLiteral("Gas Lot Number"));
    DockBottleDateEdit = value(QStringLiteral("Gas Expiry"));

    int filled = 0;
    for (int code = 1; code <= CFG_MAX_GAS; ++code) {
        const QString text = value(FGasInfo[code - 1].mName + QStringLiteral(" Gas Concentration"));
        const float conc = GetIniFileDataFloat(text, 0);
        if (text.isEmpty() || !(conc > 0) || filled >= CFG_MAX_BOTTLE)
            continue;
        ++filled;
        FBottleList[filled] = code;
        ChangeBottleList(filled);
        setBottleValue(filled, conc);
    }
    for (int slot = filled + 1; slot <= CFG_MAX_BOTTLE; ++slot) {
        FBottleList[slot] = 0;
        ChangeBottleList(slot);
    }

    auto address = [&value](const char* key, const char* def) {
        const QString v = value(QLatin1String(key));
        return v.isEmpty() ? QString::fromLatin1(def) : v;
    };
    DockLanIpEdit = address("IP", "0.0.0.0");
    DockLanSubnetMaskEdit = address("Subnet Mask", "255.255.255.0");
    DockLanGateWayEdit = address("Gateway", "192.168.0.1");
    DockLanUdpPortEdit = appLanPort;
}

QByteArray TDockPageModel::WriteDockCfg(const QByteArray& original, int appLanPort)
{
    Batch batch(this);
    touch();
    DockLanIpEdit = CheckIp(DockLanIpEdit);
    DockLanSubnetMaskEdit = CheckIp(DockLanSubnetMaskEdit);
    DockLanGateWayEdit = CheckIp(DockLanGateWayEdit);
    DockLanUdpPortEdit = appLanPort;

    TConfigTextWriter w(original);
    const QString test = QStringLiteral("TEST");
    for (const CheckEntry& c : Checks())
        w.write(test, QLatin1String(c.fileKey),
                this->*(c.member) ? QStringLiteral("true") : QStringLiteral("false"));

    const QString gas = QStringLiteral("GAS INFORMATIONS");
    w.write(gas, QStringLiteral("Gas Lot Number"), DockBottleLotEdit);
    w.write(gas, QStringLiteral("Gas Expiry"), DockBottleDateEdit);
    for (int slot = 1; slot <= CFG_MAX_BOTTLE; ++slot) {
        const int code = FBottleList[slot];
        if (code < 1 || code > CFG_MAX_GAS)
            continue;
        w.write(gas, FGasInfo[code - 1].mName + QStringLiteral(" Gas Concentration"),
                FBottleSlot[slot].fileText());
    }

    const QString options = QStringLiteral("OPTIONS");
    for (const SpinEntry& s : Spins())
        w.write(options, QLatin1String(s.fileKey), QString::number(this->*(s.member)));
    w.write(options, QStringLiteral("Location"), DockInfoLocationEdit);

    const QString eth = QStringLiteral("Ethernet");
    w.write(eth, QStringLiteral("IP"), DockLanIpEdit);
    w.write(eth, QStringLiteral("Subnet Mask"), DockLanSubnetMaskEdit);
    w.write(eth, QStringLiteral("Gateway"), DockLanGateWayEdit);
    w.write(eth, QStringLiteral("UDP Port"), QString::number(DockLanUdpPortEdit));
    return w.bytes();
}

bool TDockPageModel::SetDockCfgToFile(const QString& path, int appLanPort, QString* error)
{
    QFile file(path);
    if (!QFileInfo::exists(path)) {
        if (error)
            *error = QStringLiteral("The dock configuration \"%1\" is missing: read the dock "
                                    "first, the file is only updated, never made up")
                         .arg(path);
        return false;
    }
    if (QFileInfo(path).isDir() || !file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("Cannot read the dock configuration \"%1\": %2")
                         .arg(path, QFileInfo(path).isDir() ? QStringLiteral("it is a folder")
                                                            : file.errorString());
        return false;
    }
    const QByteArray original = file.readAll();
    file.close();
    return WriteFileAtomic(path, WriteDockCfg(original, appLanPort), error);
}
