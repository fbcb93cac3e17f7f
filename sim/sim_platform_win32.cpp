#include "sim_platform.hpp"

#include <atomic>

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace {

std::atomic<bool> stopAsked {false};
std::atomic<bool> portPutBack {false};

BOOL WINAPI requestStop(DWORD)
{
    stopAsked = true;
    // Windows ends the process once this returns from a closed console window, a log-off
    // or a shutdown: first let the main loop, which looks every 200 ms, put the port back.
    for (int waited = 0; waited < 3000 && !portPutBack; waited += 10) {
        Sleep(10);
    }
    return TRUE;
}

}  // namespace

bool openOwnLine(DevicePort&, std::string&, std::string& error)
{
    error = "a port word is needed: velmoran-sim COM21 plays the device on COM21 (see velmoran-sim --help)";
    return false;
}

void closeOwnLine(DevicePort&) {}

void watchForStop()
{
    SetConsoleCtrlHandler(requestStop, TRUE);
}

bool stopRequested()
{
    return stopAsked;
}

void stopCompleted()
{
    portPutBack = true;
}

void requestPromptScheduling()
{
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
}
