// selftest_interp: prints the configuration page once and exits (started by
// "/home/create_testpage.sh" when the test page is asked for).
#include "selftest_state.h"

#include "image_builder.h"
#include "settings.h"

#include <cstdio>

// fontconfig keeps (and, parsing its configuration, leaks) memory for the life of the process;
// only the sanitizer builds ask for it.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

int main() {
    SelftestState s;
    // A profile still waiting to be printed: no page.
    if (print_engine_busy(s)) return 0;
    std::printf("selftest_interp, built %s %s\n", __DATE__, __TIME__);
    std::fflush(stdout);
    GlobalDefines g;
    init_global_defines(g);
    g_debug_msg = g.DEBUG_MSG_double == 1 ? 1 : 0;
    init_render_settings(g);
    auto take = [](std::string& into, const std::string& value) {
        if (!value.empty()) into = value;
    };
    SelftestFiles& f = s.files;
    take(f.markup, g.PATH_TO_SETUP_TESTPAGE);
    take(f.dot_images, g.PATH_TO_DOTIMAGE_FILES);
    take(f.bluetooth, g.BT_SETUP_FILEPATH);
    take(f.bt_mac, g.BT_MAC_FILEPATH);
    take(f.network_config, g.NETWORK_CONFIG_FILEPATH);
    take(f.interface_config, g.INTERFACE_CONFIG_FILEPATH);
    take(f.image_config, g.IMAGE_CONFIG_FILEPATH);
    take(f.paper_config, g.PAPER_CONFIG_FILEPATH);
    take(f.slave_version, g.SLAVE_VERSION_FILEPATH);
    take(f.logo_list, g.PATH_TO_LOGO_LIST);
    bool printed = selftest_run(s);
    release_font_resources();
    return printed ? 0 : 1;
}
