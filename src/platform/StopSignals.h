#pragma once
// SIGINT and SIGTERM (Ctrl+C, Ctrl+Break and service stop on Windows) reach the
// event loop as a call of `onStop`, never inside a signal handler.
#include <functional>

namespace platform {

// Installs the handlers once per process; later calls replace `onStop`.
void OnStopSignal(std::function<void(int signal)> onStop);

} // namespace platform
