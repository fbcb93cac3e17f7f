#pragma once

// Windows: the devices plugged in now, as SetupAPI lists them, by instance ID (the path of
// their key under HKLM\SYSTEM\CurrentControlSet\Enum). The registry keeps a key for every
// device ever plugged in; this says which of them are there.

#include "bridge_latency_choice.hpp"  // PresentDevices

// Those under `enumerator` ("FTDIBUS"), or all of them when it is null; `known` is false
// when SetupAPI cannot say. Loads SetupAPI only when called, after a failure.
PresentDevices presentDevices(const char* enumerator);

