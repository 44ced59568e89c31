#include "platform/StopSignals.h"

#include <QSocketNotifier>
#include <csignal>

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

namespace platform {

namespace {
std::function<void(int)>& handler()
{
    static std::function<void(int)> h;
    return h;
}
#ifndef _WIN32
int g_pipe[2] = {-1, -1};

void onSignal(int sig)
{
    const char c = char(sig);
    // Only an async-signal-safe write here; the notifier does the rest.
    [[maybe_unused]] const ssize_t n = ::write(g_pipe[1], &c, 1);
}
#endif
} // namespace

void OnStopSignal(std::function<void(int)> onStop)
{
    handler() = std::move(onStop);
#ifndef _WIN32
    if (g_pipe[0] >= 0)
        return;
    if (::pipe(g_pipe) != 0)
        return;
    for (int fd : g_pipe) {
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    auto* notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read);
    QObject::connect(notifier, &QSocketNotifier::activated, [] {
        char c = 0;
        while (::read(g_pipe[0], &c, 1) == 1)
            if (handler())
                handler()(int(c));
    });
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
#else
    std::signal(SIGINT, [](int s) { if (handler()) handler()(s); });
    std::signal(SIGTERM, [](int s) { if (handler()) handler()(s); });
#endif
}

} // namespace platform
