#include "stop_requests.hpp"

#include "stop_signals.hpp"

#include <cerrno>
#include <csignal>
#include <cstdio>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t stopSignal = 0;
// A byte written here wakes a wait at once, whenever the signal comes.
int wakeUp[2] = {-1, -1};

void requestStop(int signal)
{
    if (stopSignal == 0) {
        stopSignal = signal;
    }
    const int savedErrno = errno;
    const char byte = 1;
    if (write(wakeUp[1], &byte, 1) < 0) {
        // Full or closed: a wait looks at stopSignal before every slice anyway.
    }
    errno = savedErrno;
}

}  // namespace

void watchForStop()
{
    std::signal(SIGPIPE, SIG_IGN);
    if (pipe(wakeUp) == 0) {
        for (int end : wakeUp) {
            fcntl(end, F_SETFL, O_NONBLOCK);
            fcntl(end, F_SETFD, FD_CLOEXEC);
        }
    }
    const std::vector<int> signals = stopSignals();
    struct sigaction stop {};
    stop.sa_handler = requestStop;
    sigemptyset(&stop.sa_mask);
    for (int signal : signals) {
        sigaddset(&stop.sa_mask, signal);
    }
    for (int signal : signals) {
        struct sigaction before {};
        sigaction(signal, nullptr, &before);
        if (before.sa_handler != SIG_IGN) {
            sigaction(signal, &stop, nullptr);
        }
    }
}

bool stopRequested()
{
    return stopSignal != 0;
}

void waitForStop(int timeoutMs)
{
    pollfd wake {wakeUp[0], POLLIN, 0};
    if (!stopRequested()) {
        poll(&wake, 1, timeoutMs);
    }
}

void endAsStopped()
{
    const int signal = stopSignal;
    if (signal == 0) {
        return;
    }
    std::fflush(stdout);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}
