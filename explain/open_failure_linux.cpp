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

// Calls `visit` with each line of a file, whole and without its line end, until the
// file or kMostBytesRead of it has been read; stops when `visit` says so. Only a regular
// file is read (sysfs attributes and /proc's files are): a FIFO or a device there would block.
constexpr std::size_t kMostBytesRead = 4u << 20;

template <typename Visit>
void forEachLine(const std::string& path, Visit visit)
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
    std::string line;
    std::size_t bytesRead = 0;
    for (int c = std::fgetc(file); c != EOF && bytesRead < kMostBytesRead; c = std::fgetc(file), ++bytesRead) {
        if (c != '\n') {
            line += static_cast<char>(c);
            continue;
        }
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (!visit(line)) {
            std::fclose(file);
            return;
        }
        line.clear();
    }
    if (!line.empty()) {
        visit(line);
    }
    std::fclose(file);
}

// The first line of a small file, without its line end.
std::string firstLine(const std::string& path)
{
    std::string first;
    forEachLine(path, [&](const std::string& line) {
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

// The device as a descriptor's link in /proc names it.
std::string resolvedDevice(const std::string& devicePath)
{
    char resolved[4096];
    return realpath(devicePath.c_str(), resolved) != nullptr ? resolved : devicePath;
}

// Whether the process has the device open, reading at most kMostLinksRead links in all.
bool hasOpen(const SystemRoots& roots, const std::string& process, const std::string& device, std::size_t& linksRead)
{
    const std::string descriptors = roots.proc + "/" + process + "/fd";
    for (const std::string& descriptor : folderEntries(descriptors)) {
        if (++linksRead > kMostLinksRead) {
            return false;
        }
        if (linkTarget(descriptors + "/" + descriptor) == device) {
            return true;
        }
    }
    return false;
}

// "velmoran-sim (PID 1234)", or empty where the process's name cannot be read.
std::string processName(const SystemRoots& roots, const std::string& process)
{
    const std::string name = firstLine(roots.proc + "/" + process + "/comm");
    return name.empty() ? std::string() : oneLineAscii(name, 32) + " (PID " + process + ")";
}

// The programs that hold the port open, as /proc lets this user see them.
std::vector<std::string> portHolders(const SystemRoots& roots, const std::string& devicePath)
{
    std::vector<std::string> holders;
    const std::string device = resolvedDevice(devicePath);
    const std::string self = std::to_string(getpid());
    std::size_t linksRead = 0;
    std::vector<std::string> processes = folderEntries(roots.proc);
    std::sort(processes.begin(), processes.end(), comesBeforeNaturally);
    for (const std::string& process : processes) {
        if (process == self || !isNumber(process)) {
            continue;
        }
        if (hasOpen(roots, process, device, linksRead)) {
            const std::string name = processName(roots, process);
            holders.push_back(name.empty() ? "PID " + process : name);
        }
        if (holders.size() == 3 || linksRead > kMostLinksRead) {
            break;
        }
    }
    return holders;
}

// The program that holds the port's lock, from the kernel's list of locks, which names
// each by its file's device and inode: "velmoran-sim (PID 1234)". Named only when that is
// certain: the list gives the PID of the process that took the lock, which may have ended
// while a child keeps the descriptor, or be 0 for a holder in another PID namespace, or
// have a name this user cannot read. Then empty.
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
    std::size_t linksRead = 0;
    forEachLine(roots.proc + "/locks", [&](const std::string& line) {
        // "1: FLOCK  ADVISORY  WRITE 665 00:18:4 0 EOF"
        char kind[16] = {};
        char process[16] = {};
        char lockedFile[64] = {};
        if (std::sscanf(line.c_str(), "%*s %15s %*s %*s %15s %63s", kind, process, lockedFile) == 3 &&
            std::strcmp(kind, "FLOCK") == 0 && file == std::string(lockedFile)) {
            const std::string pid = process;
            if (isNumber(pid) && pid.find_first_not_of('0') != std::string::npos &&
                hasOpen(roots, pid, resolvedDevice(devicePath), linksRead)) {
                holder = processName(roots, pid);
            }
            return false;
        }
        return true;
    });
    return holder;
}

std::string inUseLineFor(const SystemRoots& roots, const OpenFailure& failure)
{
    // A lock names its holder for certain; an exclusive flag does not, so then every
    // program that has the port open is named.
    const std::string locker =
        failure.refusal == PortRefusal::HeldByAnother ? lockHolder(roots, failure.devicePath) : std::string();
    return inUseLine(sayPath(failure),
                     locker.empty() ? portHolders(roots, failure.devicePath) : std::vector<std::string> {locker});
}

// One entry of /etc/passwd or /etc/group, by its number (the third field): its fields.
// The files are read as they stand, not through NSS, which a static program cannot load.
std::vector<std::string> databaseEntry(const std::string& path, unsigned long id)
{
    std::vector<std::string> found;
    forEachLine(path, [&](const std::string& line) {
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

// A refusal that no mode bits gave: EPERM, or EACCES to root, come from a policy above them.
std::string refusedWhateverTheModeLine(const std::string& path, long systemError)
{
    return "velmoran: the system refused to open " + path + " whatever its mode: " + systemErrorText(systemError) +
           ". A container without access to the device, or a security policy (AppArmor, SELinux), refuses so, "
           "to root too: ask whoever runs this machine or container.";
}

std::string accessLine(const SystemRoots& roots, const ProcessIdentity& who, const OpenFailure& failure)
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
    const std::vector<std::string> user = databaseEntry(roots.etc + "/passwd", who.user);
    facts.userName = user.empty() ? std::to_string(who.user) : user[0];
    const std::vector<std::string> deviceGroup = databaseEntry(roots.etc + "/group", device.st_gid);
    facts.groupName = deviceGroup.empty() ? std::to_string(device.st_gid) : deviceGroup[0];
    facts.userListedInGroup = user.size() >= 4 && user[3] == std::to_string(device.st_gid);
    if (deviceGroup.size() >= 4 && !user.empty()) {
        const std::string members = "," + deviceGroup[3] + ",";
        facts.userListedInGroup = facts.userListedInGroup || members.find("," + user[0] + ",") != std::string::npos;
    }
    facts.processHasGroup = who.group == device.st_gid ||
                            std::find(who.groups.begin(), who.groups.end(), device.st_gid) != who.groups.end();
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

std::vector<std::string> explainOpenFailureIn(const SystemRoots& roots, const ProcessIdentity& who,
                                              const OpenFailure& failure)
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
        return {inUseLineFor(roots, failure)};
    case PortRefusal::None:
        return {};
    case PortRefusal::CannotOpen:
        break;
    }
    const std::string word = oneLineAscii(failure.portWord);
    if (failure.devicePath.empty()) {
        return {namesNoPortLine(word, "/dev/ttyS0"), presentPortsLine(presentSerialPorts(roots))};
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
        return {inUseLineFor(roots, failure)};
    case EACCES:
        // The mode bits refuse only a user without the rights to override them.
        if (who.user != 0) {
            return {accessLine(roots, who, failure)};
        }
        return {refusedWhateverTheModeLine(path, failure.systemError)};
    case EPERM:
        return {refusedWhateverTheModeLine(path, failure.systemError)};
    default:
        return {cannotOpenLine(path, failure.systemError)};
    }
}

ProcessIdentity currentIdentity()
{
    ProcessIdentity who;
    who.user = geteuid();
    who.group = getegid();
    const int count = getgroups(0, nullptr);
    std::vector<gid_t> groups(count > 0 ? static_cast<std::size_t>(count) : 0);
    const int read = groups.empty() ? 0 : getgroups(count, groups.data());
    for (int index = 0; index < read; ++index) {
        who.groups.push_back(groups[static_cast<std::size_t>(index)]);
    }
    return who;
}

std::vector<std::string> explainOpenFailure(const OpenFailure& failure)
{
    return explainOpenFailureIn(SystemRoots {}, currentIdentity(), failure);
}
