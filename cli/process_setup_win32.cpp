#include "process_setup.hpp"

#include <cstdio>

void prepareProcess()
{
    // Nothing to do: Windows hands out no standard handle to a new file, and a
    // broken pipe is an error on the write, not a signal.
}

// Windows closes the handle of a stopped process, which lets the port go. What the run
// set on the line (115200 8N1, its time-outs) stays with the port, as it always does
// after a run; a stop leaves nothing else behind, so nothing needs to wait.
void holdStopRequests()
{
}

void releaseStopRequests()
{
    std::fflush(stdout);
}
