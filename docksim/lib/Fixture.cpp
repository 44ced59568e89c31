#include "Fixture.h"

#include "DockFiles.h"
#include "DockLayout.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSet>
#include <QTextStream>

#include <algorithm>
#include <cmath>

namespace docksim {

using namespace layout;

namespace {

constexpr int kPurgeDays = 90;

QString two(int v) { return QStringLiteral("%1").arg(v, 2, 10, QLatin1Char('0')); }

QDateTime toMinute(const QDateTime& t)
{
    return QDateTime(t.date(), QTime(t.time().hour(), t.time().minute()));
}

// The dates names carry, by the dock's naming rules: a ten-digit stamp
// yymmddhhnn with a year above 20, or a year (2 or 4 digits, above 20) and a month.
QDateTime stampDate(const QString& field)
{
    if (field.size() != 10)
        return {};
    bool ok = true;
    int v[5];
    for (int i = 0; i < 5 && ok; ++i)
        v[i] = field.mid(2 * i, 2).toInt(&ok);
    if (!ok || v[0] <= 20 || v[1] < 1 || v[1] > 12 || v[2] < 1 || v[2] > 31 || v[3] > 23 || v[4] > 59)
        return {};
    const QDate d(2000 + v[0], v[1], v[2]);
    return d.isValid() ? QDateTime(d, QTime(v[3], v[4])) : QDateTime();
}

QDateTime yearMonthDate(const QString& year, const QString& month)
{
    bool okY = false;
    bool okM = false;
    int y = year.toInt(&okY);
    const int m = month.toInt(&okM);
    if (!okY || !okM || y <= 20 || m < 1 || m > 12)
        return {};
    if (y <= 1000)
        y += 2000;
    return QDateTime(QDate(y, m, 1), QTime(0, 0));
}

QString stampOf(const QDateTime& t) { return t.toString(QStringLiteral("yyMMddHHmm")); }

QString parentOf(const QString& path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? QString() : path.left(slash);
}

QString fileNameOf(const QString& path) { return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1); }

class Builder {
public:
    Builder(FixtureSize size, quint32 seed, const QDateTime& reference)
        : m_size(size), m_seed(seed), m_rng(seed), m_ref(reference)
    {
        m_ref.setTime(QTime(m_ref.time().hour(), m_ref.time().minute(), m_ref.time().second()));
        m_tree.manifest.size = size;
        m_tree.manifest.seed = seed;
        m_tree.manifest.reference = m_ref;
    }

    FixtureTree build()
    {
        makeIdentity();
        writeConfig();
        writeFirmware();
        writeDockLogs();
        for (int i = 0; i < m_instruments.size(); ++i) {
            writeEvents(i);
            writeTests(i);
        }
        writeOddities();
        finish();
        return std::move(m_tree);
    }

private:
    struct Instrument {
        QString serial;
        int gas;
    };

    bool large() const { return m_size == FixtureSize::Large; }

    QDateTime ago(double days) const { return m_ref.addSecs(-qint64(std::llround(days * 86400.0))); }

    // Spreads n dates over the last 420 days, denser towards now: the first
    // lies within the purge limit, the last well beyond it.
    QDateTime spread(int j, int n)
    {
        const double x = (j + m_rng.generateDouble()) / n;
        return ago(0.1 + 419.9 * std::pow(x, 1.5));
    }

    template <typename T>
    T pick(std::initializer_list<T> items)
    {
        return items.begin()[m_rng.bounded(int(items.size()))];
    }

    // Names are unique the way the dock's FAT drive sees them (without regard to case).
    void claim(const QString& path) { m_claimed.insert(path.toUpper()); }

    void addFile(const QString& path, const QByteArray& data, const QDateTime& modified)
    {
        claim(path);
        m_tree.files.append({path, data, modified});
    }

    void addLog(const QString& path, const QByteArray& data, LogKind kind, const QDateTime& nameDate,
                const QDateTime& modified, const QString& result = {})
    {
        addFile(path, data, modified);
        ManifestLog log;
        log.path = path;
        log.kind = kind;
        const QString base = fileNameOf(path).section(QLatin1Char('.'), 0, 0);
        log.alias = base.section(QLatin1Char('_'), 0, 0);
        log.nameDate = kind == LogKind::None ? QDateTime() : nameDate;
        log.fileTime = modified;
        log.size = data.size();
        log.result = result;
        m_tree.manifest.logs.append(log);
    }

    void addOther(const QString& path, const QByteArray& data, const QDateTime& modified)
    {
        addFile(path, data, modified);
        m_tree.manifest.otherFiles.append(path);
    }

    // A stamped name in dir that no other file has: moves the time on by a
    // minute until the name is free.
    QString stampedName(const QString& dir, const QString& serial, const QString& kind,
                        QDateTime& when, const QString& ext)
    {
        for (;;) {
            const QString path = dir + QLatin1Char('/') + serial + QLatin1Char('_') + kind
                                 + QLatin1Char('_') + stampOf(when) + ext;
            if (!m_claimed.contains(path.toUpper()))
                return path;
            when = when.addSecs(60);
        }
    }

    void makeIdentity()
    {
        m_id.model = QStringLiteral("Gaviro Dock 4");
        m_id.serial = QStringLiteral("GD4") + QString::number(m_rng.bounded(100000, 1000000));
        m_id.fwVersion = QStringLiteral("2.1.3");
        m_id.hwVersion = QStringLiteral("1.2");
        m_id.mac = QStringLiteral("00:1B:5C:%1:%2:%3")
                       .arg(m_rng.bounded(256), 2, 16, QLatin1Char('0'))
                       .arg(m_rng.bounded(256), 2, 16, QLatin1Char('0'))
                       .arg(m_rng.bounded(256), 2, 16, QLatin1Char('0'))
                       .toUpper();
        m_id.buildDate = QDateTime(m_ref.date().addDays(-200), QTime(14, 22));

        static const char* const prefixes[4] = {"HA", "CA", "XA", "SA"};
        const int count = large() ? 40 : 4;
        QSet<QString> used;
        while (m_instruments.size() < count) {
            const int gas = int(m_instruments.size() % 4);
            const QString sn = QLatin1String(prefixes[gas]) + QString::number(m_rng.bounded(1000000, 10000000));
            if (used.contains(sn))
                continue;
            used.insert(sn);
            m_instruments.append({sn, gas});
            m_tree.manifest.instruments.append({sn, QString::fromLatin1(Gas(gas).name)});
        }
        m_retiredSerial = QStringLiteral("HA") + QString::number(m_rng.bounded(1000000, 10000000));
        while (used.contains(m_retiredSerial))
            m_retiredSerial += QLatin1Char('1');

        m_tree.manifest.dockSerial = m_id.serial;
        m_tree.manifest.dockVersion = m_id.fwVersion;
    }

    void writeConfig()
    {
        DockSettings& s = m_settings;
        s.upgrade = m_rng.bounded(2) == 1;
        s.allowTurnOff = m_rng.bounded(2) == 1;
        s.gasLot = QStringLiteral("LOT-%1-%2").arg(two(m_ref.date().year() % 100)).arg(m_rng.bounded(1000, 10000));
        s.gasExpiry = m_ref.date().addDays(300).toString(QStringLiteral("yyyy-MM"));
        s.concentration[0] = pick({QStringLiteral("25.0"), QStringLiteral("10.0"), QStringLiteral("50.0")});
        s.concentration[1] = pick({QStringLiteral("100"), QStringLiteral("50"), QStringLiteral("200")});
        s.concentration[2] = pick({QStringLiteral("18.0"), QStringLiteral("15.0")});
        s.concentration[3] = pick({QStringLiteral("10.0"), QStringLiteral("5.0")});
        s.oldH2SConcentration = s.concentration[0] == QLatin1String("10.0") ? QStringLiteral("25.0")
                                                                            : QStringLiteral("10.0");
        s.autoOffTime = pick({600, 900, 1800});
        s.bumpTime = pick({30, 45, 60});
        s.bumpPassLimit = pick({50, 60});
        s.location = pick({QStringLiteral("Atelier Réparation, Hall B"), QStringLiteral("Dépôt Nord - Baie 2"),
                           QStringLiteral("Salle Sécurité")});
        // Loopback only: whatever serves this tree must not point a client off the machine.
        s.ip = QStringLiteral("127.0.0.1");
        s.subnetMask = QStringLiteral("255.0.0.0");
        s.gateway = QStringLiteral("127.0.0.1");
        s.udpPort = 7000;

        m_tree.manifest.location = s.location;
        for (int g = 0; g < 4; ++g)
            m_tree.manifest.concentrations.append(
                {QString::fromLatin1(Gas(g).name), s.concentration[g], s.concentration[g].toDouble()});

        const QDateTime cfgTime = ago(3.2);
        addFile(kInformCfg, InformCfgText(m_id), ago(200));
        addFile(kDockCfg, DockCfgText(s, m_id), cfgTime);

        // One sensor with every option set, one partly, one with none, one with odd values.
        InstrumentSettings h2s{true, 5, true, QStringLiteral("OPS-A"), true, 24, true, 15.0, true, 10.0,
                               true, 180, true, 30};
        InstrumentSettings co{true, 1, false, QString(), true, 20, true, 200.0, false, 35.0,
                              true, 90, false, 0};
        InstrumentSettings o2{false, 0, false, QString(), false, 20, false, 23.5, false, 19.5,
                              false, 0, false, 0};
        InstrumentSettings so2{true, 10, true, QString(), true, 8, true, 5.0, true, 2.0,
                               true, 365, true, 1};
        const InstrumentSettings* all[4] = {&h2s, &co, &o2, &so2};
        for (int g = 0; g < 4; ++g)
            addFile(InstrumentCfgPath(kSensorNames[g]), InstrumentCfgText(g, *all[g]), cfgTime);
    }

    void addImage(const QString& dir, const QString& name, ImageKind kind, int version,
                  const QByteArray& data, bool valid, const QString& defect, double ageDays)
    {
        const QString path = dir + QLatin1Char('/') + name;
        addFile(path, data, ago(ageDays));
        m_tree.manifest.images.append({path, kind, version, valid, defect});
    }

    void writeFirmware()
    {
        const quint32 base = m_seed * 7919u;
        auto img = [&](ImageKind k, int v, int build) { return MakeImage(k, quint8(v), quint8(build), base + quint32(v)); };
        const ImageKind D = ImageKind::Dock;
        const ImageKind G = ImageKind::Instrument;

        addImage(kFwDockDir, QStringLiteral("DOCK_V18.IMG"), D, 18, img(D, 18, 4), true, {}, 400);
        addImage(kFwDockDir, QStringLiteral("DOCK_V21.IMG"), D, 21, img(D, 21, 3), true, {}, 40);
        addImage(kFwDockDir, QStringLiteral("DOCK_V20.IMG"), D, 20, img(D, 20, 1), true, {}, 150);
        addImage(kFwDockDir, QStringLiteral("dock_v19.img"), D, 19, img(D, 19, 2), true,
                 QStringLiteral("lower-case name"), 300);
        QByteArray bad = img(D, 25, 0);
        bad[kDockCrcOffset] = char(bad[kDockCrcOffset] ^ 0x5A);
        addImage(kFwDockDir, QStringLiteral("DOCK_V25.IMG"), D, 25, bad, false, QStringLiteral("checksum"), 10);
        addImage(kFwDockDir, QStringLiteral("DOCK_V22.IMG"), D, 22, img(D, 22, 0).left(kDockImageSize - 4096),
                 false, QStringLiteral("truncated"), 12);
        addImage(kFwDockDir, QStringLiteral("DOCK_V23.IMG"), D, 23, img(D, 23, 0) + QByteArray(64, '\xFF'),
                 false, QStringLiteral("oversized"), 14);
        addImage(kFwDockDir, QStringLiteral("DOCK_V00.IMG"), D, 0, img(D, 0, 0), true,
                 QStringLiteral("version 0, never chosen"), 500);
        addImage(kFwDockDir, QStringLiteral("DOCK_V30.BIN"), D, 30, img(D, 30, 0), true,
                 QStringLiteral("not an .IMG file"), 5);

        addImage(kFwGdDir, QStringLiteral("SG_V12.IMG"), G, 12, img(G, 12, 7), true, {}, 380);
        addImage(kFwGdDir, QStringLiteral("SG_V15.IMG"), G, 15, img(G, 15, 2), true, {}, 60);
        addImage(kFwGdDir, QStringLiteral("sg_v13.img"), G, 13, img(G, 13, 0), true,
                 QStringLiteral("lower-case name"), 250);
        QByteArray badGd = img(G, 17, 0);
        badGd[kHeaderSize + 100] = char(badGd[kHeaderSize + 100] ^ 0x01);
        addImage(kFwGdDir, QStringLiteral("SG_V17.IMG"), G, 17, badGd, false, QStringLiteral("checksum"), 9);
        QByteArray wrongType = img(G, 18, 0);
        wrongType[kGdTypeOffset] = char(129); // a dock's type code in an instrument image
        addImage(kFwGdDir, QStringLiteral("SG_V18.IMG"), G, 18, wrongType, false, QStringLiteral("type byte"), 8);
        addImage(kFwGdDir, QStringLiteral("SG_V16.IMG"), G, 16, img(G, 16, 0).left(kGdImageSize - 1), false,
                 QStringLiteral("truncated"), 11);
        addImage(kFwGdDir, QStringLiteral("SG_V19.IMG"), G, 19, img(G, 19, 0) + QByteArray(1, '\0'), false,
                 QStringLiteral("oversized"), 13);
        addImage(kFwGdDir, QStringLiteral("SG_V00.IMG"), G, 0, img(G, 0, 0), true,
                 QStringLiteral("version 0, never chosen"), 500);
        addImage(kFwGdDir, QStringLiteral("SG_V20.BIN"), G, 20, img(G, 20, 0), true,
                 QStringLiteral("not an .IMG file"), 6);

        // The newest valid ".IMG" (any case) of each folder, by version.
        FixtureManifest& m = m_tree.manifest;
        for (const ManifestImage& im : m.images) {
            if (!im.valid || im.version == 0 || !im.path.endsWith(QLatin1String(".IMG"), Qt::CaseInsensitive))
                continue;
            QString& best = im.kind == ImageKind::Dock ? m.newestDockImage : m.newestGdImage;
            int& bestV = im.kind == ImageKind::Dock ? m.newestDockVersion : m.newestGdVersion;
            if (im.version > bestV) {
                best = im.path;
                bestV = im.version;
            }
        }
    }

    QList<DockLogRecord> dockRecords(const QDateTime& from, const QDateTime& to, int count)
    {
        QList<DockLogRecord> records;
        const qint64 span = qMax<qint64>(1, from.secsTo(to)); // never after the dock's "now"
        for (int r = 0; r < count; ++r) {
            DockLogRecord rec;
            rec.when = from.addSecs(qint64(m_rng.bounded(double(span))));
            const Instrument& ins = m_instruments[m_rng.bounded(int(m_instruments.size()))];
            rec.bay = 1 + m_rng.bounded(4);
            rec.instrument = ins.serial;
            rec.gas = ins.gas;
            rec.calibration = m_rng.bounded(5) == 0;
            rec.pass = m_rng.bounded(6) != 0;
            rec.concentration = m_settings.concentration[ins.gas].toDouble();
            rec.reading = rec.concentration * (rec.pass ? 0.9 + 0.15 * m_rng.generateDouble()
                                                        : 0.4 * m_rng.generateDouble());
            rec.seconds = 8 + m_rng.bounded(50);
            records.append(rec);
        }
        std::sort(records.begin(), records.end(),
                  [](const DockLogRecord& a, const DockLogRecord& b) { return a.when < b.when; });
        return records;
    }

    void writeDockLogs()
    {
        const int months = large() ? 15 : 8;
        const QDate first(m_ref.date().year(), m_ref.date().month(), 1);
        for (int k = 0; k < months; ++k) {
            const QDate d = first.addMonths(-k);
            const QDateTime from(d, QTime(0, 0));
            const QDateTime to = k == 0 ? m_ref : QDateTime(d.addMonths(1), QTime(0, 0)).addSecs(-1);
            const QList<DockLogRecord> recs = dockRecords(from, to, large() ? 8 + m_rng.bounded(13)
                                                                             : 3 + m_rng.bounded(4));
            // The oldest month with a four-digit year, one month in lower case.
            const QString year = k == months - 1 ? QString::number(d.year()) : two(d.year() % 100);
            QString name = m_id.serial + QStringLiteral("_TESTLOG_") + year + QLatin1Char('_') + two(d.month())
                           + QStringLiteral(".CSV");
            if (k == 2)
                name = name.toLower();
            addLog(kLogDockDir + QLatin1Char('/') + name,
                   DockLogCsv(m_id.serial, m_id.fwVersion, d.year(), d.month(), recs), LogKind::DockLog,
                   yearMonthDate(year, two(d.month())), recs.isEmpty() ? to : recs.last().when);
        }
    }

    QString eventDir(int i, const QDateTime& when) const
    {
        const QString& sn = m_instruments[i].serial;
        switch (i % 3) {
        case 0:
            return kLogEventDir;
        case 1:
            return kLogEventDir + QLatin1Char('/') + sn;
        default:
            return kLogEventDir + QLatin1Char('/') + sn + QLatin1Char('/') + QString::number(when.date().year())
                   + QLatin1Char('/') + two(when.date().month());
        }
    }

    QString testDir(int i, bool cal, const QDateTime& when) const
    {
        const QString& sn = m_instruments[i].serial;
        switch (i % 3) {
        case 0:
            return kLogTestDir + QLatin1Char('/') + sn + (cal ? QStringLiteral("/CAL") : QStringLiteral("/BUMP"));
        case 1:
            return kLogTestDir + QLatin1Char('/') + QString::number(when.date().year()) + QLatin1Char('/')
                   + two(when.date().month());
        default:
            return kLogTestDir;
        }
    }

    QList<EventRecord> eventRecords(int gas, const QDateTime& downloaded)
    {
        const GasInfo& g = Gas(gas);
        QList<EventRecord> events;
        const int n = 1 + m_rng.bounded(6);
        QDateTime t = downloaded.addSecs(-qint64(m_rng.bounded(10 * 86400)));
        for (int e = 0; e < n; ++e) {
            EventRecord ev;
            ev.when = t;
            ev.duration = 1 + m_rng.bounded(600);
            const bool low = gas == 2 ? m_rng.bounded(4) != 0 : m_rng.bounded(3) == 0;
            ev.alarm = low ? QStringLiteral("LOW") : pick({QStringLiteral("HIGH"), QStringLiteral("STEL")});
            const double level = low ? g.alarmLow : g.alarmHigh;
            if (gas == 2) // oxygen: a little below or above the band around air
                ev.reading = low ? level - 2.0 * m_rng.generateDouble() : level + 1.5 * m_rng.generateDouble();
            else
                ev.reading = level * (1.0 + 0.6 * m_rng.generateDouble());
            ev.option = m_rng.bounded(4) == 0 ? QStringLiteral("BUMP") : QString();
            events.append(ev);
            t = t.addSecs(60 + m_rng.bounded(3 * 3600)); // never within seconds of each other
            if (t > downloaded)
                break;
        }
        return events;
    }

    void writeEvents(int i)
    {
        const Instrument& ins = m_instruments[i];
        const int n = large() ? 20 : 3;
        for (int j = 0; j < n; ++j) {
            QDateTime when = spread(j, n);
            QString path = stampedName(eventDir(i, when), ins.serial, QStringLiteral("EVENT"), when,
                                       QStringLiteral(".CSV"));
            if (i == 1 && j == 0)
                path = parentOf(path) + QLatin1Char('/') + fileNameOf(path).toLower();
            addLog(path, EventCsv(ins.serial, ins.gas, when, eventRecords(ins.gas, when)), LogKind::Event,
                   stampDate(stampOf(when)), when);
        }
    }

    TestResult testResult(const Instrument& ins, bool cal, const QDateTime& when)
    {
        TestResult t;
        t.calibration = cal;
        t.dockSerial = m_id.serial;
        t.serial = ins.serial;
        t.gas = ins.gas;
        t.location = m_settings.location;
        t.gasLot = m_settings.gasLot;
        t.gasExpiry = m_settings.gasExpiry;
        t.when = when;
        t.concentration = m_settings.concentration[ins.gas].toDouble();
        t.bumpPassLimit = m_settings.bumpPassLimit;
        t.pass = m_rng.bounded(5) != 0;
        t.hwFail = m_rng.bounded(20) == 0;
        t.lowerCaseWords = m_rng.bounded(8) == 0;
        return t;
    }

    void writeTests(int i)
    {
        const Instrument& ins = m_instruments[i];
        const int n = large() ? 30 : 3;
        for (int j = 0; j < n; ++j) {
            const bool cal = j % 5 == 2;
            QDateTime when = spread(j, n);
            when.setTime(QTime(when.time().hour(), when.time().minute(), m_rng.bounded(60)));
            TestResult t = testResult(ins, cal, when);
            // Make sure every tree has a failure, lower-case words and lower-case tags.
            if (i == 0 && j == 1)
                t.pass = false;
            if (i == 2 && j == 0)
                t.lowerCaseWords = true;
            if (i == 3 && j == 1)
                t.lowerCaseTags = true;
            const QString kind = cal ? QStringLiteral("CAL") : QStringLiteral("BUMP");
            QDateTime named = toMinute(when);
            QString path = stampedName(testDir(i, cal, when), ins.serial, kind, named, QStringLiteral(".XML"));
            if (i == 2 && j == 0)
                path = parentOf(path) + QLatin1Char('/') + fileNameOf(path).toLower();
            t.when = QDateTime(named.date(), QTime(named.time().hour(), named.time().minute(), when.time().second()));
            addLog(path, TestResultXml(t, m_rng), cal ? LogKind::Cal : LogKind::Bump, stampDate(stampOf(named)),
                   t.when.addSecs(m_settings.bumpTime + 20), OverallResult(t));
        }
    }

    // Files and folders a real dock accumulates that no rule expects.
    void writeOddities()
    {
        const Instrument& a = m_instruments[0];
        const Instrument& b = m_instruments[1];
        const Instrument& c = m_instruments[2];
        const Instrument& d = m_instruments[3];
        const QByteArray readme = QByteArrayLiteral("Log folders of the docking station.\r\n");
        const QDateTime recent = ago(2.43);
        const QDateTime old = ago(200.5);
        const QString yy = two(m_ref.date().year() % 100);
        const QString stamp = stampOf(recent);

        // Dock-log folder.
        addLog(kLogDockDir + QLatin1Char('/') + m_id.serial + QStringLiteral("_EVENT_") + stamp + QStringLiteral(".CSV"),
               EventCsv(m_id.serial, 0, recent, eventRecords(0, recent)), LogKind::None, {}, recent);
        addLog(kLogDockDir + QLatin1Char('/') + m_id.serial + QStringLiteral("_SYSLOG_") + yy + QStringLiteral("_01.CSV"),
               QByteArrayLiteral("Boot,OK\r\nPump,OK\r\n"), LogKind::None, {}, old);
        addLog(kLogDockDir + QLatin1Char('/') + m_id.serial + QStringLiteral("_TESTLOG_20_05.CSV"),
               DockLogCsv(m_id.serial, m_id.fwVersion, 2020, 5, {}), LogKind::DockLog, {}, old);
        addLog(kLogDockDir + QLatin1Char('/') + m_id.serial + QStringLiteral("_TESTLOG_") + yy + QStringLiteral("_13.CSV"),
               DockLogCsv(m_id.serial, m_id.fwVersion, m_ref.date().year(), 13, {}), LogKind::DockLog, {}, recent);
        addLog(kLogDockDir + QStringLiteral("/TESTLOG.CSV"), QByteArrayLiteral("Date,Time\r\n"), LogKind::None, {}, old);
        addOther(kLogDockDir + QStringLiteral("/README.TXT"), readme, old);
        m_extraDirs << kLogDockDir + QStringLiteral("/ARCHIVE"); // not walked: never purged

        // Event tree.
        addLog(kLogEventDir + QLatin1Char('/') + a.serial + QStringLiteral("_ALARM_") + stamp + QStringLiteral(".CSV"),
               EventCsv(a.serial, a.gas, recent, eventRecords(a.gas, recent)), LogKind::None, {}, recent);
        addLog(kLogEventDir + QLatin1Char('/') + b.serial + QStringLiteral("_EVENT_20") + stamp.mid(2)
                   + QStringLiteral(".CSV"),
               EventCsv(b.serial, b.gas, old, eventRecords(b.gas, old)), LogKind::Event, {}, old);
        addLog(kLogEventDir + QStringLiteral("/EVENTS.CSV"), QByteArrayLiteral("Date,Time,Duration\r\n"),
               LogKind::None, {}, old);
        addOther(kLogEventDir + QStringLiteral("/README.TXT"), readme, old);
        m_extraDirs << kLogEventDir + QLatin1Char('/') + m_retiredSerial;

        // Test tree.
        {
            TestResult t = testResult(a, false, old);
            addLog(kLogTestDir + QLatin1Char('/') + a.serial + QStringLiteral("_BUMP_") + yy + QStringLiteral("13101200.XML"),
                   TestResultXml(t, m_rng), LogKind::Bump, {}, old, OverallResult(t));
            TestResult u = testResult(c, true, recent);
            addLog(kLogTestDir + QLatin1Char('/') + c.serial + QStringLiteral("_CAL.XML"), TestResultXml(u, m_rng),
                   LogKind::Cal, {}, recent, OverallResult(u));
            TestResult v = testResult(d, false, recent);
            addLog(kLogTestDir + QLatin1Char('/') + d.serial + QStringLiteral("_SELFTEST_") + stamp + QStringLiteral(".XML"),
                   TestResultXml(v, m_rng), LogKind::None, {}, recent);
            addOther(kLogTestDir + QLatin1Char('/') + d.serial + QStringLiteral("_CAL_") + stamp + QStringLiteral(".CSV"),
                     QByteArrayLiteral("not a result\r\n"), recent);
        }
        addLog(kLogTestDir + QStringLiteral("/NOTES.XML"), QByteArrayLiteral("<NOTES/>\r\n"), LogKind::None, {}, old);
        const QString oldYear = QString::number(m_ref.date().year() - 3);
        m_extraDirs << kLogTestDir + QLatin1Char('/') + oldYear + QStringLiteral("/11") // parent holds only this
                    << kLogTestDir + QLatin1Char('/') + a.serial + QStringLiteral("/OLD");
    }

    void finish()
    {
        FixtureManifest& m = m_tree.manifest;
        QSet<QString> dirs{kConfigDir, kConfigDockDir, kConfigGdDir, QStringLiteral("FW"), kFwDockDir, kFwGdDir,
                           kLogDir, kLogDockDir, kLogEventDir, kLogTestDir};
        auto addWithParents = [&dirs](QString d) {
            while (!d.isEmpty()) {
                dirs.insert(d);
                d = parentOf(d);
            }
        };
        for (const FixtureFile& f : m_tree.files) {
            addWithParents(parentOf(f.path));
            m.files.append(f.path);
            m.totalBytes += f.data.size();
        }
        for (const QString& d : m_extraDirs)
            addWithParents(d);
        m.dirs = QStringList(dirs.begin(), dirs.end());
        m.dirs.sort();
        m.files.sort();

        // Folders strictly below the event and test roots with neither files nor sub-folders.
        QSet<QString> nonEmpty;
        for (const QString& f : m.files)
            nonEmpty.insert(parentOf(f));
        for (const QString& d : m.dirs)
            nonEmpty.insert(parentOf(d));
        for (const QString& d : m.dirs) {
            const bool below = d.startsWith(kLogEventDir + QLatin1Char('/')) || d.startsWith(kLogTestDir + QLatin1Char('/'));
            if (below && !nonEmpty.contains(d))
                m.emptyDirs.append(d);
        }
    }

    FixtureSize m_size;
    quint32 m_seed;
    QRandomGenerator m_rng;
    QDateTime m_ref;
    FixtureTree m_tree;
    QSet<QString> m_claimed;
    QStringList m_extraDirs;
    DockIdentity m_id;
    DockSettings m_settings;
    QList<Instrument> m_instruments;
    QString m_retiredSerial;
};

} // namespace

int FixtureManifest::logCount(LogKind kind) const
{
    return int(std::count_if(logs.begin(), logs.end(), [kind](const ManifestLog& l) { return l.kind == kind; }));
}

FixtureTree BuildFixture(FixtureSize size, quint32 seed, const QDateTime& reference)
{
    const QDateTime ref = reference.isValid() ? reference.toLocalTime() : QDateTime::currentDateTime();
    return Builder(size, seed, ref).build();
}

bool WriteTree(const FixtureTree& tree, const QString& dir, QString* error)
{
    auto fail = [error](const QString& message) {
        if (error)
            *error = message;
        return false;
    };
    const QFileInfo rootInfo(dir);
    if (rootInfo.exists() && !rootInfo.isDir())
        return fail(QStringLiteral("%1 is not a folder").arg(dir));
    QDir root(dir);
    if (!root.mkpath(QStringLiteral(".")))
        return fail(QStringLiteral("cannot create folder %1").arg(dir));
    for (const QString& d : tree.manifest.dirs) {
        if (!root.mkpath(d))
            return fail(QStringLiteral("cannot create folder %1").arg(root.filePath(d)));
    }
    for (const FixtureFile& f : tree.files) {
        const QString path = root.filePath(f.path);
        if (!root.mkpath(parentOf(f.path)))
            return fail(QStringLiteral("cannot create folder %1").arg(QFileInfo(path).path()));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return fail(QStringLiteral("cannot write %1: %2").arg(path, file.errorString()));
        if (file.write(f.data) != f.data.size() || !file.flush())
            return fail(QStringLiteral("cannot write %1: %2").arg(path, file.errorString()));
        if (f.modified.isValid())
            file.setFileTime(f.modified, QFileDevice::FileModificationTime); // best effort
        file.close();
    }
    return true;
}

FixtureManifest WriteFixture(const QString& dir, FixtureSize size, quint32 seed)
{
    return WriteFixture(dir, size, seed, QDateTime::currentDateTime());
}

FixtureManifest WriteFixture(const QString& dir, FixtureSize size, quint32 seed, const QDateTime& reference)
{
    FixtureTree tree = BuildFixture(size, seed, reference);
    QString error;
    if (!WriteTree(tree, dir, &error))
        tree.manifest.error = error;
    tree.manifest.root = QDir(dir).absolutePath();
    return tree.manifest;
}

QString LogKindName(LogKind kind)
{
    switch (kind) {
    case LogKind::DockLog:
        return QStringLiteral("dock log");
    case LogKind::Event:
        return QStringLiteral("event");
    case LogKind::Bump:
        return QStringLiteral("bump");
    case LogKind::Cal:
        return QStringLiteral("cal");
    case LogKind::None:
        break;
    }
    return QStringLiteral("unclassified");
}

QString ManifestText(const FixtureManifest& m, bool listFiles)
{
    const QString dateFmt = QStringLiteral("yyyy-MM-dd HH:mm");
    QString t;
    QTextStream out(&t);
    out << "Dock " << m.dockSerial << ", firmware " << m.dockVersion << ", location \"" << m.location << "\"\n";
    out << "Folder " << (m.root.isEmpty() ? QStringLiteral("(not written)") : m.root) << "\n";
    out << "Size " << (m.size == FixtureSize::Large ? "large" : "small") << ", seed " << m.seed << ", reference "
        << m.reference.toString(dateFmt) << "\n";
    out << "Files " << m.files.size() << " (" << m.totalBytes << " bytes), folders " << m.dirs.size() << "\n";

    int undated = 0;
    int old = 0;
    for (const ManifestLog& l : m.logs) {
        if (l.kind != LogKind::None && !l.nameDate.isValid())
            ++undated;
        if (l.nameDate.isValid() && l.nameDate.daysTo(m.reference) > kPurgeDays)
            ++old;
    }
    out << "Log files " << m.logs.size() << ": dock logs " << m.logCount(LogKind::DockLog) << ", events "
        << m.logCount(LogKind::Event) << ", bump " << m.logCount(LogKind::Bump) << ", cal "
        << m.logCount(LogKind::Cal) << ", unclassified " << m.logCount(LogKind::None) << "; " << undated
        << " classified without a date in the name, " << old << " dated more than " << kPurgeDays
        << " days back\n";
    out << "Instruments " << m.instruments.size() << "\n";
    out << "Newest valid images: " << (m.newestDockImage.isEmpty() ? QStringLiteral("none") : m.newestDockImage)
        << " (" << m.newestDockVersion << "), "
        << (m.newestGdImage.isEmpty() ? QStringLiteral("none") : m.newestGdImage) << " (" << m.newestGdVersion
        << ")\n";
    out << "Bottle:";
    for (const ManifestGas& g : m.concentrations)
        out << " " << g.gas << " " << g.text;
    out << "\n";
    out << "Empty folders a purge may delete: " << m.emptyDirs.join(QStringLiteral(", ")) << "\n";
    if (!m.error.isEmpty())
        out << "Error: " << m.error << "\n";

    if (listFiles) {
        out << "\nImages:\n";
        for (const ManifestImage& im : m.images)
            out << "  " << im.path << "  version " << im.version << (im.valid ? "  valid" : "  INVALID")
                << (im.defect.isEmpty() ? QString() : QStringLiteral("  (") + im.defect + QLatin1Char(')')) << "\n";
        out << "\nLogs (kind, alias, date in name, size, path):\n";
        for (const ManifestLog& l : m.logs)
            out << "  " << int(l.kind) << "  " << l.alias << "  "
                << (l.nameDate.isValid() ? l.nameDate.toString(dateFmt) : QStringLiteral("-")) << "  " << l.size
                << "  " << l.path << (l.result.isEmpty() ? QString() : QStringLiteral("  ") + l.result) << "\n";
        out << "\nOther files:\n";
        for (const QString& f : m.otherFiles)
            out << "  " << f << "\n";
    }
    out.flush();
    return t;
}

} // namespace docksim
