#include "process_runner.hpp"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <grp.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

double millisecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// A pipe that programs started later do not inherit. pipe() and the flag are two
// steps, which is safe as long as no two threads start children at the same moment;
// the tests never do.
bool openPipe(int ends[2])
{
    if (pipe(ends) != 0) {
        return false;
    }
    fcntl(ends[0], F_SETFD, FD_CLOEXEC);
    fcntl(ends[1], F_SETFD, FD_CLOEXEC);
    return true;
}

}  // namespace

ProcessResult runProcess(const std::vector<std::string>& argv, const ProcessOptions& options)
{
    ProcessResult result;
    int outPipe[2] = {-1, -1};
    int errPipe[2] = {-1, -1};
    if (!openPipe(outPipe) || !openPipe(errPipe)) {
        return result;
    }

    std::vector<char*> args;
    for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);

    const Clock::time_point start = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        int input = -1;
        if (options.terminal.empty()) {
            input = open("/dev/null", O_RDONLY);
        } else if (setsid() < 0 ||
                   (input = open(options.terminal.c_str(), O_RDWR | (options.terminalControls ? 0 : O_NOCTTY))) < 0 ||
                   (options.terminalControls && ioctl(input, TIOCSCTTY, 0) != 0)) {
            _exit(125);
        }
        dup2(input, 0);
        if (options.stdoutMode == StdoutMode::Closed) {
            close(1);
        } else {
            dup2(!options.terminal.empty() && !options.terminalControls ? input : outPipe[1], 1);
        }
        // A stop that dumps core (SIGQUIT) leaves no file behind.
        const rlimit noCore {0, 0};
        setrlimit(RLIMIT_CORE, &noCore);
        if (options.blockedSignal != 0) {
            sigset_t blocked;
            sigemptyset(&blocked);
            sigaddset(&blocked, options.blockedSignal);
            sigprocmask(SIG_BLOCK, &blocked, nullptr);
        }
        dup2(errPipe[1], 2);
        if (options.runAsUid >= 0) {
            const gid_t group = static_cast<gid_t>(options.runAsUid);
            if (setgroups(0, nullptr) != 0 || setgid(group) != 0 || setuid(static_cast<uid_t>(options.runAsUid)) != 0) {
                _exit(126);
            }
        }
        if (options.prompt) {
            sched_param priority {};
            priority.sched_priority = 1;
            sched_setscheduler(0, SCHED_FIFO, &priority);
        }
        execv(args[0], args.data());
        _exit(127);
    }
    close(outPipe[1]);
    close(errPipe[1]);
    if (pid < 0) {
        close(outPipe[0]);
        close(errPipe[0]);
        return result;
    }
    result.started = true;

    pollfd streams[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open = 2;
    bool stopSent = options.stopSignal == 0;
    while (open > 0) {
        if (!stopSent && (!options.stopWhen || options.stopWhen(pid))) {
            kill(pid, options.stopSignal);
            stopSent = true;
        }
        const double left = options.timeoutMs - millisecondsSince(start);
        if (left <= 0) {
            result.timedOut = true;
            kill(pid, SIGKILL);
            break;
        }
        const double wait = stopSent ? left : std::min(left, 2.0);
        const int ready = poll(streams, 2, static_cast<int>(wait) + 1);
        if (ready < 0 && errno != EINTR) {
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (streams[i].fd < 0 || streams[i].revents == 0) {
                continue;
            }
            char buffer[4096];
            const ssize_t count = read(streams[i].fd, buffer, sizeof buffer);
            if (count > 0) {
                sinks[i]->append(buffer, static_cast<std::size_t>(count));
            }
            const bool firstLineDone = i == 0 && options.stdoutMode == StdoutMode::FirstLineOnly &&
                                       result.out.find('\n') != std::string::npos;
            if (count <= 0 || firstLineDone) {
                close(streams[i].fd);
                streams[i].fd = -1;
                --open;
            }
        }
    }
    for (pollfd& stream : streams) {
        if (stream.fd >= 0) {
            close(stream.fd);
        }
    }

    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.elapsedMs = millisecondsSince(start);
    if (WIFEXITED(status)) {
        result.exitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.signal = WTERMSIG(status);
    }
    return result;
}

std::string withUnixLineEnds(const std::string& text)
{
    std::string converted;
    converted.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            continue;
        }
        converted.push_back(text[i]);
    }
    return converted;
}
