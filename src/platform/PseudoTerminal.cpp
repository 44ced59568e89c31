#include "platform/Platform.h"

#ifndef _WIN32
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace platform {

#ifndef _WIN32

namespace {

QString systemError(const char* what)
{
    return QStringLiteral("%1: %2").arg(QLatin1String(what), QString::fromLocal8Bit(std::strerror(errno)));
}

} // namespace

std::optional<PtyPair> OpenPseudoTerminal(QString* error)
{
    auto fail = [&](const QString& message, PtyPair& p) -> std::optional<PtyPair> {
        if (error)
            *error = message;
        ClosePseudoTerminal(p);
        return std::nullopt;
    };
    PtyPair p;
    p.masterFd = posix_openpt(O_RDWR | O_NOCTTY);
    if (p.masterFd < 0)
        return fail(systemError("posix_openpt"), p);
    if (grantpt(p.masterFd) != 0)
        return fail(systemError("grantpt"), p);
    if (unlockpt(p.masterFd) != 0)
        return fail(systemError("unlockpt"), p);
    char name[128] = {};
    if (ptsname_r(p.masterFd, name, sizeof name) != 0)
        return fail(systemError("ptsname"), p);
    p.slavePath = QString::fromLocal8Bit(name);

    p.keeperFd = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (p.keeperFd < 0)
        return fail(systemError("open slave"), p);
    termios tio{};
    if (tcgetattr(p.keeperFd, &tio) != 0)
        return fail(systemError("tcgetattr"), p);
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    cfsetispeed(&tio, B115200);
    cfsetospeed(&tio, B115200);
    if (tcsetattr(p.keeperFd, TCSANOW, &tio) != 0)
        return fail(systemError("tcsetattr"), p);

    const int flags = fcntl(p.masterFd, F_GETFL);
    if (flags < 0 || fcntl(p.masterFd, F_SETFL, flags | O_NONBLOCK) != 0)
        return fail(systemError("fcntl"), p);
    fcntl(p.masterFd, F_SETFD, FD_CLOEXEC);
    return p;
}

void ClosePseudoTerminal(PtyPair& pty)
{
    if (pty.keeperFd >= 0)
        ::close(pty.keeperFd);
    if (pty.masterFd >= 0)
        ::close(pty.masterFd);
    pty.keeperFd = -1;
    pty.masterFd = -1;
}

qint64 ReadDescriptor(int fd, char* data, qint64 maxSize, bool* ended)
{
    if (ended)
        *ended = false;
    for (;;) {
        const ssize_t n = ::read(fd, data, size_t(maxSize));
        if (n > 0)
            return n;
        if (n == 0) {
            if (ended)
                *ended = true;
            return 0;
        }
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return 0;
        if (errno == EIO && ended) // a pty whose other side was closed
            *ended = true;
        return -1;
    }
}

qint64 WriteDescriptor(int fd, const char* data, qint64 size)
{
    for (;;) {
        const ssize_t n = ::write(fd, data, size_t(size));
        if (n >= 0)
            return n;
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return 0;
        return -1;
    }
}

bool StdinIsPipe()
{
    struct stat st {};
    if (fstat(STDIN_FILENO, &st) != 0)
        return false;
    return S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode);
}

#else

std::optional<PtyPair> OpenPseudoTerminal(QString* error)
{
    if (error)
        *error = QStringLiteral("pseudo-terminals are not available on this system; use a virtual COM port pair");
    return std::nullopt;
}

void ClosePseudoTerminal(PtyPair& pty)
{
    pty.masterFd = pty.keeperFd = -1;
}

qint64 ReadDescriptor(int, char*, qint64, bool* ended)
{
    if (ended)
        *ended = true;
    return -1;
}

qint64 WriteDescriptor(int, const char*, qint64)
{
    return -1;
}

bool StdinIsPipe()
{
    return false;
}

#endif

} // namespace platform
