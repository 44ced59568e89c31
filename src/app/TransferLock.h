#pragma once
// One user of the transfer folder at a time. Every operation that changes the
// staging folders (Read, Write, Purge, Save Log, downloads, Auto mode, reports)
// holds this lock for its duration; commands that only look do not take it.
// Within one process the lock is shared: an operation that runs another (Read
// saving the last logs first) does not lock itself out.
#include <QString>

class OperatorPort;

class TTransferLock {
public:
    TTransferLock() = default;
    ~TTransferLock() { release(); }
    TTransferLock(const TTransferLock&) = delete;
    TTransferLock& operator=(const TTransferLock&) = delete;

    // Takes the lock, or shares the one this process holds. False when another
    // process has it; *why then names that process ("... in use by X (process N)").
    bool acquire(QString* why = nullptr);
    // The same, and a refusal is shown through port (a message box in the window,
    // standard error on the command line).
    bool acquire(OperatorPort& port);
    void release();
    bool held() const { return m_held; }

    static QString LockPath(); // in the transfer folder
    // Who holds the lock now (empty when nobody does): for a status line.
    static QString Holder();
    // Removes what a copy that was cut off left behind (".mvcopy-*.part") below
    // folder; only while the lock is held, so no running copy loses its file.
    static int RemoveLeftoverCopies(const QString& folder);

private:
    bool m_held = false;
};
