#pragma once

// USB serial bridges hold received bytes until their latency timer runs out, 16 ms by
// default on FTDI chips: longer than the whole reply window, so a device that answers
// at once could still be reported as silent. Linux drivers shorten the timer to 1 ms
// while the port's ASYNC_LOW_LATENCY flag is set. The link sets the flag for the run
// and clears it again as it lets go, only where it set it; where the driver or the
// platform has no such setting (a pseudo-terminal, macOS, the BSDs) nothing changes.
// Nothing here is ever reported: the run goes on as it would have.

// Sets the flag where it is clear. True when it was set here and must be cleared again.
bool requestLowLatency(int descriptor);

// Clears the flag that requestLowLatency set.
void releaseLowLatency(int descriptor);
