// Not a test: what `marvanecfgutil -L` costs per monitor on emulated machines of 2 and of
// many monitors (the walk must not grow with the square of the devices). Prints one line per
// machine: the fastest of several runs (the least disturbed by other load), that time per
// monitor with and without the cost of a run on a machine without monitors, and at the end
// the cost of each monitor added between the two machines.
//
// "Many" is 49 by default: the umockdev preload tracks at most 50 emulated descriptors at
// once (FD_MAP_MAX in umockdev 0.17), and the program holds one channel per monitor for the
// whole run plus the walk's probe, so 50 monitors abort inside the preload.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/linux/bed_Machine.h"
#include "tests/support/CaptureStdout.h"
#include "tests/support/RunProcess.h"

namespace {

std::vector<sim::SimMonitor> Monitors(size_t count) {
    std::vector<sim::SimMonitor> monitors;
    for (size_t k = 0; k < count; ++k) {
        sim::SimMonitor m = sim::DefaultMonitors()[1];
        wchar_t serial[16];
        std::swprintf(serial, 16, L"41-A%04zu", k + 1);
        m.serial = serial;
        monitors.push_back(m);
    }
    return monitors;
}

// Fastest wall time of -L, in milliseconds.
double ListMs(size_t monitors, int runs, uint64_t& requests) {
    bed::Machine machine(Monitors(monitors));
    if (!machine.ok()) {
        std::fprintf(stderr, "bed: %s\n", machine.error().c_str());
        return -1;
    }
    TempDir dir;
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        const ProcessResult r = RunProcess(BuiltProgram("marvanecfgutil"), {"-L"}, dir.path());
        const auto end = std::chrono::steady_clock::now();
        if (r.exitStatus != (monitors == 0 ? 1 : 0)) {
            std::fprintf(stderr, "-L ended with %d: %s%s\n", r.exitStatus, r.out.c_str(),
                         r.err.c_str());
            return -1;
        }
        times.push_back(std::chrono::duration<double, std::milli>(end - start).count());
    }
    requests = machine.requests() / static_cast<uint64_t>(runs);
    std::sort(times.begin(), times.end());
    return times.front();
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const size_t many = argc > 2 ? static_cast<size_t>(std::max(3, std::atoi(argv[2]))) : 49;
    uint64_t requests = 0;
    const double empty = ListMs(0, runs, requests);
    std::printf("-L, no monitor: %.1f ms (%llu requests to the nodes)\n", empty,
                static_cast<unsigned long long>(requests));
    double totals[2] = {};
    const size_t counts[2] = {2, many};
    for (size_t i = 0; i < 2; ++i) {
        totals[i] = ListMs(counts[i], runs, requests);
        if (totals[i] < 0 || empty < 0) {
            return 1;
        }
        const double n = static_cast<double>(counts[i]);
        std::printf(
            "-L, %zu monitors: %.1f ms, %.2f ms per monitor, %.2f ms per monitor beyond the "
            "machine without monitors (%llu requests)\n",
            counts[i], totals[i], totals[i] / n, (totals[i] - empty) / n,
            static_cast<unsigned long long>(requests));
    }
    std::printf("each monitor added costs %.2f ms\n",
                (totals[1] - totals[0]) / static_cast<double>(counts[1] - counts[0]));
    return 0;
}
