#include "scan_space.hpp"

const char* skipScanSpace(const char* text)
{
    while (*text == ' ' || *text == '\t' || *text == '\n' || *text == '\v' || *text == '\f' || *text == '\r') {
        ++text;
    }
    return text;
}
