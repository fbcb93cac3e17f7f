#include "open_failure.hpp"

#include <cstring>

// The errno words every POSIX system's explanation shares.

std::string systemErrorText(long systemError)
{
    return oneLineAscii(std::strerror(static_cast<int>(systemError))) + " (error " + std::to_string(systemError) + ")";
}

std::string cannotOpenLine(const std::string& path, long systemError)
{
    return "velmoran: cannot open " + path + ": " + systemErrorText(systemError) + ".";
}
