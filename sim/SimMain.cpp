// marvanecfgutil-sim: the product, unchanged, on simulated monitors kept in a state file in
// the current directory (see sim/README.md).
#include "app/Driver.h"
#include "sim/SimState.h"

int main(int argc, char* argv[]) {
    return sim::RunSimSession(".", argc, argv, RunCfgUtil);
}
