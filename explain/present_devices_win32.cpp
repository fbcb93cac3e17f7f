#include "present_devices_win32.hpp"

#include "registry_win32.hpp"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <setupapi.h>

namespace {

using GetClassDevs = decltype(&SetupDiGetClassDevsA);
using EnumDeviceInfo = decltype(&SetupDiEnumDeviceInfo);
using GetDeviceInstanceId = decltype(&SetupDiGetDeviceInstanceIdA);
using DestroyDeviceInfoList = decltype(&SetupDiDestroyDeviceInfoList);

template <typename Function>
Function setupApiFunction(HMODULE setupApi, const char* name)
{
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(setupApi, name)));
}

}  // namespace

PresentDevices presentDevices(const char* enumerator)
{
    PresentDevices present;
    const HMODULE setupApi = LoadLibraryExA("setupapi.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (setupApi == nullptr) {
        return present;
    }
    const auto getClassDevs = setupApiFunction<GetClassDevs>(setupApi, "SetupDiGetClassDevsA");
    const auto enumDeviceInfo = setupApiFunction<EnumDeviceInfo>(setupApi, "SetupDiEnumDeviceInfo");
    const auto getInstanceId = setupApiFunction<GetDeviceInstanceId>(setupApi, "SetupDiGetDeviceInstanceIdA");
    const auto destroyList = setupApiFunction<DestroyDeviceInfoList>(setupApi, "SetupDiDestroyDeviceInfoList");
    if (getClassDevs && enumDeviceInfo && getInstanceId && destroyList) {
        const HDEVINFO devices = getClassDevs(nullptr, enumerator, nullptr, DIGCF_ALLCLASSES | DIGCF_PRESENT);
        if (devices != INVALID_HANDLE_VALUE) {
            present.known = true;
            SP_DEVINFO_DATA device {};
            device.cbSize = sizeof device;
            for (DWORD index = 0; index < kMostSubkeysWalked && enumDeviceInfo(devices, index, &device); ++index) {
                char instanceId[256] = {};  // Windows' device IDs hold at most 200
                if (getInstanceId(devices, &device, instanceId, sizeof instanceId, nullptr)) {
                    present.instanceIds.emplace_back(instanceId);
                }
            }
            destroyList(devices);
        }
    }
    FreeLibrary(setupApi);
    return present;
}
