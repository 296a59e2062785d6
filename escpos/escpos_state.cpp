#include "escpos_state.h"

#include "escpos_page.h"

namespace escpos {

EscposState::~EscposState() {
    release_canvas(*this);
    if (pango_layout) g_object_unref(pango_layout);
    if (pango_context) g_object_unref(pango_context);
    if (font_description) pango_font_description_free(font_description);
}

}  // namespace escpos
