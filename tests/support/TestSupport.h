#pragma once
// Helpers shared by the test programs.
#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>
#include <vector>

class TMainCore;

namespace testsupport {

// A private HOME and XDG_STATE_HOME for one test: the transfer folder lives in
// the user's state folder and the default log store in the home folder, so
// pointing both elsewhere isolates every test's files. TMPDIR goes to an empty
// folder as well, so that a transfer folder an older version left in the real
// temporary folder is never taken over into a test.
class ScopedTempRoot {
public:
    ScopedTempRoot();
    ~ScopedTempRoot();
    QString path() const { return m_dir->path(); }
    QString transferFolder() const; // path() + "/state/marvane/TREVASK/"
    QString stateHome() const;      // path() + "/state"
    QString tmpDir() const;         // path() + "/tmp"
private:
    struct SavedVar {
        QByteArray name, value;
        bool was = false;
    };
    std::unique_ptr<QTemporaryDir> m_dir;
    std::vector<SavedVar> m_saved;
    void set(const char* name, const QString& value);
};

QByteArray readAll(const QString& file);
// "Save Log" of the last Read with every row checked, as a person who keeps everything does.
bool SaveEverything(TMainCore& core);
void writeAll(const QString& file, const QByteArray& data);
// Every file a link staged below the transfer folder, by relative path (the
// program's own settings and lists left out).
QMap<QString, QByteArray> StagedFiles();
// The staged files whose bytes are no file of that name in the dock's tree: each
// one is a wrong record under a real name.
QStringList StagedNotTheDocks(const QString& dockRoot);
// A dock port P with P + 1 free as well (the reply port), on every loopback address; 0 when none.
quint16 FreeDockPort();

} // namespace testsupport

// Readable QString values in test failure messages.
#include <QDebug>
#include <ostream>
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }
