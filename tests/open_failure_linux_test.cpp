// Why a port could not be opened, on Linux: the error and a tree standing for sysfs, /dev
// and /proc, in; the lines, out.

#include "open_failure_linux.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include <grp.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

void makeFolder(const std::string& path)
{
    std::string made;
    for (std::size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
        mkdir(path.substr(0, slash).c_str(), 0755);
    }
    mkdir(path.c_str(), 0755);
}

void writeFile(const std::string& path, const std::string& text)
{
    std::ofstream(path) << text;
}

// A PC with a console UART, a ttyS placeholder with no UART, two USB adapters (one with a
// by-id name), a CDC-ACM port, virtual terminals with no device, a device link that
// loops, a name no kernel gives and a FIFO where an attribute should be; velmoran-sim, PID 4242, holds ttyUSB0's lock, and
// socat, PID 77, has it open too.
struct FakeSystem {
    SystemRoots roots;
    std::string top;

    FakeSystem()
    {
        char folder[] = "/tmp/velmoran-roots-XXXXXX";
        top = mkdtemp(folder);
        roots = {top + "/sys", top + "/dev", top + "/proc", top + "/etc"};
        const std::string tty = roots.sys + "/class/tty/";
        for (const char* name : {"ttyS0", "ttyS3", "ttyUSB0", "ttyUSB10", "ttyACM0", "tty\x01x"}) {
            makeFolder(tty + name + "/device");
        }
        writeFile(tty + "ttyS0/type", "4\n");
        writeFile(tty + "ttyS3/type", "0\n");
        makeFolder(tty + "ttyFIFO/device");
        mkfifo((tty + "ttyFIFO/type").c_str(), 0644);
        makeFolder(tty + "tty0");
        makeFolder(tty + "ttyLOOP");
        symlink((tty + "ttyLOOP/device").c_str(), (tty + "ttyLOOP/device").c_str());
        makeFolder(roots.dev + "/serial/by-id");
        symlink("../../ttyUSB0", (roots.dev + "/serial/by-id/usb-FTDI_FT232R_A1-if00-port0").c_str());
        writeFile(roots.dev + "/ttyUSB0", "");
        makeFolder(roots.proc + "/4242/fd");
        writeFile(roots.proc + "/4242/comm", "velmoran-sim\n");
        symlink((roots.dev + "/ttyUSB0").c_str(), (roots.proc + "/4242/fd/3").c_str());
        makeFolder(roots.proc + "/77/fd");
        symlink("/dev/null", (roots.proc + "/77/fd/0").c_str());
        // The stand-in holds ttyUSB0's lock; socat, 77, has it open as well, and a shell, 88,
        // has not (it took a lock and went on).
        symlink((roots.dev + "/ttyUSB0").c_str(), (roots.proc + "/77/fd/5").c_str());
        writeFile(roots.proc + "/77/comm", "socat\n");
        makeFolder(roots.proc + "/88/fd");
        writeFile(roots.proc + "/88/comm", "bash\n");
        lockedBy("4242");
    }
    // /proc/locks with ttyUSB0's lock taken by PID `holder`.
    void lockedBy(const std::string& holder) const
    {
        struct stat held {};
        stat((roots.dev + "/ttyUSB0").c_str(), &held);
        char file[64];
        std::snprintf(file, sizeof file, "%02x:%02x:%lu", major(held.st_dev), minor(held.st_dev),
                      static_cast<unsigned long>(held.st_ino));
        writeFile(roots.proc + "/locks", std::string("1: POSIX  ADVISORY  WRITE 77 ") + file + " 0 EOF\n2: FLOCK  "
                  "ADVISORY  WRITE " + holder + " " + file + " 0 EOF\n");
    }
    ~FakeSystem() { std::system(("rm -rf " + top).c_str()); }
};

struct ExplainCase {
    const char* name;
    OpenFailure failure;  // "{dev}" in the device path stands for the fake /dev
    std::vector<std::string> lines;
};

const std::string kListed =
    "velmoran: the serial ports here are /dev/ttyACM0, /dev/ttyFIFO, /dev/ttyS0, /dev/ttyUSB0 "
    "(/dev/serial/by-id/usb-FTDI_FT232R_A1-if00-port0), /dev/ttyUSB10.";

TEST(ExplainOpenFailure, NamesTheCauseAndThePortsThere)
{
    FakeSystem system;
    const std::string held = system.roots.dev + "/ttyUSB0";
    const ExplainCase cases[] = {
        {"missing path", {"/dev/ttyUSB9", "/dev/ttyUSB9", PortRefusal::CannotOpen, ENOENT},
         {"velmoran: /dev/ttyUSB9 does not exist: check the port's name.", kListed}},
        {"COM word, no UART: opened, then no terminal", {"COM4", "/dev/ttyS3", PortRefusal::NotATerminal, EIO},
         {"velmoran: COM4 (/dev/ttyS3) has no UART behind it: check the port's name.", kListed}},
        {"no UART, refused at once", {"/dev/ttyS3", "/dev/ttyS3", PortRefusal::CannotOpen, EIO},
         {"velmoran: /dev/ttyS3 has no UART behind it: check the port's name.", kListed}},
        {"gone adapter", {"/dev/ttyUSB1", "/dev/ttyUSB1", PortRefusal::CannotOpen, ENXIO},
         {"velmoran: /dev/ttyUSB1 has no device behind it (No such device or address): check the port's name, and "
          "that the adapter is plugged in.",
          kListed}},
        {"COM0", {"COM0", "", PortRefusal::CannotOpen, 0},
         {"velmoran: COM0 names no port: COM numbers start at 1, and COM1 is /dev/ttyS0 here.", kListed}},
        {"exclusive: every program that has it open", {held, held, PortRefusal::CannotOpen, EBUSY},
         {"velmoran: " + held + " is in use by other programs, socat (PID 77), velmoran-sim (PID 4242): close it, then "
          "run again."}},
        {"locked, holder seen", {held, held, PortRefusal::HeldByAnother, EWOULDBLOCK},
         {"velmoran: " + held + " is in use by another program, velmoran-sim (PID 4242): close it, then run again."}},
        {"holder not seen", {"/dev/ttyACM0", "/dev/ttyACM0", PortRefusal::HeldByAnother, EWOULDBLOCK},
         {"velmoran: /dev/ttyACM0 is in use by another program: close it, then run again."}},
        {"not a terminal", {"/dev/../dev/null", "/dev/../dev/null", PortRefusal::NotATerminal, 0},
         {"velmoran: /dev/../dev/null is not a serial port (not a terminal device): give the CAN interface's port."}},
        {"own terminal", {"/dev/tty", "/dev/tty", PortRefusal::OwnTerminal, 0},
         {"velmoran: /dev/tty is the terminal velmoran was started from: give the CAN interface's port."}},
        {"anything else, bytes made safe", {"/dev/a\nb\xff", "/dev/a\nb\xff", PortRefusal::CannotOpen, ELOOP},
         {"velmoran: cannot open /dev/a?b?: Too many levels of symbolic links (error 40)."}},
    };
    const ProcessIdentity user {1000, 1000, {}};
    for (const ExplainCase& c : cases) {
        EXPECT_EQ(explainOpenFailureIn(system.roots, user, c.failure), c.lines) << c.name;
    }
    // A lock's holder is named only when it is certain; else every program seen with the
    // port is: PID 0 (another PID namespace), a process that has ended, one that has
    // not the port open (a child has), one whose name cannot be read.
    const std::string everyHolder = "velmoran: " + held + " is in use by other programs, socat (PID 77), velmoran-sim "
                                    "(PID 4242): close it, then run again.";
    for (const char* holder : {"0", "5555", "88", "4343"}) {
        system.lockedBy(holder);
        EXPECT_EQ(explainOpenFailureIn(system.roots, user, {held, held, PortRefusal::HeldByAnother, EWOULDBLOCK}),
                  std::vector<std::string> {everyHolder})
            << "lock taken by PID " << holder;
    }
    makeFolder(system.roots.proc + "/4343/fd");
    symlink(held.c_str(), (system.roots.proc + "/4343/fd/7").c_str());
    EXPECT_EQ(explainOpenFailureIn(system.roots, user, {held, held, PortRefusal::HeldByAnother, EWOULDBLOCK}),
              std::vector<std::string> {"velmoran: " + held + " is in use by other programs, socat (PID 77), "
                                        "velmoran-sim (PID 4242), PID 4343: close it, then run again."})
        << "the lock's holder has the port open, but its name cannot be read";

    // A PC with no port, and one with more than a line should name.
    SystemRoots empty = system.roots;
    empty.sys = system.top + "/none";
    EXPECT_EQ(presentPortsLine(presentSerialPorts(empty)),
              "velmoran: no serial port is present on this PC: the adapter is unplugged, or its driver is missing.");
    for (int number = 1; number <= 14; ++number) {
        makeFolder(system.roots.sys + "/class/tty/ttyUSB" + std::to_string(number + 100) + "/device");
    }
    const std::string many = presentPortsLine(presentSerialPorts(system.roots));
    const std::string last = "/dev/ttyUSB107 and 7 more.";
    EXPECT_TRUE(many.size() > last.size() && many.compare(many.size() - last.size(), last.size(), last) == 0) << many;
}

// The facts come from the account files and the process's groups: a user added to the
// device's group after logging in is listed only in the group's member list, which may
// be longer than any fixed line.
TEST(ExplainOpenFailure, ReadsWhoMayOpenAPortFromTheAccountFiles)
{
    FakeSystem system;
    const std::string port = system.roots.dev + "/ttyUSB0";
    chmod(port.c_str(), 0660);
    struct stat device {};
    ASSERT_EQ(stat(port.c_str(), &device), 0);
    makeFolder(system.roots.etc);
    writeFile(system.roots.etc + "/passwd", "owner:x:" + std::to_string(device.st_uid) + ":0::/:/bin/sh\n"
              "ana:x:61000:61000::/home/ana:/bin/sh\n");
    std::string members = "bob";
    while (members.size() < 1100) {
        members += ",user" + std::to_string(members.size());
    }
    writeFile(system.roots.etc + "/group", "dialout:x:" + std::to_string(device.st_gid) + ":" + members + ",ana\n"
              "ana:x:61000:\n");
    const std::string start = "velmoran: no permission to open " + port + ": ";
    const std::string policy = ". A container without access to the device, or a security policy (AppArmor, "
                               "SELinux), refuses so, to root too: ask whoever runs this machine or container.";
    struct RefusalCase {
        const char* name;
        unsigned long user;
        bool inDeviceGroup;  // the process has the device's group
        long error;
        std::string line;
    };
    const RefusalCase cases[] = {
        {"added since this login", 61000, false, EACCES,
         start + "ana is in group dialout, but this login began before that: log out and in again, or run 'newgrp "
                 "dialout' first."},
        {"in the group, still refused", 61000, true, EACCES,
         start + "its mode (0660) lets only owner and group dialout open it: ask an administrator for access."},
        {"root", 0, false, EACCES,
         "velmoran: the system refused to open " + port + " whatever its mode: Permission denied (error 13)" + policy},
        {"not the mode bits", 61000, false, EPERM,
         "velmoran: the system refused to open " + port + " whatever its mode: Operation not permitted (error 1)" +
             policy},
    };
    for (const RefusalCase& c : cases) {
        ProcessIdentity who {c.user, c.user, {100}};
        if (c.inDeviceGroup) {
            who.groups.push_back(device.st_gid);
        }
        EXPECT_EQ(explainOpenFailureIn(system.roots, who, {port, port, PortRefusal::CannotOpen, c.error}),
                  std::vector<std::string> {c.line})
            << c.name;
    }
}

// Every group of the process counts, however many: a child in 300 groups, set as root.
TEST(ExplainOpenFailure, ReadsEveryGroupOfTheProcess)
{
    const pid_t child = fork();
    if (child == 0) {
        std::vector<gid_t> many;
        for (gid_t group = 5000; group < 5300; ++group) {
            many.push_back(group);
        }
        if (setgroups(many.size(), many.data()) != 0) {
            _exit(2);
        }
        const ProcessIdentity who = currentIdentity();
        _exit(who.groups.size() == many.size() && who.groups.back() == 5299 ? 0 : 1);
    }
    int status = -1;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_NE(WEXITSTATUS(status), 2) << "setgroups was refused: the tests run as root";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "not every one of 300 groups was read";
}

TEST(ExplainOpenFailure, SaysWhoMayOpenAPort)
{
    struct AccessCase {
        const char* name;
        AccessFacts facts;
        std::string line;
    };
    const std::string start = "velmoran: no permission to open /dev/ttyUSB0: ";
    const AccessCase cases[] = {
        {"not in the group", {"/dev/ttyUSB0", 0660, "root", "dialout", "ana", false, false},
         start + "it is open to group dialout, which ana is not in: run 'sudo usermod -aG dialout ana', then log out "
                 "and in again."},
        {"added since this login", {"/dev/ttyUSB0", 0660, "root", "dialout", "ana", false, true},
         start + "ana is in group dialout, but this login began before that: log out and in again, or run 'newgrp "
                 "dialout' first."},
        {"group may not open it", {"/dev/ttyUSB0", 0600, "root", "dialout", "ana", false, true},
         start + "its mode (0600) lets only root open it: ask an administrator for access."},
        {"group has it, still refused", {"/dev/ttyUSB0", 0660, "root", "dialout", "ana", true, true},
         start + "its mode (0660) lets only root and group dialout open it: ask an administrator for access."},
    };
    for (const AccessCase& c : cases) {
        EXPECT_EQ(accessAdvice(c.facts), c.line) << c.name;
    }
}

}  // namespace
