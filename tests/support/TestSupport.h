#pragma once
// Helpers shared by the test programs.
#include <QByteArray>
#include <QString>
#include <QTemporaryDir>
#include <memory>

namespace testsupport {

// A private TMPDIR for one test: the transfer folder lives below the system's
// temporary folder, so pointing TMPDIR elsewhere isolates every test's settings.
class ScopedTempRoot {
public:
    ScopedTempRoot();
    ~ScopedTempRoot();
    QString path() const { return m_dir->path(); }
    QString transferFolder() const; // path() + "/TREVASK/"
private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QByteArray m_oldTmp;
    bool m_hadTmp = false;
};

QByteArray readAll(const QString& file);
void writeAll(const QString& file, const QByteArray& data);

} // namespace testsupport

// Readable QString values in test failure messages.
#include <QDebug>
#include <ostream>
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }
