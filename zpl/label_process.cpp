#include "label_process.h"

#include "image_builder.h"
#include "keyfile.h"
#include "render_symbols.h"
#include "settings.h"
#include "zpl_input.h"
#include "zpl_objects.h"

#include <pthread.h>

#include <cerrno>
#include <cstdio>

namespace {
std::string or_default(const std::string& v, const char* fallback) { return v.empty() ? fallback : v; }

// Paper mode and the default darkness; the left margin of the device configuration in dots.
void update_setup_variables(const GlobalDefines& g) {
    load_render_image_config(or_default(g.IMAGE_CONFIG_FILEPATH, "/imageConfig/image_config.cfg"));
    std::string units = read_units();
    KeyFile form(device_config_path(units.empty() ? "inch" : units));
    double margin = form.get_double("Form", "configLeftMargin");
    currentLeftMargin = units == "mm" ? margin * PRINTHEAD_DPI / 25.4 : margin * PRINTHEAD_DPI;
}

void read_paper_constants() {
    currentMarkSeek = key_int(PAPER_CONFIG_FILEPATH, "Paper", "configMarkSeek");
    currentContrast.store(get_default_contrast());
}

void get_label_config() { currentLabelLength = key_int("/home/label_config.cfg", "LabelConfig", "LabelLength"); }
}  // namespace

int run_label_interpreter(const LabelDialect& dialect, void* (*command_thread)(void*)) {
    std::printf("%s, built %s %s\n", dialect.program, __DATE__, __TIME__);
    std::fflush(stdout);
    label_dialect = &dialect;
    symbols_turn_about_origin = dialect.symbols_turn_about_origin;
    GlobalDefines g;
    init_global_defines(g);
    g_debug_msg = g.DEBUG_MSG_double == 1 ? 1 : 0;
    init_render_settings(g);
    init_object_folders(g);
    ENGINE_INTAKE_FOLDER = or_default(g.ENGINE_INTAKE_FOLDER, "/tmp/engine_intake");
    ZPL_CONFIG_FILE = dialect.settings_file_configurable ? or_default(g.ZPL_CONFIG_FILE, dialect.settings_file)
                                                         : dialect.settings_file;

    update_setup_variables(g);
    read_paper_constants();
    update_font_table();
    update_zpl_emu(ZPL_CONFIG_FILE);
    reset_text_defaults();
    reset_position_defaults();
    reset_barcode_defaults();
    get_label_config();
    init_data_inbuf();
    global_number_of_copies = 0;
    // Job files are read as they are unless the dialect converts them (configEncoding).
    if (dialect.convert_jobs) load_image_config(or_default(g.IMAGE_CONFIG_FILEPATH, "/imageConfig/image_config.cfg"));

    pthread_t intake{}, commands{};
    auto start_thread = [](pthread_t& t, void* (*body)(void*)) {
        int rc = pthread_create(&t, nullptr, body, nullptr);
        if (rc != 0) {
            errno = rc;
            std::perror("Thread creation failed");
        }
        return rc == 0;
    };
    bool have_intake = start_thread(intake, main_emulation_job_intake_pthrd);
    bool have_commands = start_thread(commands, command_thread);
    if (have_intake) pthread_join(intake, nullptr);
    if (have_commands) pthread_join(commands, nullptr);
    return 0;
}
