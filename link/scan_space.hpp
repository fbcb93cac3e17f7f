#pragma once

// The white space that the C library's scanning conversions skip before a number: the C
// locale's, since neither program changes locale. Both word readers follow those
// conversions (the port word here, the hex words in cli/).
const char* skipScanSpace(const char* text);
