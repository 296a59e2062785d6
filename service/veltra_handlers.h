// The actions of the service language, grouped by family: set-up and settings (veltra_setup.cpp),
// firmware transfers (veltra_firmware.cpp). The scanner dispatches to them from its table.
#pragma once

#include "veltra_scanner.h"
#include "veltra_state.h"

// Set-up mode and settings.
void veltra_enter_setup(VeltraState& s, const VeltraMatch& m, const VeltraJob& job);
void veltra_leave_setup(VeltraState& s, const VeltraMatch& m, const VeltraJob& job);
void veltra_identity_line(VeltraState& s, const VeltraMatch& m, const VeltraJob& job);
void veltra_clear_head_life(VeltraState& s, const VeltraMatch& m, const VeltraJob& job);
void veltra_paper_sensing(VeltraState& s, const VeltraMatch& m, const VeltraJob& job);
void veltra_wifi_mode(VeltraState& s, const VeltraMatch& m, const VeltraJob& job);
void veltra_contrast(VeltraState& s, const VeltraMatch& m, const VeltraJob& job);
void veltra_factory_defaults(VeltraState& s, const VeltraMatch& m, const VeltraJob& job);
void veltra_accept(VeltraState& s, const VeltraMatch& m, const VeltraJob& job);

// Firmware.
void veltra_tar_enable(VeltraState& s, const VeltraMatch& m, const VeltraJob& job);
void veltra_install_archive_in_job(VeltraState& s, const VeltraMatch& m, const VeltraJob& job);
void veltra_slave_firmware_job(VeltraState& s, const VeltraMatch& m, const VeltraJob& job);

// Draws text at the cursor and moves the cursor down one identity line (30 dots).
void veltra_draw_item(VeltraState& s, const std::string& label, int value_offset, const std::string& value);
