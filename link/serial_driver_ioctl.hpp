#pragma once

// POSIX: what only the port's driver knows (the bytes still queued for the line, and on
// Linux its serial settings and the attributes it shows in sysfs) is asked through these
// pointers, so that a test can put a driver of its own in the real one's place.
// Everything else goes to the kernel as is.

#include <cstddef>

using SerialDriverIoctl = int (*)(int descriptor, unsigned long request, void* argument);
extern SerialDriverIoctl serialDriverIoctl;

// Reads up to `size` bytes of the named attribute of the port's device into `text`;
// gives the count read, or -1 when the driver shows no such attribute.
using SerialDriverAttribute = int (*)(int descriptor, const char* name, char* text, std::size_t size);
extern SerialDriverAttribute serialDriverAttribute;
