#include "low_latency.hpp"

// Only Linux has the ASYNC_LOW_LATENCY flag; elsewhere the link changes nothing.

bool requestLowLatency(int)
{
    return false;
}

void releaseLowLatency(int)
{
}
