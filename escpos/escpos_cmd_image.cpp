// Bit images, raster images and stored graphics. Their bytes are read here exactly as the
// commands define them, so that the stream stays in step; placing the images on the page is
// done by the image handlers (one function per command below).
#include "escpos_decoder.h"
#include "escpos_input.h"

namespace escpos {

namespace {
// ESC * m nL nH d...: 8-dot modes one byte a column, 24-dot modes three.
void bitimage_input(EscposState& st) {
    int m = param(st);
    if (m != 0 && m != 1 && m != 32 && m != 33) return;
    long k = param(st);
    k += 256L * param(st);
    skip_params(st, k * (m >= 32 ? 3 : 1));
}

// GS v 0 m xL xH yL yH d...: every byte raw.
void raster_image_process(EscposState& st) {
    if (get_new_char(st) != '0') return;
    get_new_char(st);  // m: scaling, recorded only
    long x = get_new_char(st);
    x += 256L * get_new_char(st);
    long y = get_new_char(st);
    y += 256L * get_new_char(st);
    skip_raw(st, x * y);
}

// Reads one byte and says whether it is the expected one.
bool expect(EscposState& st, int want) { return param(st) == want; }

bool key_code(EscposState& st) {
    int k = param(st);
    return k >= 32 && k <= 126;
}

// Width and height of a stored image, then its rows of (width + 7) / 8 bytes.
void image_data(EscposState& st) {
    long w = param(st);
    w += 256L * param(st);
    long h = param(st);
    h += 256L * param(st);
    return skip_params(st, (w + 7) / 8 * h);
}

// GS ( L pL pH m fn ... and GS 8 L p1 p2 p3 p4 m fn ...: a failed condition ends the command
// at the byte that fails.
void graphics(EscposState& st, long l) {
    if (!expect(st, '0')) return;
    int fn = param(st);
    switch (fn) {
    case 0: case '0': case 2: case '2': case 3: case '3':
        return;
    case '@':
        if (l != 4 || !expect(st, 'K')) return;
        expect(st, 'C');
        return;
    case 'A':
        if (l != 5 || !expect(st, 'C') || !expect(st, 'L')) return;
        expect(st, 'R');
        return;
    case 'B':
        if (l != 4 || !key_code(st)) return;
        key_code(st);
        return;
    case 'C':
        if (!expect(st, '0') || !key_code(st) || !key_code(st) || !expect(st, 1)) return;
        {
            long w = param(st);
            w += 256L * param(st);
            long h = param(st);
            h += 256L * param(st);
            if (!expect(st, '1')) return;
            skip_params(st, (w + 7) / 8 * h);
        }
        return;
    case 'E':
        if (!key_code(st) || !key_code(st)) return;
        skip_params(st, 2);
        return;
    case 'p':
        if (!expect(st, '0')) return;
        skip_params(st, 2);  // bx, by
        if (!expect(st, '1')) return;
        image_data(st);
        return;
    default:
        return;
    }
}

void setup_print_graphics_short(EscposState& st) {
    long l = param(st);
    l += 256L * param(st);
    graphics(st, l);
}

// GS 8 L: any other byte after GS 8 is dropped.
void setup_print_graphics_long(EscposState& st) {
    if (param(st) != 'L') return;
    long l = 0;
    for (int i = 0; i < 4; ++i) l += long(param(st)) << (8 * i);
    graphics(st, l);
}

// GS * x y d...
void download_bit_image(EscposState& st) {
    long x = param(st);
    long y = param(st);
    skip_params(st, x * y * 8);
}

void print_download_image(EscposState& st) { param(st); }

// FS p n m
void print_nv_bit_image(EscposState& st) {
    if (param(st) == 0) return;
    param(st);
}

void define_nv_bit_image(EscposState&) {}
}  // namespace

void add_image_commands(CommandTables& t) {
    t.esc['*'] = bitimage_input;
    t.gs['v'] = raster_image_process;
    t.gs_paren['L'] = setup_print_graphics_short;
    t.gs['8'] = setup_print_graphics_long;
    t.gs['*'] = download_bit_image;
    t.gs['/'] = print_download_image;
    t.fs['p'] = print_nv_bit_image;
    t.fs['q'] = define_nv_bit_image;
}

}  // namespace escpos
