#include "process_setup.hpp"

void prepareProcess()
{
    // Nothing to do: Windows hands out no standard handle to a new file, and a
    // broken pipe is an error on the write, not a signal.
}
