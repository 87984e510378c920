#include "cli/stop_request.h"

#include <poll.h>
#include <pthread.h>
#include <signal.h>

#include <cerrno>
#include <initializer_list>

namespace velnor::cli {

namespace {

volatile sig_atomic_t g_stop_signal = 0;
bool g_installed = false;
sigset_t g_stop_signals;  // SIGINT and SIGTERM
sigset_t g_wait_mask;     // the mask while waiting for input: both unblocked

extern "C" void record_stop(int signal) { g_stop_signal = signal; }

}  // namespace

void install_stop_handlers() {
    sigemptyset(&g_stop_signals);
    for (int signal : {SIGINT, SIGTERM}) {
        struct sigaction previous {};
        if (sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) continue;
        struct sigaction action {};
        action.sa_handler = record_stop;
        sigemptyset(&action.sa_mask);
        if (sigaction(signal, &action, nullptr) == 0) sigaddset(&g_stop_signals, signal);
    }
    sigset_t before;
    pthread_sigmask(SIG_BLOCK, &g_stop_signals, &before);
    g_wait_mask = before;
    sigdelset(&g_wait_mask, SIGINT);
    sigdelset(&g_wait_mask, SIGTERM);
    g_installed = true;
}

int stop_signal() {
    if (g_stop_signal == 0 && g_installed) {
        // A signal that arrived while blocked is taken now: unblocking runs its handler.
        sigset_t pending;
        if (sigpending(&pending) == 0 &&
            (sigismember(&pending, SIGINT) == 1 || sigismember(&pending, SIGTERM) == 1)) {
            pthread_sigmask(SIG_UNBLOCK, &g_stop_signals, nullptr);
            pthread_sigmask(SIG_BLOCK, &g_stop_signals, nullptr);
        }
    }
    return g_stop_signal;
}

WaitResult wait_ready(int fd, short events, bool interruptible) {
    for (;;) {
        if (interruptible && stop_signal() != 0) return WaitResult::stopped;
        pollfd request{fd, events, 0};
        const int ready =
            ppoll(&request, 1, nullptr, interruptible && g_installed ? &g_wait_mask : nullptr);
        if (ready > 0) return WaitResult::ready;  // errors and hang-ups show in the next call
        if (ready < 0 && errno != EINTR && errno != EAGAIN) return WaitResult::failed;
    }
}

bool pause_unless_stopped(int milliseconds) {
    if (stop_signal() != 0) return false;
    const timespec interval{milliseconds / 1000, (milliseconds % 1000) * 1000000L};
    ppoll(nullptr, 0, &interval, g_installed ? &g_wait_mask : nullptr);
    return stop_signal() == 0;
}

}  // namespace velnor::cli
