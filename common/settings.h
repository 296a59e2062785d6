// Shared settings: /home/globalDefines.cfg and the unit-dependent configuration paths.
#pragma once

#include <string>

inline constexpr const char* GLOBAL_DEFINES_PATH = "/home/globalDefines.cfg";
inline constexpr const char* DEVICE_CONFIG_UNITS_PATH = "/home/device_config_units.cfg";

// The keys of /home/globalDefines.cfg that more than one program reads. Programs copy what
// they need into their own process-wide variables.
struct GlobalDefines {
    // FilePaths
    std::string PATH_TO_JOB_INTAKE, PATH_TO_JOB_REPRINT, PATH_TO_EMU_INTAKE, EMULATION_LIST_FILEPATH;
    std::string ENGINE_INTAKE_FOLDER, IMAGE_CONFIG_FILEPATH, IMAGE_CONFIG_FOLDER;
    std::string NETWORK_CONFIG_FILEPATH, NETWORK_CONFIG_FOLDER, INTERFACE_CONFIG_FILEPATH;
    std::string BT_SETUP_FILEPATH, BT_MAC_FILEPATH, PAPER_CONFIG_FILEPATH;
    std::string PATH_TO_DOTIMAGE_FILES, PATH_TO_DOTIMAGE, PATH_TO_DOTIMAGE_TEMP;
    std::string IMSTART_INTAKE_FOLDER, IMSTART_TRIGGER_FILENAME;
    std::string PATH_TO_PROFILER_INTAKE, PROFILER_OUTPUT_FILEPATH, TEMPERATURE_FILENAME, PRINTHEAD_CONFIG_FILENAME;
    std::string PATH_TO_BURNTABLES, PATH_TO_BURNTABLES_BATTERY, BURNTABLES_FILEPATH;
    std::string PATH_TO_COMMAND_INTAKE, PATH_TO_SLAVE_RSP, SLAVE_VERSION_FILEPATH;
    std::string PATH_TO_BARCODE_SVG, PATH_TO_LOGO_LIST, PATH_TO_LOGO_WEB_TABLE, PATH_TO_FONT_NAMES, PATH_TO_FONT_WEB_TABLE;
    std::string PATH_TO_FORMATS, PATH_TO_GRAPHICS, PATH_TO_RAM_FORMATS, PATH_TO_RAM_GRAPHICS, ZPL_CONFIG_FILE;
    std::string PATH_TO_SETUP_TESTPAGE, PATH_TO_QUORVEL_FONT_MAP;
    // Named Pipes, Font Maps
    std::string HOST_RESPONSE_PIPE_FILEPATH, IMAGE_LIST_PIPE, CPCL_FONT_MAP;
    // Hardware
    int PRINTHEAD_DOT_WIDTH = 0, PRINTHEAD_BYTE_WIDTH = 0, PRINTHEAD_DPI = 0, PRINTHEAD_DPMM = 0;
    double PRINTHEAD_DPI_double = 0;
    std::string PRINTER_GADGET_FILE, ZAD_BLUETOOTH_DEV_FILE, SLAVE_HSS_DEV_NAME, SLAVE_CMD_PORT_NAME;
    int ABORT_GPIO_NUMBER = 0, ATTN_GPIO_NUMBER = 0, SLAVE_RTS_GPIO_NUMBER = 0;
    // Misc
    int SUCCESS = 0, FAILURE = 0, EQUAL = 0;
    int DEBUG_MSG = 0;
    double DEBUG_MSG_double = 0;
    double MAGIC_CPI_NUMERATOR = 0, IMAGE_PADDING = 0, CPCL_HEIGHT_SCALER = 0, QUORVEL_LINE_DEVISOR = 0;
    double PRINTHEAD_PIXEL_TO_POINT = 0, POINT_TO_PRINTHEAD_PIXEL = 0;
};

// Reads every key above; a missing file leaves empty strings and zeros.
void init_global_defines(GlobalDefines& g, const std::string& path = GLOBAL_DEFINES_PATH);

// Diagnostics: printed on standard output only when DEBUG_MSG is 1 (set by the program).
extern int g_debug_msg;
void dbg(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// `UNITS` of group units in /home/device_config_units.cfg ("inch" or "mm"; may be empty).
std::string read_units(const std::string& units_file = DEVICE_CONFIG_UNITS_PATH);
// "/home/<units>_device_config.cfg" and "/home/<units>_mark_config.cfg".
std::string device_config_path(const std::string& units);
std::string mark_config_path(const std::string& units);
// The same names built from a folder: "%s/device_config_units.cfg", "%s/%s_device_config.cfg".
std::string units_file_in(const std::string& folder);
std::string device_config_path_in(const std::string& folder, const std::string& units);
