#pragma once
// The dock simulator serving a folder on a pseudo-terminal, in its own process,
// for as long as the test holds it.
#include <QElapsedTimer>
#include <QProcess>
#include <QString>
#include <QStringList>

namespace testsupport {

class SerialSimProcess {
public:
    bool start(const QString& dir, const QStringList& extra = {}, QString* error = nullptr)
    {
        proc.setProgram(QStringLiteral(MARVANE_DOCKSIM));
        proc.setArguments(QStringList{"serve-serial", dir, "--fast"} + extra);
        proc.setProcessChannelMode(QProcess::SeparateChannels);
        proc.start();
        if (!proc.waitForStarted(5000)) {
            if (error)
                *error = "simulator did not start";
            return false;
        }
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 10000) {
            if (proc.canReadLine() || proc.waitForReadyRead(200)) {
                const QString line = QString::fromLocal8Bit(proc.readLine()).trimmed();
                if (line.startsWith("PTY ")) {
                    pty = line.mid(4);
                    return true;
                }
            }
            if (proc.state() != QProcess::Running)
                break;
        }
        if (error)
            *error = "no PTY line: " + QString::fromLocal8Bit(proc.readAllStandardError());
        return false;
    }
    void stop()
    {
        proc.closeWriteChannel();
        if (!proc.waitForFinished(3000)) {
            proc.kill();
            proc.waitForFinished(3000);
        }
    }
    ~SerialSimProcess() { stop(); }

    QProcess proc;
    QString pty;
};

} // namespace testsupport
