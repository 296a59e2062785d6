// Build tool: computes the burn tables that the device image ships, exactly as burn_builder does
// on the printer, from the image's print head and paper files.
//   burn_tables_gen PRINTHEAD_CFG PAPER_CFG OUT_ROOT
// writes OUT_ROOT/burntables/burntables0..9.csv and OUT_ROOT/burntables_battery/burntables0..9.csv.
#include "burn_tables.h"

#include <cstdio>
#include <string>
#include <sys/stat.h>

using namespace engine;

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: burn_tables_gen PRINTHEAD_CFG PAPER_CFG OUT_ROOT\n");
        return 2;
    }
    BurnInputs in = read_burn_inputs(argv[1], argv[2]);
    const std::string root = argv[3];
    mkdir(root.c_str(), 0755);
    for (const char* folder : {"/burntables", "/burntables_battery"}) mkdir((root + folder).c_str(), 0755);
    int failed = write_all_burn_tables(in, root, "burn_tables_gen");
    return failed ? 1 : 0;
}
