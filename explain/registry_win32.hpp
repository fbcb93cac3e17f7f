#pragma once

// Windows: bounded reads of the registry for the lookups that explain a failure, taking
// only the types Windows writes, whatever else a key holds.

#include <string>

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

// Far more than a PC has; a walk ends in bounded time whatever the registry holds.
constexpr DWORD kMostSubkeysWalked = 4096;

// A REG_SZ value's text; empty when it is missing, of another type, or longer than 255.
inline std::string registryString(HKEY key, const char* name)
{
    char text[256] = {};
    DWORD type = 0;
    DWORD size = sizeof text - 1;  // a string stored without its terminator still ends
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text), &size) != ERROR_SUCCESS ||
        type != REG_SZ) {
        return std::string();
    }
    return std::string(text);
}

// Calls `visit` with each subkey's name, up to kMostSubkeysWalked, until it gives false.
template <typename Visit>
void forEachSubkey(HKEY key, Visit visit)
{
    for (DWORD index = 0; index < kMostSubkeysWalked; ++index) {
        char name[256];
        DWORD length = sizeof name;
        const LONG result = RegEnumKeyExA(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (result == ERROR_NO_MORE_ITEMS) {
            return;
        }
        if (result == ERROR_SUCCESS && !visit(name)) {
            return;
        }
    }
}
