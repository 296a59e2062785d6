// Graphics: stored logos, bitmaps (COMPRESSED-GRAPHICS), PCX pictures, boxes and lines. Pictures
// are decoded in this process; their bytes are read from the input right after their line, and a
// picture beyond what is drawn is read and dropped so that the commands after it still work.
#include "cpcl_commands.h"
#include "cpcl_input.h"

#include "image_builder.h"
#include "render_shapes.h"

#include <glib.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace cpcl {

namespace {
constexpr long CG_MAX_WIDTH = 256;               // bytes of one row (2048 dots)
constexpr long PICTURE_MAX_ROWS = MAX_PAGE_ROWS;
constexpr long PCX_MAX_WIDTH = 4096;             // dots
constexpr long PCX_MAX_DECODED = 8L * 1024 * 1024;  // bytes of scan lines
constexpr size_t PCX_HEADER = 128;
constexpr size_t PCX_PALETTE = 769;  // 0x0C and 256 colours after the scan lines

unsigned u16(const std::string& b, size_t at) {
    return static_cast<uint8_t>(b[at]) | unsigned(static_cast<uint8_t>(b[at + 1])) << 8;
}

struct PcxHeader {
    long width = 0, lines = 0, bytes_per_line = 0, planes = 0, bits = 0;
    long decoded() const { return lines * bytes_per_line * planes; }
    bool drawable() const {
        return width >= 1 && width <= PCX_MAX_WIDTH && lines >= 1 && lines <= PICTURE_MAX_ROWS &&
               bytes_per_line >= 1 && bytes_per_line <= 8192 && planes >= 1 && planes <= 4 &&
               (bits == 1 || bits == 8) && bytes_per_line * 8 >= width * (bits == 8 ? 8 : 1) &&
               decoded() <= PCX_MAX_DECODED;
    }
};

PcxHeader pcx_header(const std::string& b) {
    PcxHeader h;
    if (b.size() < PCX_HEADER || static_cast<uint8_t>(b[0]) != 0x0A) return h;
    long xmin = u16(b, 4), ymin = u16(b, 6), xmax = u16(b, 8), ymax = u16(b, 10);
    h.width = xmax >= xmin ? xmax - xmin + 1 : 0;
    h.lines = ymax >= ymin ? ymax - ymin + 1 : 0;
    h.bits = static_cast<uint8_t>(b[3]);
    h.planes = static_cast<uint8_t>(b[65]);
    h.bytes_per_line = u16(b, 66);
    return h;
}

// A PCX file from the input: the header, then run-length coded scan lines until the picture is
// complete (a byte with its two top bits set repeats the next byte that many times, up to 63), then
// for 256-colour pictures the palette. The bytes as read, or none when the picture is not drawn.
std::string read_pcx(CpclState& s) {
    std::string raw;
    for (size_t i = 0; i < PCX_HEADER; ++i) {
        int c = next_byte(s);
        if (c < 0) return {};
        raw.push_back(static_cast<char>(c));
    }
    PcxHeader h = pcx_header(raw);
    bool keep = h.drawable();
    long long total = (long long)h.lines * h.bytes_per_line * h.planes;
    long long decoded = 0;
    while (decoded < total) {
        int c = next_byte(s);
        if (c < 0) return {};
        if (keep) raw.push_back(static_cast<char>(c));
        if ((c & 0xC0) == 0xC0) {
            int d = next_byte(s);
            if (d < 0) return {};
            if (keep) raw.push_back(static_cast<char>(d));
            decoded += c & 0x3F;
        } else {
            decoded += 1;
        }
    }
    if (h.bits == 8 && h.planes == 1) {
        int c = next_byte(s);
        if (c == 0x0C) {
            if (keep) raw.push_back(static_cast<char>(c));
            for (size_t i = 1; i < PCX_PALETTE; ++i) {
                int p = next_byte(s);
                if (p < 0) break;
                if (keep) raw.push_back(static_cast<char>(p));
            }
        } else {
            unget_byte(s, c);
        }
    }
    return keep ? raw : std::string();
}

// A1 surface of a PCX picture: dark pixels are ink.
cairo_surface_t* pcx_picture(const std::string& raw) {
    PcxHeader h = pcx_header(raw);
    if (!h.drawable()) return nullptr;
    size_t line_bytes = size_t(h.bytes_per_line * h.planes);
    std::vector<uint8_t> scan(size_t(h.decoded()), 0);
    size_t at = PCX_HEADER, out = 0;
    while (out < scan.size() && at < raw.size()) {
        uint8_t c = static_cast<uint8_t>(raw[at++]);
        if ((c & 0xC0) == 0xC0) {
            if (at >= raw.size()) break;
            uint8_t d = static_cast<uint8_t>(raw[at++]);
            for (int n = c & 0x3F; n > 0 && out < scan.size(); --n) scan[out++] = d;
        } else {
            scan[out++] = c;
        }
    }
    const uint8_t* palette16 = reinterpret_cast<const uint8_t*>(raw.data()) + 16;
    const uint8_t* palette256 = nullptr;
    if (h.bits == 8 && h.planes == 1 && raw.size() >= PCX_HEADER + PCX_PALETTE &&
        static_cast<uint8_t>(raw[raw.size() - PCX_PALETTE]) == 0x0C)
        palette256 = reinterpret_cast<const uint8_t*>(raw.data()) + raw.size() - 768;
    auto lum = [](const uint8_t* rgb) { return (299 * rgb[0] + 587 * rgb[1] + 114 * rgb[2]) / 1000; };
    // Two-colour pictures: the darker palette entry is ink (0 when the palette says nothing).
    bool ink_is_one = h.bits == 1 && h.planes == 1 && lum(palette16) > lum(palette16 + 3);

    cairo_surface_t* pic = cairo_image_surface_create(CAIRO_FORMAT_A1, int(h.width), int(h.lines));
    if (cairo_surface_status(pic) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(pic);
        return nullptr;
    }
    cairo_surface_flush(pic);
    uint8_t* data = cairo_image_surface_get_data(pic);
    int stride = cairo_image_surface_get_stride(pic);
    for (long y = 0; y < h.lines; ++y) {
        const uint8_t* row = scan.data() + size_t(y) * line_bytes;
        uint32_t* dst = reinterpret_cast<uint32_t*>(data + size_t(y) * size_t(stride));
        for (long x = 0; x < h.width; ++x) {
            bool ink;
            if (h.bits == 1) {
                int index = 0;
                for (long p = 0; p < h.planes; ++p)
                    if (row[size_t(p * h.bytes_per_line + x / 8)] & (0x80 >> (x % 8))) index |= 1 << p;
                if (h.planes == 1)
                    ink = ink_is_one ? index == 1 : index == 0;
                else
                    ink = lum(palette16 + 3 * index) < 128;
            } else if (h.planes >= 3) {
                uint8_t rgb[3] = {row[size_t(x)], row[size_t(h.bytes_per_line + x)], row[size_t(2 * h.bytes_per_line + x)]};
                ink = lum(rgb) < 128;
            } else {
                uint8_t v = row[size_t(x)];
                ink = palette256 ? lum(palette256 + 3 * v) < 128 : v < 128;
            }
            // A1 pixels: 32-bit words, leftmost pixel in the lowest bit (little-endian).
            if (ink) dst[x / 32] |= 1u << (x % 32);
        }
    }
    cairo_surface_mark_dirty(pic);
    return pic;
}

// Stamps an alpha picture onto the page at (x, y).
void stamp(cairo_surface_t* pic, double x, double y) {
    cairo_t* cr = recording_cairo_context;
    if (!cr || !pic) return;
    cairo_save(cr);
    cairo_set_source_rgba(cr, 1, 1, 1, 1);
    cairo_mask_surface(cr, pic, x, y);
    cairo_restore(cr);
}

bool cg_size(const Words& w, long& width, long& height) {
    width = height = 0;
    if (!w.has(2) || !parse_int(w[1], width) || !parse_int(w[2], height)) return false;
    return width > 0 && height > 0;
}

bool cg_drawable(long width, long height) {
    return width <= CG_MAX_WIDTH && height <= PICTURE_MAX_ROWS;
}
}  // namespace

bool picture_command(std::string_view word) {
    return word == "CG" || word == "COMPRESSED-GRAPHICS" || word == "PCX";
}

std::string read_picture_bytes(CpclState& s, const std::string& line) {
    Words w = split_words(line);
    if (!w.has(0)) return {};
    if (w[0] == "PCX") return read_pcx(s);
    long width = 0, height = 0;
    if (!cg_size(w, width, height)) return {};
    bool keep = cg_drawable(width, height);
    long long n = (long long)width * height;
    std::string bytes;
    if (keep) bytes.reserve(size_t(n));
    for (long long i = 0; i < n; ++i) {
        int c = next_byte(s);
        if (c < 0) return {};
        if (keep) bytes.push_back(static_cast<char>(c));
    }
    return keep ? bytes : std::string();
}

void h_compressed_graphics(CpclState& s, const std::string& line, const Words& w) {
    if (!s.binary_follows) return;
    s.binary_follows = false;
    std::string bytes = read_picture_bytes(s, line);
    long width = 0, height = 0;
    if (!cg_size(w, width, height) || bytes.size() != size_t(width * height)) return;
    double x = dots_word(s, w, 3), y = dots_word(s, w, 4);
    cairo_surface_t* pic = cairo_image_surface_create(CAIRO_FORMAT_A1, int(width * 8), int(height));
    cairo_surface_flush(pic);
    uint8_t* data = cairo_image_surface_get_data(pic);
    int stride = cairo_image_surface_get_stride(pic);
    // Rows of `width` bytes, the leftmost dot in the most significant bit, 1 = black.
    for (long r = 0; r < height; ++r)
        for (long b = 0; b < width; ++b)
            data[size_t(r) * size_t(stride) + size_t(b)] =
                Reverse8Bits(static_cast<uint8_t>(bytes[size_t(r * width + b)]));
    cairo_surface_mark_dirty(pic);
    stamp(pic, x, y);
    cairo_surface_destroy(pic);
}

void h_pcx(CpclState& s, const std::string& line, const Words& w) {
    if (!s.binary_follows) return;
    s.binary_follows = false;
    std::string raw = read_picture_bytes(s, line);
    cairo_surface_t* pic = raw.empty() ? nullptr : pcx_picture(raw);
    if (!pic) return;
    double x = dots_word(s, w, 1), y = dots_word(s, w, 2);
    if (s.lp_mode) {
        // Running: the picture is printed at once, as a page of its own.
        fresh_page(s);
        stamp(pic, x, 0);
        int rows = cairo_image_surface_get_height(pic);
        cairo_surface_destroy(pic);
        write_page(s, rows, 1.0, 1.0, 1);
        fresh_page(s);
        return;
    }
    stamp(pic, x, y);
    cairo_surface_destroy(pic);
}

void h_logo(CpclState& s, const std::string&, const Words& w) {
    if (w.size() < 4) return;
    gchar* name = g_strstrip(g_strdup(w[1].c_str()));
    bool ok = valid_format_name(name);
    std::string path = s.logos_dir + "/" + name + ".png";
    g_free(name);
    if (!ok) {
        std::fprintf(stderr, "cpcl_interp: logo name refused\n");
        return;
    }
    double x = dots_word(s, w, 2), y = dots_word(s, w, 3);
    int width = std::clamp(int(dots_word(s, w, 4, 0)), 0, PRINTHEAD_DOT_WIDTH * 2);
    int height = std::clamp(int(dots_word(s, w, 5, 0)), 0, MAX_PAGE_ROWS);
    cairo_surface_t* png = cairo_image_surface_create_from_png(path.c_str());
    if (cairo_surface_status(png) != CAIRO_STATUS_SUCCESS) {
        dbg("logo %s: %s\n", path.c_str(), cairo_status_to_string(cairo_surface_status(png)));
        cairo_surface_destroy(png);
        return;
    }
    int pw = cairo_image_surface_get_width(png), ph = cairo_image_surface_get_height(png);
    if (width <= 0) width = pw;
    if (height <= 0) height = ph;
    cairo_surface_t* scaled = scale_surface(png, pw, ph, width, height);
    stamp(scaled ? scaled : png, x, y);
    if (scaled) cairo_surface_destroy(scaled);
    cairo_surface_destroy(png);
}

void h_box(CpclState& s, const std::string&, const Words& w) {
    if (w.size() < 5) return;
    double x0 = dots_word(s, w, 1), y0 = dots_word(s, w, 2), x1 = dots_word(s, w, 3), y1 = dots_word(s, w, 4);
    double width = std::clamp(dots_word(s, w, 5, 1), 0.0, 10000.0);
    if (x1 < x0) std::swap(x0, x1);
    if (y1 < y0) std::swap(y0, y1);
    double bw = x1 - x0, bh = y1 - y0;
    if (width <= 0) return;
    // The outline lies inside (x0, y0)-(x1, y1): the outer edge of the ink is the box's edge.
    if (2 * width >= std::min(bw, bh)) {
        draw_rectangle_fill(x0, y0, bw, bh, width);
        return;
    }
    draw_rectangle(x0 + width / 2, y0 + width / 2, bw - width, bh - width, width);
}

void h_line(CpclState& s, const std::string&, const Words& w) {
    if (w.size() < 5) return;
    double x0 = dots_word(s, w, 1), y0 = dots_word(s, w, 2), x1 = dots_word(s, w, 3), y1 = dots_word(s, w, 4);
    double width = std::clamp(dots_word(s, w, 5, 1), 0.0, 10000.0);
    if (width <= 0) return;
    // Lines along the axes grow from their coordinates down (or right) by their width.
    if (y0 == y1 && x0 != x1) {
        draw_line(x0, y0 + width / 2, x1, y1 + width / 2, width);
    } else if (x0 == x1 && y0 != y1) {
        draw_line(x0 + width / 2, y0, x1 + width / 2, y1, width);
    } else {
        draw_line(x0, y0, x1, y1, width);
    }
}

}  // namespace cpcl
