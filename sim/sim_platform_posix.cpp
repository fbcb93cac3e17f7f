#include "sim_platform.hpp"

#include <csignal>

#include <pthread.h>
#include <sched.h>

#include "standin_exchange.hpp"

namespace {

volatile std::sig_atomic_t stopSignalled = 0;
StandInPort ownLine;

void requestStop(int)
{
    stopSignalled = 1;
}

}  // namespace

bool openOwnLine(DevicePort& port, std::string& name, std::string& error)
{
    if (!openStandInPort(ownLine, error)) {
        return false;
    }
    port = ownLine.device;
    name = ownLine.terminalPath;
    return true;
}

void closeOwnLine(DevicePort& port)
{
    waitUntilLineReleased(ownLine, 1000);
    closeStandInPort(ownLine);
    port.handle = -1;
}

void watchForStop()
{
    struct sigaction stop {};
    stop.sa_handler = requestStop;
    sigaction(SIGINT, &stop, nullptr);
    sigaction(SIGTERM, &stop, nullptr);
    sigaction(SIGHUP, &stop, nullptr);
}

bool stopRequested()
{
    return stopSignalled != 0;
}

void stopCompleted() {}

void requestPromptScheduling()
{
    // Where the machine refuses, the thread runs as it is. Not for a thread that floods.
    sched_param priority {};
    priority.sched_priority = 1;
    pthread_setschedparam(pthread_self(), SCHED_FIFO, &priority);
}
