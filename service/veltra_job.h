// One job of the service language, from the job file to the dot image (or the idle command).
#pragma once

#include "veltra_state.h"

#include <string>

// The page settings of the rendering library from the key files: image configuration, left
// margin, paper mode, contrast and label length.
void veltra_load_settings(VeltraState& s);

// Takes one job file of the engine intake: an armed archive installation takes it whole;
// otherwise it is scanned from the cursor (10, 0), and when identity lines were ever drawn the page
// becomes a dot image, else "/root/engine_cmd B 0" tells the slave the printer is idle. The job
// file is deleted. After an installation s.parked is set: the printer is restarting.
void veltra_process_job(VeltraState& s, const std::string& path);
