// Making an interpreter state: the text renderer it draws with and its default hooks.
#pragma once

#include "escpos_state.h"

#include <memory>
#include <string>

namespace escpos {

// A fresh state: settings at their built-in defaults (as with missing key files), the pango
// context of the head's resolution, fonts as given (may be null: blank dot glyphs), the shell
// hook running fixed command lines, dot images handed to the print engine. The caller sets
// the input and anything else, then calls start_decoding().
std::unique_ptr<EscposState> make_state(std::shared_ptr<const DotFonts> fonts, int dpi = 203);

// Points every file and folder the interpreter reads or writes below `folder` (home/, usr/, tmp/,
// home/nv_graphics/), creating them: for tools, tests, fuzzing and benchmarks off the device.
void point_files_at(Environment& env, const std::string& folder);

// The process-wide pango font map at the head's resolution (made on first use).
PangoFontMap* escpos_font_map(int dpi);
// Frees the font map (for a clean exit of tests and tools).
void release_escpos_fonts();

}  // namespace escpos
