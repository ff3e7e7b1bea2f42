// Not a test: what `marvanecfgutil -L` costs per monitor on emulated machines (the walk must
// not grow with the square of the devices). Run:
//   cmake --build build/linux --target bed_bench && build/linux/bin/bed_bench [runs] [many]
// "Many" is at most 49: umockdev 0.17's preload tracks 50 emulated descriptors (FD_MAP_MAX)
// and the program holds one channel per monitor (the walk opens no node of its own).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "tests/linux/bed_Machine.h"
#include "tests/support/CaptureStdout.h"
#include "tests/support/RunProcess.h"

// The fastest of `runs` runs of -L on a machine of `count` monitors, in ms; -1 on failure.
static double ListMs(size_t count, int runs) {
    std::vector<sim::SimMonitor> monitors(count, sim::DefaultMonitors()[1]);
    for (size_t k = 0; k < count; ++k) {
        monitors[k].serial = L"41-A" + std::to_wstring(1000 + k);
    }
    bed::Machine machine(monitors);
    TempDir dir;
    double fastest = machine.ok() ? 1e12 : -1;
    for (int i = 0; machine.ok() && i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        const ProcessResult r = RunProcess(BuiltProgram("marvanecfgutil"), {"-L"}, dir.path());
        const std::chrono::duration<double, std::milli> took =
            std::chrono::steady_clock::now() - start;
        fastest = r.exitStatus == (count == 0 ? 1 : 0) ? std::min(fastest, took.count()) : -1;
    }
    return fastest;
}

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const size_t many = argc > 2 ? static_cast<size_t>(std::clamp(std::atoi(argv[2]), 3, 49)) : 49;
    const double none = ListMs(0, runs), two = ListMs(2, runs), lots = ListMs(many, runs);
    if (none < 0 || two < 0 || lots < 0) {
        return 1;
    }
    std::printf(
        "-L: %.1f ms without monitors, %.1f ms with 2, %.1f ms with %zu; each monitor "
        "added costs %.2f ms\n",
        none, two, lots, many, (lots - two) / double(many - 2));
    return 0;
}
