// burn_builder: computes the ten mains and the ten battery burn tables from the print head and
// paper constants. "/burntables/busy" exists while the tables are rewritten.
#include "burn_tables.h"
#include "run.h"
#include "settings.h"

#include <cstdio>
#include <string>
#include <unistd.h>

using namespace engine;

int main() {
    run_shell("echo 1 > /burntables/busy");
    run_shell("sync");

    GlobalDefines g;
    init_global_defines(g);
    g_debug_msg = g.DEBUG_MSG;
    BurnInputs in = read_burn_inputs(g.PRINTHEAD_CONFIG_FILENAME, g.PAPER_CONFIG_FILEPATH);
    dbg("burn_builder: %s E25=%f Tclt25=%f Tcgt25=%f Vp=%f\n", g.BURNTABLES_FILEPATH.c_str(), in.e25, in.tclt25,
        in.tcgt25, in.vp);

    int failed = 0;
    struct Set {
        const char* folder;
        double vp;
        const double* factors;
        int classes;
    } sets[] = {{"/burntables", in.vp, mains_temp_factor, MAINS_CLASSES},
                {"/burntables_battery", BATTERY_VP, battery_temp_factor, BATTERY_CLASSES}};
    for (const Set& set : sets) {
        for (int k = 0; k < 10; ++k) {
            std::string path = std::string(set.folder) + "/burntables" + std::to_string(k) + ".csv";
            if (!write_burn_table(path, in, k, set.vp, set.factors, set.classes)) {
                std::perror(("burn_builder: can't write " + path).c_str());
                ++failed;
            }
        }
    }

    run_shell("sync");
    unlink("/burntables/busy");
    run_shell("sync");
    return failed ? 1 : 0;
}
