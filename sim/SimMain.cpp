// marvanecfgutil-sim: the product, unchanged, on simulated monitors kept in a state file in
// the current directory (see sim/README.md). Its run lock is a file beside the state file
// (sim/SimRunLock.cpp), so runs in one directory take turns and other directories never wait.
#include "app/Driver.h"
#include "sim/SimState.h"
#include "sim/SimWalks.h"

int main(int argc, char* argv[]) {
    return sim::RunSimSession(".", argc, argv, [](int count, char* arguments[]) {
        return RunCfgUtil(count, arguments, sim::Walks());
    });
}
