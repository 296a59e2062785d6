// The whole state of the ZPL interpreter as a freshly started zpl_interp has it, for the tests,
// the fuzz targets and the benchmark, which run many jobs in one process and must not let one job
// change what the next one does or costs.
#pragma once

#include <string>

// Settings (the built-in defaults, as with a missing settings file), font table, pending field,
// label and page state, numbered fields, stored-format replay, the input ring and the bytes put
// back in front of it, the lexer's parameter text, and the rendering library's state
// (render_fresh_state). Folders, hooks and stored objects on disk stay as they are.
void zpl_fresh_state();

// Every device path the interpreter and the rendering library read or write (engine intake, dot
// image intake, contrast trigger, stored formats and graphics of both devices, pictures, settings
// file, paper file, scratch barcode file) moved below root. The dot image and trigger folders are
// created; the object folders are made when the first object is stored, as on the device.
void zpl_use_folders_under(const std::string& root);
