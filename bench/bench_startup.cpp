// Time from start to the first paint of a window and to its map, and the peak memory then, for
// several programs measured side by side (runs interleaved) on the X server of $DISPLAY, without
// a window manager. The first paint is the first damage reported on the window after it maps,
// so fonts and contents that a program loads after mapping are counted too. Each ratio to the
// yardstick comes with the 90% interval that resampling the runs gives it: on a virtual machine
// the start varies by half between runs, and the interval says how far to trust a median.
// Usage: bench_startup RUNS LABEL PROGRAM [LABEL PROGRAM ...]; the first is the yardstick.
// BENCH_BEFORE_EACH, when set, is a shell command run, untimed, before each run of each program.
#include <X11/Xlib.h>
#include <X11/extensions/Xdamage.h>
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <sys/select.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kSettleMs = 300;
constexpr int kTimeoutS = 20;
constexpr int kResamples = 2000;
constexpr double kIntervalTail = 0.05;

struct Sample {
    double mappedMs = 0;
    double paintedMs = 0;
    double peakKiB = 0;
};

double peakKiB(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) {
            return std::stod(line.substr(6));
        }
    }
    return -1;
}

// Windows come and go while they are followed: errors about vanished ones are expected.
int ignoreErrors(Display* /*display*/, XErrorEvent* /*error*/)
{
    return 0;
}

double msSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Follows the top-level windows being created, mapped and damaged until one is painted.
bool waitForPaint(Display* display, int damageEvent, Clock::time_point start, Sample& sample)
{
    const int fd = ConnectionNumber(display);
    std::vector<Damage> damages;
    Window mapped = None;
    bool painted = false;
    while (!painted && Clock::now() < start + std::chrono::seconds(kTimeoutS)) {
        while (!painted && XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == CreateNotify && event.xcreatewindow.override_redirect == False) {
                damages.push_back(
                    XDamageCreate(display, event.xcreatewindow.window, XDamageReportNonEmpty));
            } else if (event.type == MapNotify && event.xmap.override_redirect == False &&
                       mapped == None) {
                mapped = event.xmap.window;
                sample.mappedMs = msSince(start);
            } else if (event.type == damageEvent + XDamageNotify) {
                const auto& damage = reinterpret_cast<const XDamageNotifyEvent&>(event);
                if (damage.drawable == mapped) {
                    sample.paintedMs = msSince(start);
                    painted = true;
                }
                XDamageSubtract(display, damage.damage, None, None);
            }
        }
        fd_set read;
        FD_ZERO(&read);
        FD_SET(fd, &read);
        timeval wait{0, 1000};
        select(fd + 1, &read, nullptr, nullptr, &wait);
    }
    for (const Damage damage : damages) {
        XDamageDestroy(display, damage);
    }
    return painted;
}

bool measure(Display* display, int damageEvent, const char* program, Sample& sample)
{
    XSync(display, True);
    const auto start = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        std::freopen("/dev/null", "w", stderr);
        execl(program, program, static_cast<char*>(nullptr));
        _exit(127);
    }
    const bool painted = waitForPaint(display, damageEvent, start, sample);
    usleep(kSettleMs * 1000);
    sample.peakKiB = peakKiB(pid);
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    XSync(display, True);
    return painted;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

using Field = double Sample::*;

double medianOf(const std::vector<Sample>& samples, Field field)
{
    std::vector<double> values;
    values.reserve(samples.size());
    for (const Sample& sample : samples) {
        values.push_back(sample.*field);
    }
    return median(values);
}

struct Interval {
    double low = 0;
    double high = 0;
};

// The 90% bootstrap interval of median(program) / median(yardstick). Runs are drawn whole, both
// programs' samples of a run together, since interleaved runs share the machine's mood.
Interval ratioInterval(const std::vector<Sample>& program, const std::vector<Sample>& yardstick,
                       Field field)
{
    std::mt19937 generator(1);
    std::uniform_int_distribution<std::size_t> pick(0, program.size() - 1);
    std::vector<Sample> drawnProgram(program.size());
    std::vector<Sample> drawnYardstick(program.size());
    std::vector<double> ratios;
    ratios.reserve(kResamples);
    for (int resample = 0; resample < kResamples; ++resample) {
        for (std::size_t i = 0; i < program.size(); ++i) {
            const std::size_t run = pick(generator);
            drawnProgram[i] = program[run];
            drawnYardstick[i] = yardstick[run];
        }
        ratios.push_back(medianOf(drawnProgram, field) / medianOf(drawnYardstick, field));
    }
    std::sort(ratios.begin(), ratios.end());
    const auto tail = static_cast<std::size_t>(kIntervalTail * kResamples);
    return {ratios[tail], ratios[ratios.size() - 1 - tail]};
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc < 4 || argc % 2 != 0) {
        std::fputs("usage: bench_startup RUNS LABEL PROGRAM [LABEL PROGRAM ...]\n", stderr);
        return 2;
    }
    Display* display = XOpenDisplay(nullptr);
    int damageEvent = 0;
    int damageError = 0;
    if (display == nullptr || !XDamageQueryExtension(display, &damageEvent, &damageError)) {
        std::fputs("no X display with the DAMAGE extension\n", stderr);
        return 1;
    }
    XSetErrorHandler(ignoreErrors);
    XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
    const int runs = std::stoi(argv[1]);
    const auto programs = static_cast<std::size_t>((argc - 2) / 2);
    std::vector<std::vector<Sample>> samples(programs);
    const char* before = std::getenv("BENCH_BEFORE_EACH");
    for (int run = 0; run < runs; ++run) {
        for (std::size_t p = 0; p < programs; ++p) {
            if (before != nullptr && std::system(before) != 0) {
                std::fprintf(stderr, "BENCH_BEFORE_EACH failed\n");
                return 1;
            }
            Sample sample;
            if (!measure(display, damageEvent, argv[3 + 2 * p], sample)) {
                std::fprintf(stderr, "%s: no painted window\n", argv[2 + 2 * p]);
                return 1;
            }
            samples[p].push_back(sample);
        }
    }
    // The first paint leads: it is what a person sees; the map comes before any pixel is shown.
    std::printf("median of %d runs       painted ms  x base   (90%%)      mapped ms  x base   "
                "(90%%)      peak KiB  x base\n",
                runs);
    const double baseMapped = medianOf(samples[0], &Sample::mappedMs);
    const double basePainted = medianOf(samples[0], &Sample::paintedMs);
    const double basePeak = medianOf(samples[0], &Sample::peakKiB);
    for (std::size_t p = 0; p < programs; ++p) {
        const double mapped = medianOf(samples[p], &Sample::mappedMs);
        const double painted = medianOf(samples[p], &Sample::paintedMs);
        const double peak = medianOf(samples[p], &Sample::peakKiB);
        const Interval mappedRange = ratioInterval(samples[p], samples[0], &Sample::mappedMs);
        const Interval paintedRange = ratioInterval(samples[p], samples[0], &Sample::paintedMs);
        std::printf("%-24s %10.1f %7.2f %4.2f-%4.2f %10.1f %7.2f %4.2f-%4.2f %10.0f %7.2f\n",
                    argv[2 + 2 * p], painted, painted / basePainted, paintedRange.low,
                    paintedRange.high, mapped, mapped / baseMapped, mappedRange.low,
                    mappedRange.high, peak, peak / basePeak);
    }
    XCloseDisplay(display);
    return 0;
}
