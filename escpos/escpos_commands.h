// Handlers that more than their own command family uses.
#pragma once

#include "escpos_state.h"

namespace escpos {

// FF: the page ends in page mode and on mark paper (page family).
void form_feed(EscposState& st);
// ESC @: the page ends and every setting returns to its default (page family).
void initialize_printer(EscposState& st);

}  // namespace escpos
