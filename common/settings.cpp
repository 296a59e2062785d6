#include "settings.h"

#include "keyfile.h"

#include <cstdarg>
#include <cstdio>

int g_debug_msg = 0;

void dbg(const char* fmt, ...) {
    if (g_debug_msg != 1) return;
    va_list ap;
    va_start(ap, fmt);
    std::vprintf(fmt, ap);
    va_end(ap);
    std::fflush(stdout);
}

void init_global_defines(GlobalDefines& g, const std::string& path) {
    KeyFile kf(path);
    auto s = [&](const char* group, const char* key) { return kf.get_string(group, key); };
#define FP(name) g.name = s("FilePaths", #name)
    FP(PATH_TO_JOB_INTAKE); FP(PATH_TO_JOB_REPRINT); FP(PATH_TO_EMU_INTAKE); FP(EMULATION_LIST_FILEPATH);
    FP(ENGINE_INTAKE_FOLDER); FP(IMAGE_CONFIG_FILEPATH); FP(IMAGE_CONFIG_FOLDER);
    FP(NETWORK_CONFIG_FILEPATH); FP(NETWORK_CONFIG_FOLDER); FP(INTERFACE_CONFIG_FILEPATH);
    FP(BT_SETUP_FILEPATH); FP(BT_MAC_FILEPATH); FP(PAPER_CONFIG_FILEPATH);
    FP(PATH_TO_DOTIMAGE_FILES); FP(PATH_TO_DOTIMAGE); FP(PATH_TO_DOTIMAGE_TEMP);
    FP(IMSTART_INTAKE_FOLDER); FP(IMSTART_TRIGGER_FILENAME);
    FP(PATH_TO_PROFILER_INTAKE); FP(PROFILER_OUTPUT_FILEPATH); FP(TEMPERATURE_FILENAME); FP(PRINTHEAD_CONFIG_FILENAME);
    FP(PATH_TO_BURNTABLES); FP(PATH_TO_BURNTABLES_BATTERY); FP(BURNTABLES_FILEPATH);
    FP(PATH_TO_COMMAND_INTAKE); FP(PATH_TO_SLAVE_RSP); FP(SLAVE_VERSION_FILEPATH);
    FP(PATH_TO_BARCODE_SVG); FP(PATH_TO_LOGO_LIST); FP(PATH_TO_LOGO_WEB_TABLE); FP(PATH_TO_FONT_NAMES); FP(PATH_TO_FONT_WEB_TABLE);
    FP(PATH_TO_FORMATS); FP(PATH_TO_GRAPHICS); FP(PATH_TO_RAM_FORMATS); FP(PATH_TO_RAM_GRAPHICS); FP(ZPL_CONFIG_FILE);
    FP(PATH_TO_SETUP_TESTPAGE); FP(PATH_TO_QUORVEL_FONT_MAP);
#undef FP
    g.HOST_RESPONSE_PIPE_FILEPATH = s("Named Pipes", "HOST_RESPONSE_PIPE_FILEPATH");
    g.IMAGE_LIST_PIPE = s("Named Pipes", "IMAGE_LIST_PIPE");
    g.CPCL_FONT_MAP = s("Font Maps", "CPCL_FONT_MAP");

    g.PRINTHEAD_DOT_WIDTH = kf.get_int("Hardware", "PRINTHEAD_DOT_WIDTH");
    g.PRINTHEAD_BYTE_WIDTH = kf.get_int("Hardware", "PRINTHEAD_BYTE_WIDTH");
    g.PRINTHEAD_DPI = kf.get_int("Hardware", "PRINTHEAD_DPI");
    g.PRINTHEAD_DPI_double = kf.get_double("Hardware", "PRINTHEAD_DPI");
    g.PRINTHEAD_DPMM = kf.get_int("Hardware", "PRINTHEAD_DPMM");
    g.PRINTER_GADGET_FILE = s("Hardware", "PRINTER_GADGET_FILE");
    g.ZAD_BLUETOOTH_DEV_FILE = s("Hardware", "ZAD_BLUETOOTH_DEV_FILE");
    g.SLAVE_HSS_DEV_NAME = s("Hardware", "SLAVE_HSS_DEV_NAME");
    g.SLAVE_CMD_PORT_NAME = s("Hardware", "SLAVE_CMD_PORT_NAME");
    g.ABORT_GPIO_NUMBER = kf.get_int("Hardware", "ABORT_GPIO_NUMBER");
    g.ATTN_GPIO_NUMBER = kf.get_int("Hardware", "ATTN_GPIO_NUMBER");
    g.SLAVE_RTS_GPIO_NUMBER = kf.get_int("Hardware", "SLAVE_RTS_GPIO_NUMBER");

    g.SUCCESS = kf.get_int("Misc", "SUCCESS");
    g.FAILURE = kf.get_int("Misc", "FAILURE");
    g.EQUAL = kf.get_int("Misc", "EQUAL");
    g.DEBUG_MSG = kf.get_int("Misc", "DEBUG_MSG");
    g.DEBUG_MSG_double = kf.get_double("Misc", "DEBUG_MSG");
    g.MAGIC_CPI_NUMERATOR = kf.get_double("Misc", "MAGIC_CPI_NUMERATOR");
    g.IMAGE_PADDING = kf.get_double("Misc", "IMAGE_PADDING");
    g.CPCL_HEIGHT_SCALER = kf.get_double("Misc", "CPCL_HEIGHT_SCALER");
    g.QUORVEL_LINE_DEVISOR = kf.get_double("Misc", "QUORVEL_LINE_DEVISOR");
    g.PRINTHEAD_PIXEL_TO_POINT = kf.get_double("Misc", "PRINTHEAD_PIXEL_TO_POINT");
    g.POINT_TO_PRINTHEAD_PIXEL = kf.get_double("Misc", "POINT_TO_PRINTHEAD_PIXEL");
}

std::string read_units(const std::string& units_file) {
    return key_string(units_file, "units", "UNITS");
}

std::string device_config_path(const std::string& units) { return "/home/" + units + "_device_config.cfg"; }

std::string mark_config_path(const std::string& units) { return "/home/" + units + "_mark_config.cfg"; }

std::string units_file_in(const std::string& folder) { return folder + "/device_config_units.cfg"; }

std::string device_config_path_in(const std::string& folder, const std::string& units) {
    return folder + "/" + units + "_device_config.cfg";
}
