#include "process_setup.hpp"

#include "../link/serial_port.hpp"
#include "../link/stop_signals.hpp"

#include <csignal>
#include <cstdio>

void prepareProcess()
{
    fillClosedStandardHandles();
    // A reader that goes away must not end the run between the write and the purge;
    // output then simply fails, and the exit code still tells what the line did.
    std::signal(SIGPIPE, SIG_IGN);
}

namespace {

sigset_t stopRequests()
{
    sigset_t signals;
    sigemptyset(&signals);
    for (int signal : stopSignals()) {
        sigaddset(&signals, signal);
    }
    return signals;
}

// The mask the process had before the hold: a signal that its caller blocked stays
// blocked after the run too.
sigset_t callersMask;

}  // namespace

void holdStopRequests()
{
    const sigset_t signals = stopRequests();
    sigprocmask(SIG_BLOCK, &signals, &callersMask);
}

void releaseStopRequests()
{
    // A waiting request ends the process the moment it is let through, with no chance
    // to flush: what was printed goes out first.
    std::fflush(stdout);
    sigprocmask(SIG_SETMASK, &callersMask, nullptr);
}
