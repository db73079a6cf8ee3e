// Time from start to a mapped window, and the peak memory then, for several programs measured
// side by side (runs interleaved) on the X server of $DISPLAY, without a window manager.
// Usage: bench_startup RUNS LABEL PROGRAM [LABEL PROGRAM ...]; the first is the yardstick.
#include <X11/Xlib.h>
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <string>
#include <sys/select.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kSettleMs = 300;
constexpr int kTimeoutS = 20;

struct Sample {
    double ms;
    long peakKiB;
};

long peakKiB(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) {
            return std::stol(line.substr(6));
        }
    }
    return -1;
}

bool waitForMap(Display* display, Clock::time_point deadline)
{
    const int fd = ConnectionNumber(display);
    while (Clock::now() < deadline) {
        while (XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == MapNotify && event.xmap.override_redirect == False) {
                return true;
            }
        }
        fd_set read;
        FD_ZERO(&read);
        FD_SET(fd, &read);
        timeval wait{0, 10000};
        select(fd + 1, &read, nullptr, nullptr, &wait);
    }
    return false;
}

bool measure(Display* display, const char* program, Sample& sample)
{
    XSync(display, True);
    const auto start = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        execl(program, program, static_cast<char*>(nullptr));
        _exit(127);
    }
    const bool mapped = waitForMap(display, start + std::chrono::seconds(kTimeoutS));
    sample.ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    usleep(kSettleMs * 1000);
    sample.peakKiB = peakKiB(pid);
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return mapped;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc < 4 || argc % 2 != 0) {
        std::fputs("usage: bench_startup RUNS LABEL PROGRAM [LABEL PROGRAM ...]\n", stderr);
        return 2;
    }
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        std::fputs("no X display\n", stderr);
        return 1;
    }
    XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
    const int runs = std::stoi(argv[1]);
    const int programs = (argc - 2) / 2;
    std::vector<std::vector<double>> times(programs);
    std::vector<std::vector<double>> peaks(programs);
    for (int run = 0; run < runs; ++run) {
        for (int p = 0; p < programs; ++p) {
            Sample sample{};
            if (!measure(display, argv[3 + 2 * p], sample)) {
                std::fprintf(stderr, "%s: no window\n", argv[2 + 2 * p]);
                return 1;
            }
            times[p].push_back(sample.ms);
            peaks[p].push_back(static_cast<double>(sample.peakKiB));
        }
    }
    const double baseTime = median(times[0]);
    const double basePeak = median(peaks[0]);
    std::printf("%-28s %12s %8s %14s %8s\n", "program", "start ms", "x base", "peak KiB", "x base");
    for (int p = 0; p < programs; ++p) {
        const double time = median(times[p]);
        const double peak = median(peaks[p]);
        std::printf("%-28s %12.1f %8.2f %14.0f %8.2f\n", argv[2 + 2 * p], time, time / baseTime,
                    peak, peak / basePeak);
    }
    XCloseDisplay(display);
    return 0;
}
