#include "bridge_latency_choice.hpp"

bool isPresent(const std::string& instanceId, const PresentDevices& present)
{
    for (const std::string& presentId : present.instanceIds) {
        if (sameAsciiIgnoringCase(presentId.c_str(), instanceId.c_str())) {
            return true;
        }
    }
    return false;
}

bool sameAsciiIgnoringCase(const char* left, const char* right)
{
    for (;; ++left, ++right) {
        char a = *left;
        char b = *right;
        if (a >= 'a' && a <= 'z') {
            a = static_cast<char>(a - 'a' + 'A');
        }
        if (b >= 'a' && b <= 'z') {
            b = static_cast<char>(b - 'a' + 'A');
        }
        if (a != b) {
            return false;
        }
        if (a == '\0') {
            return true;
        }
    }
}

BridgeLatency chooseBridgeLatency(const std::vector<BridgeLatencyKey>& keys, const PresentDevices& present)
{
    BridgeLatency longest;
    for (const BridgeLatencyKey& key : keys) {
        if (present.known && !isPresent(key.instanceId, present)) {
            continue;
        }
        if (key.latency.known && key.latency.milliseconds > longest.milliseconds) {
            longest = key.latency;
        }
    }
    return longest;
}
