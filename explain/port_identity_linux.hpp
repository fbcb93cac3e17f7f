#pragma once

// Linux: what a port is, read from a sysfs tree that a test can give in place of /sys.

#include <string>

// The character device major:minor under `sysRoot`/dev/char.
std::string describePortIn(const std::string& sysRoot, unsigned major, unsigned minor);
