#include "app/TransferLock.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <memory>

#include "lang/LangTable.h"
#include "platform/Platform.h"
#include "util/OperatorPort.h"

namespace {

// One lock file per process, shared by nested operations.
std::unique_ptr<QLockFile> g_lock;
int g_depth = 0;

QString ownerText(QLockFile& lock)
{
    qint64 pid = 0;
    QString host, app;
    if (!lock.getLockInfo(&pid, &host, &app))
        return QString();
    QString text = LangText(822);
    if (text.isEmpty())
        text = QStringLiteral("The transfer folder %1 is in use by %2 (process %3). Try again when it has finished.");
    return text.arg(QDir::toNativeSeparators(platform::TransferFolder()),
                    app.isEmpty() ? QStringLiteral("another program") : app)
        .arg(pid);
}

} // namespace

QString TTransferLock::LockPath() { return platform::TransferFolder() + QStringLiteral("IN_USE.LCK"); }

bool TTransferLock::acquire(QString* why)
{
    if (m_held)
        return true;
    if (g_depth > 0) {
        ++g_depth;
        m_held = true;
        return true;
    }
    QDir().mkpath(platform::TransferFolder());
    auto lock = std::make_unique<QLockFile>(LockPath());
    // Held for a whole Auto-mode run: only a dead owner makes it stale, never its age.
    lock->setStaleLockTime(0);
    if (!lock->tryLock(0)) {
        if (why) {
            *why = ownerText(*lock);
            if (why->isEmpty())
                *why = QStringLiteral("The transfer folder %1 cannot be locked (%2).")
                           .arg(QDir::toNativeSeparators(platform::TransferFolder()), LockPath());
        }
        return false;
    }
    g_lock = std::move(lock);
    g_depth = 1;
    m_held = true;
    // Nothing else writes the transfer folder now: what a killed copy left goes.
    RemoveLeftoverCopies(platform::TransferFolder());
    return true;
}

bool TTransferLock::acquire(OperatorPort& port)
{
    QString why;
    if (acquire(&why))
        return true;
    port.showMessage(why, LangText(823), OperatorPort::Icon::Error);
    port.setStatus(why, OperatorPort::StatusLook::Failure);
    return false;
}

void TTransferLock::release()
{
    if (!m_held)
        return;
    m_held = false;
    if (--g_depth == 0 && g_lock) {
        g_lock->unlock();
        g_lock.reset();
    }
}

QString TTransferLock::Holder()
{
    QLockFile probe(LockPath());
    probe.setStaleLockTime(0);
    if (g_depth > 0 || probe.tryLock(0))
        return QString();
    return ownerText(probe);
}

int TTransferLock::RemoveLeftoverCopies(const QString& folder)
{
    if (folder.trimmed().isEmpty() || !QFileInfo(folder).isDir())
        return 0;
    int n = 0;
    QDirIterator it(folder, {QStringLiteral(".mvcopy-*.part")}, QDir::Files | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (!QFileInfo(path).isSymLink() && QFile::remove(path))
            ++n;
    }
    return n;
}
