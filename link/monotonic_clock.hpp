#pragma once

// The monotonic clock in nanoseconds, for the bounded waits of the POSIX port and link
// files (Windows counts with GetTickCount64 in its own).

#include <ctime>

using Nanoseconds = long long;
constexpr Nanoseconds kNanosecondsPerMs = 1000000LL;

inline Nanoseconds monotonicNow()
{
    timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<Nanoseconds>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}
