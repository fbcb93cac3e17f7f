#pragma once

// Windows: where explainOpenFailure reads the registry, so that a test can give it keys
// of its own in place of the machine's.

#include <string>
#include <vector>

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "bridge_latency_choice.hpp"  // PresentDevices
#include "open_failure.hpp"

// HARDWARE\DEVICEMAP\SERIALCOMM and SYSTEM\CurrentControlSet\Enum are read under
// `machine`\`prefix`; which devices are present comes from SetupAPI, or from `present`
// where a test gives it.
struct RegistryRoots {
    HKEY machine = HKEY_LOCAL_MACHINE;
    std::string prefix;
    const PresentDevices* present = nullptr;
};

std::vector<std::string> explainOpenFailureIn(const RegistryRoots& roots, const OpenFailure& failure);

// The COM ports SERIALCOMM lists (those present), each with the name Device Manager shows
// where an Enum key gives it; sorted by number.
std::vector<PresentPort> presentComPorts(const RegistryRoots& roots);
