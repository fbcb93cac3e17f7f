#pragma once

// What velmoran-sim does its own way on each platform; sim_platform_posix.cpp and
// sim_platform_win32.cpp implement it and the build picks one.

#include <string>

#include "device_port.hpp"

// The line served when no port word is given. POSIX makes a pseudo-terminal and names
// its terminal side in `name`, velmoran's port word; Windows has none and says so.
bool openOwnLine(DevicePort& port, std::string& name, std::string& error);
// Gives velmoran a moment to let go of the own line (closing it would cut a reply still
// in flight), then closes it.
void closeOwnLine(DevicePort& port);

// From here on, Ctrl-C, a request to stop and a closed terminal or console window make
// stopRequested() true, so that the port is put back before the program ends.
void watchForStop();
bool stopRequested();
// Says that the port has been put back: a closed console window waits for it.
void stopCompleted();

// A real device answers on its own clock; on a loaded machine the stand-in's thread
// could be scheduled late and reply after the window through no fault of the tool.
// Asks for real-time priority for the calling thread, where the machine allows it.
void requestPromptScheduling();
