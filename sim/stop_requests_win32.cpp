#include "stop_requests.hpp"

#include <atomic>
#include <cstdio>

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace {

constexpr int kNoStop = -1;
std::atomic<int> stopEvent {kNoStop};
HANDLE stopped = nullptr;
HANDLE portPutBack = nullptr;

// Windows ends the process once this returns from a closed console window, and in any
// case some 5 s after the window closed: it waits, a little less than that, for the port.
// After Ctrl-C or Ctrl-Break the process goes on, and endAsStopped() ends it.
BOOL WINAPI requestStop(DWORD event)
{
    // Sent to a console program run as a service whenever any user logs off: the service
    // goes on serving. Handled here, so that the default handler does not end it.
    if (event == CTRL_LOGOFF_EVENT) {
        return TRUE;
    }
    int none = kNoStop;
    stopEvent.compare_exchange_strong(none, static_cast<int>(event));
    SetEvent(stopped);
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) {
        WaitForSingleObject(portPutBack, 4500);
    }
    return TRUE;
}

}  // namespace

void watchForStop()
{
    stopped = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    portPutBack = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(requestStop, TRUE);
}

bool stopRequested()
{
    return stopEvent != kNoStop;
}

void waitForStop(int timeoutMs)
{
    if (stopped == nullptr) {
        Sleep(static_cast<DWORD>(timeoutMs));
    } else if (!stopRequested()) {
        WaitForSingleObject(stopped, static_cast<DWORD>(timeoutMs));
    }
}

void endAsStopped()
{
    SetEvent(portPutBack);
    const int event = stopEvent;
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) {
        std::fflush(stdout);
        ExitProcess(STATUS_CONTROL_C_EXIT);
    }
}
