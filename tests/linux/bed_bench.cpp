// Not a test: what `marvanecfgutil -L` costs per monitor on emulated machines of 2 and of
// many monitors (the walk must not grow with the square of the devices). Run:
//   cmake --build build/linux --target bed_bench && build/linux/bin/bed_bench [runs] [many]
// Prints the fastest of several runs (the least disturbed by other load) for a machine
// without monitors, with 2 and with many, and the cost of each monitor added between them.
//
// "Many" is 49 by default: the umockdev preload tracks at most 50 emulated descriptors at
// once (FD_MAP_MAX in umockdev 0.17), and the program holds one channel per monitor for the
// whole run plus the walk's probe, so 50 monitors abort inside the preload.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "tests/linux/bed_Machine.h"
#include "tests/support/CaptureStdout.h"
#include "tests/support/RunProcess.h"

namespace {

// Fastest wall time of -L in milliseconds (-1 when a run fails), and requests per run.
double ListMs(size_t count, int runs, uint64_t& requests) {
    std::vector<sim::SimMonitor> monitors(count, sim::DefaultMonitors()[1]);
    for (size_t k = 0; k < count; ++k) {
        monitors[k].serial = L"41-A" + std::to_wstring(1000 + k);
    }
    bed::Machine machine(monitors);
    TempDir dir;
    double fastest = 1e12;
    for (int i = 0; machine.ok() && i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        const ProcessResult r = RunProcess(BuiltProgram("marvanecfgutil"), {"-L"}, dir.path());
        const std::chrono::duration<double, std::milli> took =
            std::chrono::steady_clock::now() - start;
        if (r.exitStatus != (count == 0 ? 1 : 0)) {
            std::fprintf(stderr, "-L ended with %d: %s%s\n", r.exitStatus, r.out.c_str(),
                         r.err.c_str());
            return -1;
        }
        fastest = std::min(fastest, took.count());
    }
    requests = machine.requests() / static_cast<uint64_t>(runs);
    return machine.ok() ? fastest : -1;
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const size_t many = argc > 2 ? static_cast<size_t>(std::max(3, std::atoi(argv[2]))) : 49;
    double ms[3] = {};
    const size_t counts[3] = {0, 2, many};
    for (size_t i = 0; i < 3; ++i) {
        uint64_t requests = 0;
        ms[i] = ListMs(counts[i], runs, requests);
        if (ms[i] < 0) {
            return 1;
        }
        std::printf(
            "-L, %zu monitors: %.1f ms, %.2f ms per monitor beyond the machine without "
            "monitors (%llu requests to the nodes)\n",
            counts[i], ms[i], i == 0 ? 0.0 : (ms[i] - ms[0]) / double(counts[i]),
            static_cast<unsigned long long>(requests));
    }
    std::printf("each monitor added costs %.2f ms\n", (ms[2] - ms[1]) / double(many - 2));
    return 0;
}
