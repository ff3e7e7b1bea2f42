// Not a test: what `marvanecfgutil -L` costs per monitor on emulated machines (the walk must
// not grow with the square of the devices), and what --check costs against an update. Run:
//   cmake --build build/linux --target bed_bench && build/linux/bin/bed_bench [runs] [many]
// "Many" is at most 49: umockdev 0.17's preload tracks 50 emulated descriptors (FD_MAP_MAX)
// and the program holds one channel per monitor (the walk opens no node of its own).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "sim/SimState.h"
#include "tests/linux/bed_Machine.h"
#include "tests/support/ConsoleAndFiles.h"
#include "tests/support/RunProcess.h"

// The fastest of `runs` runs of the command line on a machine of `count` monitors, in ms;
// -1 when a run ends with another status. "{ini}" stands for a file of factory settings.
static double RunMs(size_t count, int runs, std::vector<std::string> arguments, int status) {
    std::vector<sim::SimMonitor> monitors(count, sim::DefaultMonitors()[1]);
    for (size_t k = 0; k < count; ++k) {
        monitors[k].serial = L"41-A" + std::to_wstring(1000 + k);
    }
    bed::Machine machine(monitors);
    TempDir dir;
    const std::string ini = dir.file("site.ini");
    for (std::string& word : arguments) {
        word = word == "{ini}" ? ini : word;
    }
    WriteFileBytes(dir.file(sim::kStateFileName), "monitor 41-A0001\n");
    RunProcess(BuiltProgram("marvanecfgutil-sim"), {"-g", ini}, dir.path());
    double fastest = machine.ok() ? 1e12 : -1;
    for (int i = 0; machine.ok() && i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        const ProcessResult r = RunProcess(BuiltProgram("marvanecfgutil"), arguments, dir.path());
        const std::chrono::duration<double, std::milli> took =
            std::chrono::steady_clock::now() - start;
        fastest = r.exitStatus == status ? std::min(fastest, took.count()) : -1;
    }
    return fastest;
}

static double ListMs(size_t count, int runs) {
    return RunMs(count, runs, {"-L"}, count == 0 ? 1 : 0);
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

    // The defaults file against monitors that hold the defaults: a check asks each one for
    // its configuration; an update (one monitor, one run: it waits 11 s) writes it.
    const double checkOne = RunMs(1, runs, {"--check", "{ini}"}, 0);
    const double checkMany = RunMs(many, runs, {"--check", "{ini}"}, 0);
    const double updateOne = RunMs(1, 1, {"-i", "{ini}"}, 0);
    const double skipOne = RunMs(1, runs, {"--if-needed", "-i", "{ini}"}, 0);
    if (checkOne < 0 || checkMany < 0 || updateOne < 0 || skipOne < 0) {
        return 1;
    }
    std::printf(
        "--check: %.1f ms with 1 monitor, %.1f ms with %zu (%.2f ms a monitor added); "
        "-i: %.1f ms with 1; -i --if-needed on a matching monitor: %.1f ms\n",
        checkOne, checkMany, many, (checkMany - checkOne) / double(many - 1), updateOne, skipOne);
    return 0;
}
