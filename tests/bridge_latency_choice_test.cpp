#include "bridge_latency_choice.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

BridgeLatency timer(unsigned ms)
{
    BridgeLatency latency;
    latency.known = true;
    latency.milliseconds = ms;
    return latency;
}

struct ChoiceCase {
    const char* name;
    std::vector<BridgeLatencyKey> keys;
    PresentDevices present;
    BridgeLatency expected;
};

// The keys FTDI's driver left for one port: A1 is the adapter plugged in now, fixed to
// 1 ms; B2 an adapter that had the same port once and is gone, still at 16 ms.
TEST(ChooseBridgeLatency, FollowsThePresentAdapter)
{
    const BridgeLatencyKey present1 {"FTDIBUS\\VID_0403+PID_6001+A1\\0000", timer(1)};
    const BridgeLatencyKey gone16 {"FTDIBUS\\VID_0403+PID_6001+B2\\0000", timer(16)};
    const BridgeLatencyKey located9 {"FTDIBUS\\VID_0403+PID_6001+6&2B2D4E1&0&2\\0000", timer(9)};
    const BridgeLatencyKey presentUnreadable {"FTDIBUS\\VID_0403+PID_6001+A1\\0000", BridgeLatency {}};
    const PresentDevices onlyA1 {true, {"FTDIBUS\\VID_0403+PID_6001+A1\\0000"}};
    const PresentDevices onlyA1OtherCase {true, {"ftdibus\\vid_0403+pid_6001+a1\\0000"}};
    const PresentDevices unknown {};
    const PresentDevices none {true, {}};
    const ChoiceCase cases[] = {
        {"stale key's longer timer left out", {gone16, present1}, onlyA1, timer(1)},
        {"same, present first", {present1, gone16}, onlyA1, timer(1)},
        {"IDs in another case", {gone16, present1}, onlyA1OtherCase, timer(1)},
        {"presence unknown: longest", {present1, gone16}, unknown, timer(16)},
        {"nothing present: not an FTDI port now", {present1, gone16}, none, BridgeLatency {}},
        {"present key unreadable: unknown, not the stale one", {gone16, presentUnreadable}, onlyA1, BridgeLatency {}},
        {"two present: longest",
         {present1, located9, gone16},
         {true, {"FTDIBUS\\VID_0403+PID_6001+6&2B2D4E1&0&2\\0000", "FTDIBUS\\VID_0403+PID_6001+A1\\0000"}},
         timer(9)},
        {"a prefix of a present ID is not it", {{"FTDIBUS\\VID_0403+PID_6001+A\\0000", timer(16)}}, onlyA1,
         BridgeLatency {}},
        {"no keys", {}, onlyA1, BridgeLatency {}},
    };
    for (const ChoiceCase& c : cases) {
        const BridgeLatency chosen = chooseBridgeLatency(c.keys, c.present);
        EXPECT_EQ(chosen.known, c.expected.known) << c.name;
        EXPECT_EQ(chosen.milliseconds, c.expected.milliseconds) << c.name;
    }
}

}  // namespace
