#pragma once

// POSIX: the signals that would end a program holding a port before it gave the port
// back. velmoran holds them for its run and velmoran-sim catches them; each puts the port
// back first and then ends by the signal, as it would have ended. SIGKILL and SIGSTOP can
// be neither caught nor held.
//
// POSIX only (stop_signals_posix.cpp); Windows stops a console program through its
// console control handler instead.

#include <vector>

// Each signal whose default action ends the process, the real-time ones included where
// the system has them, but for SIGPIPE, which both programs ignore (a failed write tells
// them instead), and the faults a program raises itself (SIGSEGV, SIGBUS, SIGFPE, SIGILL,
// SIGABRT, SIGSYS, SIGTRAP), after which nothing can be trusted to put the port back.
std::vector<int> stopSignals();
