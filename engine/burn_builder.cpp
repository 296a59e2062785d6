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

    int failed = write_all_burn_tables(in, "", "burn_builder");

    run_shell("sync");
    unlink("/burntables/busy");
    run_shell("sync");
    return failed ? 1 : 0;
}
