#include "open_failure_linux.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

// Each lookup is bounded whatever the system holds: a tree of thousands of entries, links
// that loop, names of any length or bytes.

namespace {

constexpr std::size_t kMostEntriesRead = 4096;
constexpr std::size_t kMostLinksRead = 65536;

// The names in a folder, at most kMostEntriesRead, without "." and "..".
std::vector<std::string> folderEntries(const std::string& folder)
{
    std::vector<std::string> names;
    DIR* listing = opendir(folder.c_str());
    if (listing == nullptr) {
        return names;
    }
    while (names.size() < kMostEntriesRead) {
        const dirent* entry = readdir(listing);
        if (entry == nullptr) {
            break;
        }
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
            names.emplace_back(entry->d_name);
        }
    }
    closedir(listing);
    return names;
}

std::string linkTarget(const std::string& path)
{
    char target[512];
    const ssize_t length = readlink(path.c_str(), target, sizeof target - 1);
    return length > 0 ? std::string(target, static_cast<std::size_t>(length)) : std::string();
}

std::string baseName(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool isNumber(const std::string& text)
{
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Calls `visit` with each line of a file, at most `mostLines`, each cut at 1023
// characters, without its line end; stops when `visit` says so. Only a regular file is
// read (sysfs attributes and /proc's files are): a FIFO or a device there would block.
template <typename Visit>
void forEachLine(const std::string& path, int mostLines, Visit visit)
{
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (descriptor < 0) {
        return;
    }
    struct stat info {};
    std::FILE* file = fstat(descriptor, &info) == 0 && S_ISREG(info.st_mode) ? fdopen(descriptor, "r") : nullptr;
    if (file == nullptr) {
        ::close(descriptor);
        return;
    }
    char text[1024];
    for (int lines = 0; lines < mostLines && std::fgets(text, sizeof text, file) != nullptr; ++lines) {
        std::string line = text;
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
            line.pop_back();
        }
        if (!visit(line)) {
            break;
        }
    }
    std::fclose(file);
}

// The first line of a small file, without its line end.
std::string firstLine(const std::string& path)
{
    std::string first;
    forEachLine(path, 1, [&](const std::string& line) {
        first = line;
        return false;
    });
    return first;
}

// A tty's name as the kernel gives it: letters, digits and a few marks, short.
bool isTtyName(const std::string& name)
{
    if (name.empty() || name.size() > 32) {
        return false;
    }
    return std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
               c == '.';
    });
}

bool isDirectory(const std::string& path)
{
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// The 8250 driver registers every ttyS its configuration allows, UART or none: one with
// no UART behind it says type 0 (unknown).
bool isUartPlaceholder(const SystemRoots& roots, const std::string& name)
{
    return firstLine(roots.sys + "/class/tty/" + name + "/type") == "0";
}

std::string sayPath(const OpenFailure& failure)
{
    const std::string path = oneLineAscii(failure.devicePath);
    const std::string word = oneLineAscii(failure.portWord);
    return word == path ? path : word + " (" + path + ")";
}

// The programs that hold the port open, as /proc lets this user see them: "velmoran-sim
// (PID 1234)".
std::vector<std::string> portHolders(const SystemRoots& roots, const std::string& devicePath)
{
    std::vector<std::string> holders;
    char resolved[4096];
    const std::string device = realpath(devicePath.c_str(), resolved) != nullptr ? resolved : devicePath;
    const std::string self = std::to_string(getpid());
    std::size_t linksRead = 0;
    std::vector<std::string> processes = folderEntries(roots.proc);
    std::sort(processes.begin(), processes.end(), comesBeforeNaturally);
    for (const std::string& process : processes) {
        if (process == self || !isNumber(process)) {
            continue;
        }
        const std::string descriptors = roots.proc + "/" + process + "/fd";
        for (const std::string& descriptor : folderEntries(descriptors)) {
            if (++linksRead > kMostLinksRead) {
                return holders;
            }
            if (linkTarget(descriptors + "/" + descriptor) == device) {
                holders.push_back(oneLineAscii(firstLine(roots.proc + "/" + process + "/comm"), 32) + " (PID " +
                                  process + ")");
                break;
            }
        }
        if (holders.size() == 3) {
            break;
        }
    }
    return holders;
}

// The program that holds the port's lock, from the kernel's list of locks, which names
// each by its file's device and inode: "velmoran-sim (PID 1234)", or empty.
std::string lockHolder(const SystemRoots& roots, const std::string& devicePath)
{
    struct stat device {};
    if (stat(devicePath.c_str(), &device) != 0) {
        return std::string();
    }
    char file[64];
    std::snprintf(file, sizeof file, "%02x:%02x:%lu", major(device.st_dev), minor(device.st_dev),
                  static_cast<unsigned long>(device.st_ino));
    std::string holder;
    forEachLine(roots.proc + "/locks", 10000, [&](const std::string& line) {
        // "1: FLOCK  ADVISORY  WRITE 665 00:18:4 0 EOF"
        char kind[16] = {};
        char process[16] = {};
        char lockedFile[64] = {};
        if (std::sscanf(line.c_str(), "%*s %15s %*s %*s %15s %63s", kind, process, lockedFile) == 3 &&
            std::strcmp(kind, "FLOCK") == 0 && file == std::string(lockedFile) && isNumber(process)) {
            holder = oneLineAscii(firstLine(roots.proc + "/" + process + "/comm"), 32) + " (PID " +
                     oneLineAscii(process) + ")";
            return false;
        }
        return true;
    });
    return holder;
}

std::string inUseLine(const SystemRoots& roots, const OpenFailure& failure)
{
    // A lock names its holder for certain; an exclusive flag does not, so then every
    // program that has the port open is named.
    const std::string locker =
        failure.refusal == PortRefusal::HeldByAnother ? lockHolder(roots, failure.devicePath) : std::string();
    const std::vector<std::string> holders =
        locker.empty() ? portHolders(roots, failure.devicePath) : std::vector<std::string> {locker};
    std::string by = "another program";
    if (!holders.empty()) {
        by = holders.size() == 1 ? "another program, " : "other programs, ";
        for (std::size_t index = 0; index < holders.size(); ++index) {
            by += (index == 0 ? "" : ", ") + holders[index];
        }
    }
    return "velmoran: " + sayPath(failure) + " is in use by " + by + ": close it, then run again.";
}

// One entry of /etc/passwd or /etc/group, by its number (the third field): its fields.
// The files are read as they stand, not through NSS, which a static program cannot load.
std::vector<std::string> databaseEntry(const std::string& path, unsigned long id)
{
    std::vector<std::string> found;
    forEachLine(path, 100000, [&](const std::string& line) {
        std::vector<std::string> fields;
        std::size_t start = 0;
        for (std::size_t colon = line.find(':'); fields.size() < 8; colon = line.find(':', start)) {
            fields.push_back(line.substr(start, colon == std::string::npos ? std::string::npos : colon - start));
            if (colon == std::string::npos) {
                break;
            }
            start = colon + 1;
        }
        if (fields.size() >= 3 && fields[2] == std::to_string(id)) {
            found = fields;
            return false;
        }
        return true;
    });
    return found;
}

std::string accessLine(const SystemRoots& roots, const OpenFailure& failure)
{
    AccessFacts facts;
    facts.path = sayPath(failure);
    struct stat device {};
    if (stat(failure.devicePath.c_str(), &device) != 0) {
        return "velmoran: no permission to open " + facts.path + ".";
    }
    facts.mode = device.st_mode & 07777;
    const std::vector<std::string> owner = databaseEntry(roots.etc + "/passwd", device.st_uid);
    facts.ownerName = owner.empty() ? std::to_string(device.st_uid) : owner[0];
    const std::vector<std::string> user = databaseEntry(roots.etc + "/passwd", geteuid());
    facts.userName = user.empty() ? std::to_string(geteuid()) : user[0];
    const std::vector<std::string> deviceGroup = databaseEntry(roots.etc + "/group", device.st_gid);
    facts.groupName = deviceGroup.empty() ? std::to_string(device.st_gid) : deviceGroup[0];
    facts.userListedInGroup = user.size() >= 4 && user[3] == std::to_string(device.st_gid);
    if (deviceGroup.size() >= 4 && !user.empty()) {
        const std::string members = "," + deviceGroup[3] + ",";
        facts.userListedInGroup = facts.userListedInGroup || members.find("," + user[0] + ",") != std::string::npos;
    }
    facts.processHasGroup = getegid() == device.st_gid;
    gid_t groups[256];
    const int count = getgroups(256, groups);
    for (int index = 0; index < count && !facts.processHasGroup; ++index) {
        facts.processHasGroup = groups[index] == device.st_gid;
    }
    facts.ownerName = oneLineAscii(facts.ownerName, 64);
    facts.groupName = oneLineAscii(facts.groupName, 64);
    facts.userName = oneLineAscii(facts.userName, 64);
    return accessAdvice(facts);
}

}  // namespace

std::string accessAdvice(const AccessFacts& facts)
{
    const std::string start = "velmoran: no permission to open " + facts.path + ": ";
    const bool groupMayOpen = (facts.mode & 060) == 060;
    if (groupMayOpen && !facts.processHasGroup && facts.userListedInGroup) {
        return start + facts.userName + " is in group " + facts.groupName +
               ", but this login began before that: log out and in again, or run 'newgrp " + facts.groupName +
               "' first.";
    }
    if (groupMayOpen && !facts.processHasGroup) {
        return start + "it is open to group " + facts.groupName + ", which " + facts.userName +
               " is not in: run 'sudo usermod -aG " + facts.groupName + " " + facts.userName +
               "', then log out and in again.";
    }
    char mode[16];
    std::snprintf(mode, sizeof mode, "%04o", facts.mode & 07777u);
    const std::string whoMay = groupMayOpen ? facts.ownerName + " and group " + facts.groupName : facts.ownerName;
    return start + "its mode (" + mode + ") lets only " + whoMay + " open it: ask an administrator for access.";
}

std::vector<PresentPort> presentSerialPorts(const SystemRoots& roots)
{
    std::vector<PresentPort> ports;
    const std::string ttys = roots.sys + "/class/tty/";
    for (const std::string& name : folderEntries(ttys)) {
        if (isTtyName(name) && isDirectory(ttys + name + "/device") && !isUartPlaceholder(roots, name)) {
            ports.push_back({"/dev/" + name, ""});
        }
    }
    const std::string byId = roots.dev + "/serial/by-id/";
    for (const std::string& link : folderEntries(byId)) {
        const std::string target = baseName(linkTarget(byId + link));
        for (PresentPort& port : ports) {
            if (port.alsoNamed.empty() && port.name == "/dev/" + target) {
                port.alsoNamed = "/dev/serial/by-id/" + link;
            }
        }
    }
    std::sort(ports.begin(), ports.end(),
              [](const PresentPort& left, const PresentPort& right) { return comesBeforeNaturally(left.name, right.name); });
    return ports;
}

std::vector<std::string> explainOpenFailureIn(const SystemRoots& roots, const OpenFailure& failure)
{
    const std::string path = sayPath(failure);
    const std::string tty = baseName(failure.devicePath);
    // The 8250 driver's placeholder opens, and then fails every terminal request with EIO.
    const bool noUart = tty.compare(0, 4, "ttyS") == 0 && isUartPlaceholder(roots, tty);
    if (noUart && (failure.refusal == PortRefusal::NotATerminal || failure.refusal == PortRefusal::CannotOpen)) {
        return {"velmoran: " + path + " has no UART behind it: check the port's name.",
                presentPortsLine(presentSerialPorts(roots))};
    }
    switch (failure.refusal) {
    case PortRefusal::NotATerminal:
    case PortRefusal::OwnTerminal:
        return {notAPortLine(failure.refusal, path)};
    case PortRefusal::HeldByAnother:
        return {inUseLine(roots, failure)};
    case PortRefusal::None:
        return {};
    case PortRefusal::CannotOpen:
        break;
    }
    const std::string word = oneLineAscii(failure.portWord);
    if (failure.devicePath.empty()) {
        return {"velmoran: " + word + " names no port: COM numbers start at 1, and COM1 is /dev/ttyS0 here.",
                presentPortsLine(presentSerialPorts(roots))};
    }
    switch (failure.systemError) {
    case ENOENT:
        return {"velmoran: " + path + " does not exist: check the port's name.",
                presentPortsLine(presentSerialPorts(roots))};
    case EIO:
    case ENXIO:
    case ENODEV:
        return {"velmoran: " + path + " has no device behind it (" + std::strerror(static_cast<int>(failure.systemError)) +
                    "): check the port's name, and that the adapter is plugged in.",
                presentPortsLine(presentSerialPorts(roots))};
    case EBUSY:
        return {inUseLine(roots, failure)};
    case EACCES:
    case EPERM:
        return {accessLine(roots, failure)};
    default:
        return {"velmoran: cannot open " + path + ": " +
                oneLineAscii(std::strerror(static_cast<int>(failure.systemError))) + " (error " +
                std::to_string(failure.systemError) + ")."};
    }
}

std::vector<std::string> explainOpenFailure(const OpenFailure& failure)
{
    return explainOpenFailureIn(SystemRoots {}, failure);
}
