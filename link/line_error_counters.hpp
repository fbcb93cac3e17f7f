#pragma once

// POSIX: the driver's running counts of line errors (breaks, framing and parity errors,
// overruns). Linux's 8250/16550, PL011 and ftdi_sio drivers keep them and show them
// through TIOCGICOUNT; a pseudo-terminal and many USB bridges (pl2303, ch341, ...) answer
// with an error, and other systems have no such request: then `counts.known` stays false.

#include "serial_link.hpp"

void readLineErrorCounters(int descriptor, LineErrors& counts);
