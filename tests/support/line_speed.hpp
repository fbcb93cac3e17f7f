#pragma once

// The rate a terminal's line runs at, in bits per second, however it was set: a program
// may give the speed as one of the B-codes (B115200) or, as Wine does, as any rate with
// BOTHER, which cfgetospeed() then reports as the code BOTHER, not as a rate.

struct LineSpeed {
    unsigned long input = 0;
    unsigned long output = 0;
};

// Zero for both when the terminal cannot be asked.
LineSpeed lineSpeedOf(int descriptor);
