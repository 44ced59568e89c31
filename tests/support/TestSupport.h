#pragma once
// Helpers shared by the test programs.
#include <QByteArray>
#include <QString>
#include <QTemporaryDir>
#include <memory>

namespace testsupport {

// A private TMPDIR and HOME for one test: the transfer folder lives below the
// system's temporary folder and the default log store in the home folder, so
// pointing both elsewhere isolates every test's files.
class ScopedTempRoot {
public:
    ScopedTempRoot();
    ~ScopedTempRoot();
    QString path() const { return m_dir->path(); }
    QString transferFolder() const; // path() + "/TREVASK/"
private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QByteArray m_oldTmp, m_oldHome;
    bool m_hadTmp = false;
};

QByteArray readAll(const QString& file);
void writeAll(const QString& file, const QByteArray& data);

} // namespace testsupport

// Readable QString values in test failure messages.
#include <QDebug>
#include <ostream>
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }
