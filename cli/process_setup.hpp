#pragma once

// Makes the process safe to run before anything is printed or opened.
void prepareProcess();

// While the port is held, a request to stop (Ctrl-C, kill, a hang-up: on POSIX any
// signal that would end the process and can be held, stop_signals.hpp) waits until the
// port has been put back, so that it is never left locked or with a driver setting of
// the run's. releaseStopRequests() flushes what was printed and then lets a waiting
// request end the process as it asks. A run holds the port for about a second at most.
void holdStopRequests();
void releaseStopRequests();
