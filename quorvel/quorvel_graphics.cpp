// Raster graphics (compressed and uncompressed, with their continuations), blank rows, stored
// logos, the print contrast and the bell.
//
// A graphic is a series of blocks: two bytes (rows, bytes per row) and the rows. Each row becomes
// one head-wide row: a narrower row is padded with white, a wider one keeps its first 216 bytes
// (the rest is read and dropped). Compressed blocks carry their rows × bytes-per-row bytes as runs:
// a count byte c of 128 or more repeats the next byte 257 - c times, a smaller one is followed by
// c + 1 bytes as they are. After a block, 1B and the same command letter start another block of
// the same graphic, 1B "J" n adds n white rows, anything else ends the graphic and is scanned again.
#include "quorvel.h"

#include "dot_image.h"
#include "files.h"
#include "image_builder.h"
#include "render_shapes.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {
constexpr size_t ROW_BYTES = HEAD_DOTS / 8;

// Where a graphic's rows go when it grows large: placed on the page in pieces.
using Spill = void (*)(QuorvelState&, std::vector<uint8_t>&);

bool any_ink(const uint8_t* p, size_t n) {
    for (size_t i = 0; i < n; ++i)
        if (p[i]) return true;
    return false;
}

// Stamps `count` rows at y (whole dots, so each dot lands exactly where it was sent).
void stamp_rows(const uint8_t* rows, size_t count, double y) {
    cairo_t* cr = recording_cairo_context;
    if (!cr || count == 0) return;
    cairo_surface_t* image = cairo_image_surface_create(CAIRO_FORMAT_A1, HEAD_DOTS, int(count));
    if (cairo_surface_status(image) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(image);
        return;
    }
    cairo_surface_flush(image);
    uint8_t* data = cairo_image_surface_get_data(image);
    int stride = cairo_image_surface_get_stride(image);
    for (size_t r = 0; r < count; ++r) {
        uint8_t* dst = data + r * size_t(stride);
        const uint8_t* src = rows + r * ROW_BYTES;
        for (size_t i = 0; i < ROW_BYTES; ++i) dst[i] = Reverse8Bits(src[i]);  // A1 keeps the leftmost dot in bit 0
    }
    cairo_surface_mark_dirty(image);
    cairo_save(cr);
    cairo_set_source_rgba(cr, 1, 1, 1, 1);
    cairo_mask_surface(cr, image, 0, y);
    cairo_restore(cr);
    cairo_surface_destroy(image);
}

void spill_to_page(QuorvelState& q, std::vector<uint8_t>& rows) {
    place_rows(q, rows);
    rows.clear();
}

void append_white_rows(std::vector<uint8_t>& rows, size_t n) { rows.resize(rows.size() + n * ROW_BYTES, 0); }

// Reads the graphic; rows beyond `limit` go to `spill` (or are dropped without one).
void read_graphic(QuorvelState* q, QuorvelInput& in, bool compressed, std::vector<uint8_t>& rows, size_t limit,
                  Spill spill) {
    const int letter = compressed ? 'v' : '#';
    auto keep_within_limit = [&] {
        if (rows.size() / ROW_BYTES < limit) return;
        if (spill && q)
            spill(*q, rows);
        else
            rows.resize(limit * ROW_BYTES);
    };
    for (;;) {
        bool whole = read_raster_block(in, compressed, rows);
        keep_within_limit();
        if (!whole) return;
        for (;;) {  // what follows the block
            int c1 = in.next();
            if (c1 < 0) return;
            if (c1 != 0x1B) {
                in.hand_back(c1);
                return;
            }
            int c2 = in.next();
            if (c2 == letter) break;  // the next block
            if (c2 == 'J') {
                int n = in.next();
                if (n < 0) {
                    in.hand_back(c2);
                    in.hand_back(c1);
                    return;
                }
                append_white_rows(rows, size_t(n));
                keep_within_limit();
                continue;
            }
            if (c2 >= 0) in.hand_back(c2);
            in.hand_back(c1);
            return;
        }
    }
}
}  // namespace

bool read_raster_block(QuorvelInput& in, bool compressed, std::vector<uint8_t>& rows) {
    int nrows = in.next();
    if (nrows < 0) return false;
    int bpr = in.next();
    if (bpr < 0) return false;
    std::vector<uint8_t> row(ROW_BYTES, 0);
    if (!compressed) {
        for (int r = 0; r < nrows; ++r) {
            std::fill(row.begin(), row.end(), 0);
            for (int b = 0; b < bpr; ++b) {
                int c = in.next();
                if (c < 0) {
                    std::fprintf(stderr, "(*pt2input)():\n");
                    if (b > 0) rows.insert(rows.end(), row.begin(), row.end());
                    return false;
                }
                if (size_t(b) < ROW_BYTES) row[size_t(b)] = uint8_t(c);
            }
            rows.insert(rows.end(), row.begin(), row.end());
        }
        return true;
    }
    // Compressed: rows x bpr bytes from runs, each row padded to the head width.
    const long total = long(nrows) * bpr;
    long produced = 0;
    std::fill(row.begin(), row.end(), 0);
    auto emit = [&](uint8_t byte) {
        long col = produced % bpr;
        if (col < long(ROW_BYTES)) row[size_t(col)] = byte;
        ++produced;
        if (produced % bpr == 0) {
            rows.insert(rows.end(), row.begin(), row.end());
            std::fill(row.begin(), row.end(), 0);
        }
    };
    auto fail = [&] {
        std::fprintf(stderr, "chunk (*pt2input)():\n");
        if (bpr > 0 && produced % bpr != 0) rows.insert(rows.end(), row.begin(), row.end());
        return false;
    };
    while (produced < total) {
        int c = in.next();
        if (c < 0) return fail();
        if (c >= 128) {
            int v = in.next();
            if (v < 0) return fail();
            for (int i = 0; i < 257 - c && produced < total; ++i) emit(uint8_t(v));
        } else {
            for (int i = 0; i < c + 1; ++i) {
                int v = in.next();
                if (v < 0) return fail();
                if (produced < total) emit(uint8_t(v));  // a run past the block's end is read and dropped
            }
        }
    }
    return true;
}

void read_raster_graphic(QuorvelInput& in, bool compressed, std::vector<uint8_t>& rows, size_t max_rows) {
    read_graphic(nullptr, in, compressed, rows, max_rows, nullptr);
}

void place_rows(QuorvelState& q, const std::vector<uint8_t>& rows) {
    size_t n = rows.size() / ROW_BYTES;
    if (n == 0) return;
    if (n <= size_t(MAX_PAGE_ROWS)) make_room(q, double(n));  // a graphic that fits a page stays whole
    size_t done = 0;
    double y = std::ceil(q.boundingBox_y);
    while (done < n) {
        if (y >= MAX_PAGE_ROWS) {
            finish_page(q);
            y = 0;
        }
        size_t chunk = std::min(n - done, size_t(MAX_PAGE_ROWS - int(y)));
        const uint8_t* first = rows.data() + done * ROW_BYTES;
        if (any_ink(first, chunk * ROW_BYTES)) stamp_rows(first, chunk, y);
        y += double(chunk);
        done += chunk;
        q.boundingBox_y = y;
    }
}

void raster_graphic(QuorvelState& q, QuorvelInput& in, bool compressed) {
    end_pending_line(q);
    std::vector<uint8_t> rows;
    read_graphic(&q, in, compressed, rows, size_t(MAX_PAGE_ROWS), spill_to_page);
    place_rows(q, rows);
}

void blank_rows(QuorvelState& q, int n) {
    end_pending_line(q);
    if (n <= 0) return;
    make_room(q, n);
    q.boundingBox_y += n;
}

void store_logo(QuorvelState& q, QuorvelInput& in, int prefix) {
    int index = logo_index(prefix);
    int c1 = in.next();
    int c2 = c1 == 0x1B ? in.next() : -1;
    if (index < 0 || c1 != 0x1B || c2 != '#') {  // no picture follows: nothing stored
        if (c2 >= 0) in.hand_back(c2);
        if (c1 >= 0) in.hand_back(c1);
        return;
    }
    std::vector<uint8_t> rows;
    read_raster_graphic(in, false, rows, size_t(MAX_PAGE_ROWS));
    int n = int(rows.size() / ROW_BYTES);
    if (n == 0) return;

    // Header and footer logos as dot images for the print engine.
    std::string pbm = dot_image_header(HEAD_DOTS, n, false);
    pbm.append(reinterpret_cast<const char*>(rows.data()), rows.size());
    if (prefix == 'h' && !write_file_whole(q.paths.header_pbm, pbm)) std::perror(q.paths.header_pbm.c_str());
    if (prefix == 'f' && !write_file_whole(q.paths.footer_pbm, pbm)) std::perror(q.paths.footer_pbm.c_str());

    // The picture: ink opaque, the rest transparent.
    cairo_surface_t* picture = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, HEAD_DOTS, n);
    if (cairo_surface_status(picture) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(picture);
        return;
    }
    cairo_surface_flush(picture);
    uint8_t* data = cairo_image_surface_get_data(picture);
    int stride = cairo_image_surface_get_stride(picture);
    for (int y = 0; y < n; ++y) {
        auto* px = reinterpret_cast<uint32_t*>(data + size_t(y) * size_t(stride));
        const uint8_t* src = rows.data() + size_t(y) * ROW_BYTES;
        for (int x = 0; x < HEAD_DOTS; ++x) px[x] = (src[x / 8] & (0x80 >> (x % 8))) ? 0xFF000000u : 0u;
    }
    cairo_surface_mark_dirty(picture);
    std::string png;
    cairo_surface_write_to_png_stream(
        picture,
        [](void* closure, const unsigned char* bytes, unsigned int length) {
            static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(bytes), length);
            return CAIRO_STATUS_SUCCESS;
        },
        &png);
    cairo_surface_destroy(picture);

    char name[16];
    std::snprintf(name, sizeof name, "logo%c.png", prefix);  // the prefix is one checked character
    for (const std::string& folder : {q.paths.logos, q.paths.logos_web}) {
        std::string path = folder + "/" + name;
        if (!write_file_whole(path, png)) dbg("cannot write %s\n", path.c_str());
    }
    if (!update_logo_table(q, prefix, name)) dbg("cannot update %s\n", q.paths.logo_list.c_str());
}

void print_logo(QuorvelState& q, int prefix) {
    int index = logo_index(prefix);
    if (index < 0 || q.logo_filenames[size_t(index)].empty()) return;
    end_pending_line(q);
    std::string path = q.paths.logos + "/" + q.logo_filenames[size_t(index)];
    cairo_surface_t* probe = cairo_image_surface_create_from_png(path.c_str());
    bool ok = cairo_surface_status(probe) == CAIRO_STATUS_SUCCESS;
    int height = ok ? cairo_image_surface_get_height(probe) : 0;
    cairo_surface_destroy(probe);
    if (!ok || height <= 0) {
        dbg("logo %s cannot be loaded\n", path.c_str());
        return;
    }
    make_room(q, height);
    double y = std::ceil(q.boundingBox_y);
    global_line_print_enabled_flag = 0;
    int placed = render_and_place_png(0, int(y), path.c_str());
    q.boundingBox_y = y + placed;
}

void set_print_contrast(QuorvelState& q, int digit) {
    q.contrast = std::clamp(9 - digit, 0, 9);
    set_current_contrast(q.contrast);
}

void bell(QuorvelState& q) { quorvel_shell(q, "/root/engine_cmd R 10"); }
