#include "end_to_end_cases.hpp"

namespace {

const std::string kHead = "Program to select CAN ID for download, Version 1.00\n"
                          "Opened serial port {port} successfully\n";

StandInBehaviour replying(std::uint8_t value, int delayMs = 0, std::vector<std::uint8_t> extra = {})
{
    StandInBehaviour behaviour;
    behaviour.device.replyByte = value;
    behaviour.device.replyDelayMs = delayMs;
    behaviour.device.extraBytes = extra;
    return behaviour;
}

StandInBehaviour silent()
{
    StandInBehaviour behaviour;
    behaviour.device.reply = false;
    return behaviour;
}

StandInBehaviour hangingUp()
{
    StandInBehaviour behaviour;
    behaviour.hangUpAfterFrame = true;
    return behaviour;
}

StandInBehaviour flooding(std::uint8_t value)
{
    StandInBehaviour behaviour = replying(value);
    behaviour.flood = true;
    return behaviour;
}

const std::vector<std::uint8_t> kTypicalFrame = {0x09, 0x36, 0x26, 0x1F, 0xFF, 0xFF, 0xF0, 0x01, 0x02};
const std::vector<std::uint8_t> kShortFrame = {0x07, 0x4A, 0x26, 0x00, 0x00, 0x01, 0x23};
const std::string kTypicalSent = "Sent ID: 0x1FFFFFF0 Data: 0x01 0x02 ";
const std::string kShortSent = "Sent ID: 0x00000123 Data: ";
const std::string kNoAck = "\nNo acknowledgment received\n";
// On a pseudo-terminal, after a missed reply.
const std::string kNothingCame = "velmoran: nothing came back on {port}, a pseudo-terminal, in the 61 ms after the "
                                 "frame went out: is this the CAN interface's port, and is the adapter powered and "
                                 "on the bus\\?\n";

std::vector<EndToEndCase> buildCases()
{
    const std::vector<std::string> typical = {"{port}", "0x1FFFFFF0", "0x01", "0x02"};
    const std::vector<std::string> shortRequest = {"{port}", "0x123"};
    // Longer than a Windows command line can be, so POSIX only.
    const std::string longZeros(100000, '0');
    return {
        {"TypicalRun", typical, replying(0x06), LineSetup::Fresh, true,
         kHead + kTypicalSent + "\nReceived: 0x06 \n", 0, kTypicalFrame, false, ""},
        {"NoDataBytes", shortRequest, replying(0x06), LineSetup::Fresh, true,
         kHead + kShortSent + "\nReceived: 0x06 \n", 0, kShortFrame, false, ""},
        {"EightDataBytes", {"{port}", "0", "1", "2", "3", "4", "5", "6", "7", "8"}, replying(0x06),
         LineSetup::Fresh, true,
         kHead + "Sent ID: 0x00000000 Data: 0x01 0x02 0x03 0x04 0x05 0x06 0x07 0x08 \nReceived: 0x06 \n", 0,
         {0x0F, 0x4A, 0x26, 0x00, 0x00, 0x00, 0x00, 1, 2, 3, 4, 5, 6, 7, 8}, false, ""},
        {"IdWordForms", {"{port}", "  1fffffff", "C8", "-0"}, replying(0x06), LineSetup::Fresh, true,
         kHead + "Sent ID: 0x1FFFFFFF Data: 0xC8 0x00 \nReceived: 0x06 \n", 0,
         {0x09, 0x0A, 0x26, 0x1F, 0xFF, 0xFF, 0xFF, 0xC8, 0x00}, false, ""},
        {"ControlByteValuesPassUnchanged", {"{port}", "ffffffff", "0x03", "0x0A", "0x0D", "0x11", "0x13", "0x7F", "0xFF"},
         replying(0x06), LineSetup::Fresh, true,
         kHead + "Sent ID: 0xFFFFFFFF Data: 0x03 0x0A 0x0D 0x11 0x13 0x7F 0xFF \nReceived: 0x06 \n", 0,
         {0x0E, 0xDE, 0x26, 0xFF, 0xFF, 0xFF, 0xFF, 0x03, 0x0A, 0x0D, 0x11, 0x13, 0x7F, 0xFF}, false, ""},
        {"ReplyByte00", shortRequest, replying(0x00), LineSetup::Fresh, true,
         kHead + kShortSent + "\nReceived: 0x00 \n", 0, kShortFrame, false, ""},
        {"TwoByteReplyFirstCounts", typical, replying(0xA5, 0, {0x5A}), LineSetup::Fresh, true,
         kHead + kTypicalSent + "\nReceived: 0xA5 \n", 0, kTypicalFrame, false, ""},
        {"StaleByteIsPurged", typical, silent(), LineSetup::StaleByte, true,
         kHead + kTypicalSent + kNoAck, 7, kTypicalFrame, false, kNothingCame},
        {"SilentDevice", typical, silent(), LineSetup::Fresh, true, kHead + kTypicalSent + kNoAck, 7, kTypicalFrame,
         false, kNothingCame},
        // A reply after the window is no acknowledgment; it is said on standard error.
        {"LateReply", typical, replying(0x06, 30), LineSetup::Fresh, true, kHead + kTypicalSent + kNoAck, 7,
         kTypicalFrame, false,
         "velmoran: a reply came late on {port}: 0x06, [0-9]+\\.[0-9] ms after the frame went out, [0-9]+\\.[0-9] ms "
         "past the 11 ms window; it was not taken\\. [^\\n]+\n"},
        {"HangUpAfterFrame", typical, hangingUp(), LineSetup::Fresh, true, kHead + kTypicalSent + kNoAck, 7,
         kTypicalFrame, false,
         "velmoran: {port} hung up or failed during the run, as a port does when its adapter is pulled out or "
         "loses power: is it plugged in and powered\\?\n"},
        {"FloodingDevice", typical, flooding(0x77), LineSetup::Fresh, true,
         kHead + kTypicalSent + "\nReceived: 0x77 \n", 0, kTypicalFrame, false, ""},
        // How words are read is the word readers' own table; here, one row for each way the
        // run sequence ends on a word, a word too wide for 32 bits included.
        {"BadIdWithPortOpen", {"{port}", "xyz", "0x01"}, silent(), LineSetup::Fresh, false,
         kHead + "Second argument not a valid hex number: xyz\n", 4, {}, false, ""},
        {"IdTooWideIsNotCut", {"{port}", "123456789"}, silent(), LineSetup::Fresh, false,
         kHead + "Second argument not a valid hex number: 123456789\n", 4, {}, false, ""},
        {"BadDataWord", {"{port}", "0x1", "0x2", "zz", "0x3"}, silent(), LineSetup::Fresh, false,
         kHead + "Argument 4 is not a valid hex number: zz\n", 5, {}, false, ""},
        {"DataByte100", {"{port}", "0x1", "100", "zz"}, silent(), LineSetup::Fresh, false,
         kHead + "Argument 3 is greater than oxFF: 100\n", 6, {}, false, ""},
        {"DataByteTooWide", {"{port}", "0x1", "0x01", "123456789"}, silent(), LineSetup::Fresh, false,
         kHead + "Argument 4 is greater than oxFF: 123456789\n", 6, {}, false, ""},
        {"LongIdWord", {"{port}", longZeros + "1FFFFFF0", "0x01", "0x02"}, replying(0x06), LineSetup::Fresh, true,
         kHead + kTypicalSent + "\nReceived: 0x06 \n", 0, kTypicalFrame, true, ""},
        {"LockedByAnotherProgram", typical, silent(), LineSetup::LockedByOther, false,
         "Program to select CAN ID for download, Version 1.00\nError opening serial port {port}\n", 3, {}, true,
         "velmoran: {port} is in use by another program, [^\\n]+ \\(PID [0-9]+\\): close it, then run "
         "again\\.\n"},
    };
}

}  // namespace

const std::vector<EndToEndCase>& endToEndCases()
{
    static const std::vector<EndToEndCase> cases = buildCases();
    return cases;
}

std::string withPortWord(const std::string& text, const std::string& portWord)
{
    const std::string marker = "{port}";
    std::string result = text;
    for (std::size_t at = result.find(marker); at != std::string::npos; at = result.find(marker, at + portWord.size())) {
        result.replace(at, marker.size(), portWord);
    }
    return result;
}
