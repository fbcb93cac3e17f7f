// Runs the real velmoran many times against the stand-in device and reports whole-run
// wall time (process start to exit), where it goes, and peak memory. It reports; it
// does not judge, since timings on a shared machine are noisy.
//
//   velmoran-bench VELMORAN [RUNS]

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "standin_exchange.hpp"
#include "serial_link.hpp"
#include "standin_pty.hpp"

extern char** environ;

namespace {

using Clock = StandInClock;

double millisecondsBetween(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double, std::milli>(to - from).count();
}

struct RunSample {
    double wholeRunMs = 0;     // spawn to exit
    double untilFrameMs = 0;   // spawn to the frame complete at the device
    double afterFrameMs = 0;   // frame complete to exit
    int exitCode = -1;
};

// posix_spawn starts the tool without copying the benchmark's own address space, so
// the figure is the tool's start, not the harness's fork.
pid_t spawnTool(const std::string& tool, const std::string& port, bool useFork)
{
    const char* argv[] = {tool.c_str(), port.c_str(), "0x1FFFFFF0", "0x01", "0x02", nullptr};
    if (useFork) {
        const pid_t pid = fork();
        if (pid == 0) {
            const int nowhere = open("/dev/null", O_WRONLY);
            dup2(nowhere, 1);
            dup2(nowhere, 2);
            execv(tool.c_str(), const_cast<char* const*>(argv));
            _exit(127);
        }
        return pid;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    // A missed reply's explanation is written, as in a real run, but not shown.
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    posix_spawn(&pid, tool.c_str(), &actions, nullptr, const_cast<char* const*>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// The device serves exchange after exchange on a thread of its own, started once,
// so that no thread start falls inside a measured run.
struct DeviceLoop {
    StandInTerminal& port;
    StandInBehaviour behaviour;
    std::mutex lock;
    std::condition_variable served;
    std::vector<ExchangeRecord> records;
    bool stop = false;
    std::thread thread;

    DeviceLoop(StandInTerminal& standIn, const StandInBehaviour& chosen) : port(standIn), behaviour(chosen)
    {
        thread = std::thread([this] {
            requestPromptScheduling();
            for (;;) {
                {
                    std::lock_guard<std::mutex> guard(lock);
                    if (stop) {
                        return;
                    }
                }
                ExchangeRecord record;
                if (serveExchange(port, behaviour, record, 50)) {
                    std::lock_guard<std::mutex> guard(lock);
                    records.push_back(record);
                    served.notify_all();
                }
            }
        });
    }

    ~DeviceLoop()
    {
        {
            std::lock_guard<std::mutex> guard(lock);
            stop = true;
        }
        thread.join();
    }

    // The record of exchange number `index`, waiting a little for it if need be.
    bool record(std::size_t index, ExchangeRecord& out)
    {
        std::unique_lock<std::mutex> guard(lock);
        served.wait_for(guard, std::chrono::seconds(2), [&] { return records.size() > index; });
        if (records.size() <= index) {
            return false;
        }
        out = records[index];
        return true;
    }
};

RunSample runOnce(const std::string& tool, DeviceLoop& device, std::size_t index)
{
    RunSample sample;
    const Clock::time_point start = Clock::now();
    const pid_t pid = spawnTool(tool, device.port.terminalPath, false);
    int status = 0;
    waitpid(pid, &status, 0);
    const Clock::time_point end = Clock::now();
    sample.wholeRunMs = millisecondsBetween(start, end);
    sample.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    ExchangeRecord record;
    if (device.record(index, record)) {
        sample.untilFrameMs = millisecondsBetween(start, record.frameCompleteAt);
        sample.afterFrameMs = millisecondsBetween(record.frameCompleteAt, end);
    }
    return sample;
}

// The peak resident set of a run. Forked, since a spawned child's figure would
// include the benchmark's pages; a forked child's still includes the few the
// child had before exec, so this is an upper bound.
long peakMemoryKiB(const std::string& tool, const std::string& port)
{
    long peak = 0;
    for (int i = 0; i < 20; ++i) {
        const pid_t pid = spawnTool(tool, port, true);
        int status = 0;
        rusage usage {};
        wait4(pid, &status, 0, &usage);
        peak = std::max(peak, usage.ru_maxrss);
    }
    return peak;
}

double percentile(std::vector<double> values, double fraction)
{
    std::sort(values.begin(), values.end());
    return values[static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1) + 0.5)];
}

void measure(const char* label, const std::string& tool, int runs, const StandInBehaviour& behaviour,
             int expectedExit, double windowMs)
{
    StandInTerminal port;
    std::string error;
    if (!openStandInTerminal(port, error)) {
        std::fprintf(stderr, "velmoran-bench: %s\n", error.c_str());
        std::exit(1);
    }
    std::vector<double> whole;
    std::vector<double> untilFrame;
    std::vector<double> afterWindow;
    int unexpected = 0;
    int beforeWindow = 0;
    long peakKiB = 0;
    {
        DeviceLoop device(port, behaviour);
        for (int i = 0; i < runs; ++i) {
            const RunSample sample = runOnce(tool, device, static_cast<std::size_t>(i));
            whole.push_back(sample.wholeRunMs);
            untilFrame.push_back(sample.untilFrameMs);
            afterWindow.push_back(sample.afterFrameMs - windowMs);
            unexpected += sample.exitCode != expectedExit;
            beforeWindow += sample.afterFrameMs < windowMs;
        }
        peakKiB = peakMemoryKiB(tool, port.terminalPath);
    }
    closeStandInTerminal(port);

    std::printf("%s (%d runs)\n", label, runs);
    std::printf("  whole run:                       median %6.3f ms   p95 %6.3f ms\n", percentile(whole, 0.5),
                percentile(whole, 0.95));
    std::printf("  start until the frame is in:     median %6.3f ms   p95 %6.3f ms\n", percentile(untilFrame, 0.5),
                percentile(untilFrame, 0.95));
    std::printf("  exit after the %2.0f ms window:     median %6.3f ms   p95 %6.3f ms   (the protocol's minimum is 0)\n",
                windowMs, percentile(afterWindow, 0.5), percentile(afterWindow, 0.95));
    std::printf("  overhead beyond the window:      median %6.3f ms   (whole run less %.0f ms)\n",
                percentile(whole, 0.5) - windowMs, windowMs);
    std::printf("  peak memory:                     %.2f MiB (upper bound)\n", static_cast<double>(peakKiB) / 1024.0);
    // The tool's window opens when its write returns; the device sees the frame a
    // little later, after the pseudo-terminal has passed it on, so the shortest
    // figure here may fall short of the window by that hop.
    std::printf("  shortest time from frame to exit: %.3f ms; runs with another exit code: %d;"
                " runs that ended less than %.0f ms after the device saw the frame: %d\n",
                percentile(afterWindow, 0.0) + windowMs, unexpected, windowMs, beforeWindow);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: velmoran-bench VELMORAN [RUNS]\n");
        return 2;
    }
    const std::string tool = argv[1];
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 300;

    StandInBehaviour acknowledging;
    measure("instant acknowledgment", tool, runs, acknowledging, 0, 0.0);

    StandInBehaviour silent;
    silent.device.reply = false;
    // A missed reply is listened for kLateListeningMs more, to say whether it came late.
    measure("silent device", tool, runs, silent, 7, kAcknowledgmentWindowMs + kLateListeningMs);
    return 0;
}
