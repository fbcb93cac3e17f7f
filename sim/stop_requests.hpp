#pragma once

// How velmoran-sim learns that it is asked to stop, so that it gives its port back before
// it ends: on POSIX every signal that would end it and can be caught (SIGINT from Ctrl-C,
// SIGTERM from kill, SIGHUP from a closed terminal, SIGQUIT from Ctrl-\, and the rest
// that stop_signals.hpp lists); on Windows Ctrl-C, Ctrl-Break, a closed console window and
// shutdown, but not a user's logoff, which a stand-in run as a service outlives. A reader
// of its output that goes away ends it through the failed write instead: SIGPIPE is
// ignored. SIGKILL and SIGSTOP cannot be caught.
//
// One header; stop_requests_posix.cpp and stop_requests_win32.cpp implement it.

// From here on a stop sets stopRequested() instead of ending the process. On POSIX a
// stop signal that the caller had ignored stays ignored, as any program leaves it.
void watchForStop();
bool stopRequested();

// Returns when a stop comes, or after `timeoutMs` at the latest.
void waitForStop(int timeoutMs);

// Once the port is back: ends the process as the stop would have ended it (by its signal
// on POSIX; with STATUS_CONTROL_C_EXIT after Ctrl-C or Ctrl-Break on Windows, where a
// closed window ends it as soon as this has let the window's handler return). Returns
// when no stop came.
void endAsStopped();
