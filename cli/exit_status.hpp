#pragma once

// The process exit code; download scripts act on each value.
enum class ExitStatus : int {
    Ok = 0,                  // one byte came back from the device
    WrongArgumentCount = 1,  // fewer than 3 or more than 11 command-line words
    BadPortArgument = 2,     // the port word does not read as COMn
    PortOpenFailed = 3,
    BadIdArgument = 4,       // the ID word is not hexadecimal
    BadDataArgument = 5,     // a data word is not hexadecimal
    DataByteTooLarge = 6,    // a data word's value is above 0xFF
    NoAcknowledgment = 7,    // no byte came back
};
