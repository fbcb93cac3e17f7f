#include "stop_signals.hpp"

#include <csignal>

std::vector<int> stopSignals()
{
    std::vector<int> signals = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF,
                                SIGXCPU, SIGXFSZ};
    // Not every system has these, nor lets them end a process: SIGIO (SIGPOLL) is ignored
    // by default on the BSDs.
#if defined(SIGIO) && defined(__linux__)
    signals.push_back(SIGIO);
#endif
#ifdef SIGSTKFLT
    signals.push_back(SIGSTKFLT);
#endif
#ifdef SIGPWR
    signals.push_back(SIGPWR);
#endif
#ifdef SIGRTMIN
    for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal) {
        signals.push_back(signal);
    }
#endif
    return signals;
}
