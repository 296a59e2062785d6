// engine_cmd: turns a command letter and its arguments into the 7-byte command frame.
#pragma once

#include "command_file.h"

#include <optional>
#include <string>

struct EngineCmdSettings {
    int PRINTHEAD_DPI = 0;
    int PRINTHEAD_DPMM = 0;
    int DEBUG_MSG = 0;
    // device configuration, group Form
    std::string configUnits;
    double configMaxPaperSpeed = 0, configPostFeed = 0, configPreFeed = 0, configMarkSkip = 0;
    double configMarkSeekDistance = 0, configMarkWidth = 0;
    // paper configuration
    int configMarkSeek = 0, configLowBattery = 0, configBatterySleep = 0;
    int configFrontThreshold = 0, configRearThreshold = 0, configGapThreshold = 0;
    // mark configuration (E)
    double mark_to_head = 0, mark_to_cut = 0;
    // label configuration and slave version (N)
    int LabelLength = 0, GapWidth = 0, Sensorthreshold = 0;
    std::string slaveVersion;
};

// Reads the key files a command needs (the mark, label and slave-version files only for E and N).
EngineCmdSettings load_engine_cmd_settings(char letter);

// The frame for the letter, or nothing when no file is to be written (unknown letter, or N while
// the slave firmware does not take it).
std::optional<CommandFrame> engine_cmd_frame(char letter, const char* arg2, const char* arg3,
                                             const EngineCmdSettings& s);

// The maximum paper speed byte of M, in tenths of an inch per second.
uint8_t paper_speed_byte(const EngineCmdSettings& s);
