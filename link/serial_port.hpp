#pragma once

// A serial port as velmoran and velmoran-sim take it from their user and give it back:
// named by its word, opened exclusively, its line set to 115200 baud 8N1 raw. On the way
// out both put back the driver's low-latency flag and end the exclusive hold. What they
// leave on the line differs:
// - velmoran-sim keeps the line's settings when it takes the port and puts them all back.
// - velmoran keeps none, as a Windows program that calls SetCommState leaves them: the
//   port stays at 115200 baud, 8 data bits, no parity, one stop bit and raw (no echo,
//   no line editing, no translation of bytes), with its flow control and modem lines
//   as it had them.
// Each program adds only its own reads and writes (serial_link.hpp, the stand-in's
// device).
//
// One header for every platform; serial_port_win32.cpp and serial_port_posix.cpp
// implement it and the build picks one. What a port had before it was taken is kept in
// the form of its own platform, in that platform's file.

#include <cstdint>
#include <memory>

constexpr std::uint32_t kLineBaudRate = 115200;

struct PortWord {
    bool valid = false;
    std::int32_t portNumber = 0;
};

// "COM" in capitals, then a signed decimal integer in the 32-bit range, read as the C
// library's "COM%d" reads it; the rest of the word is ignored.
PortWord parsePortWord(const char* word);

// The device that COMn names: "\\.\COMn" on Windows (the form that reaches COM10 and
// above too), /dev/ttyS(n-1) on POSIX, as other Windows-compatibility layers name them.
struct ComPortPath {
    bool exists = false;  // POSIX: COM0 and below name no device
    char text[24] = {};
};
ComPortPath comPortPath(std::int32_t portNumber);

// True where a port word may be a device path (POSIX: a word beginning "/dev/").
bool isDevicePathWord(const char* word);

enum class PortRefusal {
    None,           // taken
    CannotOpen,     // missing, no access, or held by another program (Windows); errno or
                    // GetLastError() says why, read straight after the call
    NotATerminal,   // a file, a disk, a pipe: a frame must never land there
    OwnTerminal,    // the terminal the program runs on, where the frame would land on a screen
    HeldByAnother,  // another program holds the port's lock (POSIX)
};

// What the port had before it was taken and must get back, as each platform keeps it.
struct PortBefore;
struct PortBeforeRelease {
    void operator()(PortBefore* before) const;
};

struct SerialPort {
    // The platform's handle (a HANDLE or a file descriptor); -1 while not taken.
    std::intptr_t handle = -1;
    // Empty for a handle the program made itself rather than took (a pseudo-terminal).
    std::unique_ptr<PortBefore, PortBeforeRelease> before;
};

// POSIX: a closed standard descriptor would be handed to the port, or to any descriptor
// the program opens, and what the program prints would go out on the line or into a
// pipe of its own. Fills each closed one first thing; nothing to do on Windows, which
// hands out no standard handle to a new file.
void fillClosedStandardHandles();

// Opens the device at `devicePath` for reading and writing, exclusively, without changing
// anything on its line: no other program may open it while it is held. When refused,
// errno or GetLastError() still says why.
PortRefusal takeSerialPort(SerialPort& port, const char* devicePath);

// Remembers the line's settings as they are now, for giveBackSerialPort to put back.
bool keepLineSettings(SerialPort& port);

// Hardware flow control and the modem lines: velmoran leaves them as the port had them;
// the stand-in, playing a device, uses none and holds its own lines on.
enum class FlowControl {
    AsThePortHadIt,
    Off,
};

// 115200 baud, 8 data bits, no parity, one stop bit, every byte value passed unchanged
// both ways, a BREAK dropped rather than read as a 0x00 byte. On Linux the driver is
// also asked to hand received bytes over at once (low_latency.hpp). False when the
// line's settings were refused; errno or GetLastError() says why.
bool setLine(SerialPort& port, FlowControl flowControl);

// Waits until the bytes written have left for the line, `timeoutMs` at most; false when
// some were still queued then. Never unbounded, as tcdrain and FlushFileBuffers are on a
// line whose peer holds flow control or never takes the bytes.
bool awaitOutputSent(const SerialPort& port, unsigned timeoutMs);

// Puts back what the program changed (the driver's low-latency flag, the settings kept
// with keepLineSettings, the exclusive hold) and closes the port. The settings wait for
// the bytes written to be on the wire: first for the driver's queue to empty, as long as
// its bytes need at 115200 baud and 100 ms more (what is still queued then is dropped),
// then for what the UART or USB chip still holds: on POSIX as long as the driver says,
// where no flow control can hold it back, and otherwise, as on Windows, a FIFO's time. A
// port that was never taken is only closed.
void giveBackSerialPort(SerialPort& port);
