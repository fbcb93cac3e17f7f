#include "process_setup.hpp"

#include <cstdio>

void prepareProcess()
{
    // Nothing to do: Windows hands out no standard handle to a new file, and a
    // broken pipe is an error on the write, not a signal.
}

// Windows closes the handle of a stopped process, which lets the port go, and the run
// changes no driver setting that would outlive it: nothing needs to wait.
void holdStopRequests()
{
}

void releaseStopRequests()
{
    std::fflush(stdout);
}
