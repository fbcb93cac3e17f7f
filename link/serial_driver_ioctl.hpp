#pragma once

// POSIX: what only the port's driver knows (the bytes still queued for the line, and on
// Linux its serial settings) is asked through this one pointer, so that a test can put
// a driver of its own in the real one's place. Everything else goes to the kernel as is.

using SerialDriverIoctl = int (*)(int descriptor, unsigned long request, void* argument);
extern SerialDriverIoctl serialDriverIoctl;
