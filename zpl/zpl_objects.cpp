// ZPL graphics and stored objects.
#include "zpl_objects.h"

#include "image_builder.h"
#include "files.h"
#include "folder.h"
#include "render_shapes.h"
#include "zpl_input.h"
#include "zpl_label.h"
#include "zpl_lexer.h"

#include <cairo.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <glib.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

std::string PATH_TO_FORMATS = "/formats";
std::string PATH_TO_GRAPHICS = "/graphics";
std::string PATH_TO_RAM_FORMATS = "/tmp/formats";
std::string PATH_TO_RAM_GRAPHICS = "/tmp/graphics";
std::string PATH_TO_LOGOS = "/logos";

namespace {
bool ends_with_nocase(const std::string& s, const char* suffix) {
    size_t n = std::strlen(suffix);
    return s.size() >= n && g_ascii_strcasecmp(s.c_str() + s.size() - n, suffix) == 0;
}

bool contains_nocase(const std::string& s, const char* part) {
    gchar* a = g_ascii_strup(s.c_str(), -1);
    gchar* b = g_ascii_strup(part, -1);
    bool found = std::strstr(a, b) != nullptr;
    g_free(a);
    g_free(b);
    return found;
}

bool ram_device(char device) { return g_ascii_toupper(device) == 'R'; }

const std::string& formats_folder(char device) { return ram_device(device) ? PATH_TO_RAM_FORMATS : PATH_TO_FORMATS; }
const std::string& graphics_folder(char device) { return ram_device(device) ? PATH_TO_RAM_GRAPHICS : PATH_TO_GRAPHICS; }

// A name that may become part of a path: not empty, bounded, no folder separators or parent
// references, printable bytes only.
bool safe_name(const std::string& name) {
    if (name.empty() || name.size() > MAX_OBJECT_NAME) return false;
    if (name.find('/') != std::string::npos || name.find("..") != std::string::npos) return false;
    for (unsigned char c : name)
        if (c < 0x20 || c == 0x7f) return false;
    return true;
}

// Writes a whole object file (through a temporary name, so that a reader never sees half of it);
// the folder is created when missing. Flash devices are synced.
bool write_object_file(const StoredObject& obj, const std::string& bytes) {
    std::string folder = obj.path.substr(0, obj.path.rfind('/'));
    if (!folder.empty()) g_mkdir_with_parents(folder.c_str(), 0755);
    if (!write_file_whole(obj.path, bytes)) {
        std::perror(obj.path.c_str());
        return false;
    }
    if (!ram_device(obj.device)) zpl_shell("sync");
    return true;
}

bool is_prefix(int c) { return c == config.dfprefix || c == config.dcprefix; }

// Next byte of a download's own data, control bytes dropped. A format or control prefix ends the
// data: it is put back for the command loop, so data that falls short never swallows the commands
// that follow it. -1 at the end.
int data_byte() {
    int c = gech();
    if (c >= 0 && is_prefix(c)) {
        unget_char(c);
        return -1;
    }
    return c;
}

// A parameter of a download command, up to the delimiter (not kept); at most `limit` bytes are
// kept. False when a prefix or the end of the input came first.
bool read_param(std::string& out, size_t limit = 200) {
    out.clear();
    for (;;) {
        int c = data_byte();
        if (c < 0) return false;
        if (c == config.par_delim) return true;
        if (out.size() < limit) out.push_back(static_cast<char>(c));
    }
}

long param_long(const std::string& s) {
    long v = std::strtol(s.c_str(), nullptr, 10);
    return std::clamp(v, -1L, MAX_GRAPHIC_BYTES + 1);
}

// The data of a download whose sizes are refused: skipped up to the next command.
void skip_data() {
    while (data_byte() >= 0) {
    }
}

int hex_digit(int c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Writes the bitmap half a byte at a time, row by row.
class NibbleWriter {
public:
    explicit NibbleWriter(GraphicBitmap& g) : g_(g), rows_(g.rows()), per_row_(2L * g.row_bytes) {}
    bool done() const { return row_ >= rows_; }
    long left() const { return done() ? 0 : (rows_ - row_) * per_row_ - col_; }
    void put(int v) {
        if (done()) return;
        uint8_t& b = g_.bits[size_t(row_ * g_.row_bytes + col_ / 2)];
        b = (col_ % 2 == 0) ? uint8_t((b & 0x0f) | (v << 4)) : uint8_t((b & 0xf0) | v);
        if (++col_ == per_row_) {
            col_ = 0;
            ++row_;
        }
    }
    // The rest of the row (all of it at the start of a row) with one digit.
    void fill_row(int v) {
        if (done()) return;
        do put(v);
        while (col_ != 0);
    }
    // The rest of the row copied from the row above; the first row keeps its zero bytes.
    void copy_row() {
        if (done()) return;
        if (row_ == 0) {
            fill_row(0);
            return;
        }
        do {
            uint8_t above = g_.bits[size_t((row_ - 1) * g_.row_bytes + col_ / 2)];
            put(col_ % 2 == 0 ? above >> 4 : above & 0x0f);
        } while (col_ != 0);
    }

private:
    GraphicBitmap& g_;
    long rows_, per_row_;
    long row_ = 0, col_ = 0;
};

// ASCII hexadecimal with repeat letters and the row shorthands; `first` is the data's first byte.
void read_hex_data(int first, GraphicBitmap& g) {
    NibbleWriter out(g);
    long count = 0;
    for (int c = first; c >= 0 && !out.done(); c = out.done() ? -1 : data_byte()) {
        int v = hex_digit(c);
        if (v >= 0) {
            long n = count > 0 ? count : 1;
            count = 0;
            for (long i = 0; i < n && !out.done(); ++i) out.put(v);
        } else if (c >= 'G' && c <= 'Y') {
            count = std::min(count + (c - 'G' + 1), out.left());
        } else if (c >= 'g' && c <= 'z') {
            count = std::min(count + 20L * (c - 'g' + 1), out.left());
        } else if (c == ',') {
            count = 0;
            out.fill_row(0);
        } else if (c == '!') {
            count = 0;
            out.fill_row(15);
        } else if (c == ':') {
            count = 0;
            out.copy_row();
        }
        // "Z" and every other byte: ignored
    }
}

bool base64_char(int c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
}

// ":B64:" or ":Z64:" data (the first colon already read): Base64 text up to the next colon, then
// four bytes of CRC, which is not checked. Plain data is the bitmap; zlib data is inflated into it.
// Bytes the data does not supply stay 0.
void read_base64_data(GraphicBitmap& g) {
    char form[4] = {};
    for (char& f : form) {
        int c = data_byte();
        if (c < 0) return;
        f = static_cast<char>(c);
    }
    bool plain = form[0] == 'B' && form[1] == '6' && form[2] == '4' && form[3] == ':';
    // Text beyond this much cannot belong to t bytes; it is read and dropped.
    const size_t limit = size_t(2 * g.total + 1024);
    std::string text;
    bool colon = false, padded = false;
    for (;;) {
        int c = data_byte();
        if (c < 0) break;
        if (c == ':') {
            colon = true;
            break;
        }
        if (padded) continue;  // after the padding nothing up to the colon is data
        if (c == '=') padded = true;
        else if (base64_char(c) && text.size() < limit) text.push_back(static_cast<char>(c));
    }
    if (colon)
        for (int i = 0; i < 4; ++i)  // the CRC
            if (data_byte() < 0) break;
    // Whole groups only: a trailing lone character carries no byte.
    while (text.size() % 4 != 0) text.push_back('=');
    std::vector<uint8_t> decoded(text.size() / 4 * 3 + 3);
    gint state = 0;
    guint save = 0;
    size_t n = g_base64_decode_step(text.c_str(), text.size(), decoded.data(), &state, &save);
    decoded.resize(n);
    if (plain) {
        std::memcpy(g.bits.data(), decoded.data(), std::min(decoded.size(), g.bits.size()));
        return;
    }
    z_stream z{};
    if (inflateInit(&z) != Z_OK) return;
    z.next_in = decoded.data();
    z.avail_in = uInt(decoded.size());
    z.next_out = g.bits.data();
    z.avail_out = uInt(g.bits.size());
    // Stops at the stream's end or its first error; what was inflated so far is kept.
    while (z.avail_out > 0) {
        int rc = inflate(&z, Z_NO_FLUSH);
        if (rc != Z_OK) break;
    }
    inflateEnd(&z);
}

// The data of ~DG or ^GF A: Base64 when it starts with a colon, else ASCII hexadecimal.
void read_graphic_data(GraphicBitmap& g) {
    int c = data_byte();
    if (c < 0) return;
    if (c == ':') read_base64_data(g);
    else read_hex_data(c, g);
}

bool graphic_sizes_ok(long total, long row_bytes) {
    return total > 0 && total <= MAX_GRAPHIC_BYTES && row_bytes > 0 && row_bytes <= MAX_GRAPHIC_ROW_BYTES &&
           total >= row_bytes;
}

bool write_graphic_file(const StoredObject& obj, const GraphicBitmap& g) {
    uint32_t t = uint32_t(g.total);
    uint16_t w = uint16_t(g.row_bytes);
    std::string bytes{char(t), char(t >> 8), char(t >> 16), char(t >> 24), char(w), char(w >> 8)};
    bytes.append(g.bits.begin(), g.bits.end());
    return write_object_file(obj, bytes);
}

bool file_exists(const std::string& path) {
    struct stat st{};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// A name without an extension is taken with the one the command implies ("LOGO" is "LOGO.GRF"
// for ~DG and ^XG, "SHIP" is "SHIP.ZPL" for ^DF and ^XF).
std::string with_extension(std::string name, const char* ext) {
    size_t colon = name.size() >= 2 && name[1] == ':' ? 2 : 0;
    if (!name.empty() && name.find('.', colon) == std::string::npos) name += ext;
    return name;
}

// The object named by the command's next parameter (with `ext` when it names none).
bool object_param(StoredObject& obj, const char* ext = "") {
    return parse_object_name(with_extension(next_par(), ext).c_str(), obj) && obj.kind != ObjectKind::None;
}

// ^IL and ^IM: a stored graphic at magnification 1, or a picture.
void place_object(const StoredObject& obj) {
    if (obj.kind == ObjectKind::Graphic) {
        GraphicBitmap g;
        if (load_graphic_file(obj.path, g)) place_graphic(g, global.x_loc, global.y_loc, 1, 1);
    } else if (obj.kind == ObjectKind::Picture) {
        render_and_place_png(global.x_loc, global.y_loc, obj.path.c_str());
    }
    global.creat_image = 1;
}

// ---- stored formats ------------------------------------------------------------------------------
std::string recalled_format;  // commands of the formats recalled by this label
bool replaying = false;
}  // namespace

bool parse_object_name(const char* text, StoredObject& obj) {
    obj = StoredObject{};
    std::string s = text ? text : "";
    while (!s.empty() && s.back() == ' ') s.pop_back();
    s.erase(0, s.find_first_not_of(' ') == std::string::npos ? s.size() : s.find_first_not_of(' '));
    if (s.size() >= 2 && s[1] == ':') {
        obj.device = s[0];
        obj.name = s.substr(2);
    } else {
        obj.device = 'R';
        obj.name = s;
    }
    if (!g_ascii_isalnum(obj.device) || !safe_name(obj.name)) return false;
    if (ends_with_nocase(obj.name, ".ZPL")) {
        obj.kind = ObjectKind::Format;
        obj.path = formats_folder(obj.device) + "/" + obj.name;
    } else if (ends_with_nocase(obj.name, ".GRF")) {
        obj.kind = ObjectKind::Graphic;
        obj.path = graphics_folder(obj.device) + "/" + obj.name;
    } else if (ends_with_nocase(obj.name, ".PNG")) {
        obj.kind = ObjectKind::Picture;
        obj.path = PATH_TO_LOGOS + "/" + obj.name.substr(0, obj.name.find('.')) + ".png";
    } else {
        return true;  // no file of its own
    }
    if (obj.path.size() > MAX_OBJECT_PATH || obj.name[0] == '.') {
        obj = StoredObject{};
        return false;
    }
    return true;
}

void init_object_folders(const GlobalDefines& g) {
    auto set = [](std::string& var, const std::string& value) {
        if (!value.empty()) var = value;
    };
    set(PATH_TO_FORMATS, g.PATH_TO_FORMATS);
    set(PATH_TO_GRAPHICS, g.PATH_TO_GRAPHICS);
    set(PATH_TO_RAM_FORMATS, g.PATH_TO_RAM_FORMATS);
    set(PATH_TO_RAM_GRAPHICS, g.PATH_TO_RAM_GRAPHICS);
}

bool load_graphic_file(const std::string& path, GraphicBitmap& g) {
    g = GraphicBitmap{};
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    uint8_t head[6];
    bool ok = std::fread(head, 1, sizeof head, f) == sizeof head;
    long total = ok ? long(head[0] | head[1] << 8 | head[2] << 16 | uint32_t(head[3]) << 24) : 0;
    int row_bytes = ok ? head[4] | head[5] << 8 : 0;
    ok = ok && graphic_sizes_ok(total, row_bytes);
    if (ok) {
        g.total = total;
        g.row_bytes = row_bytes;
        g.bits.assign(size_t(total), 0);
        size_t got = std::fread(g.bits.data(), 1, g.bits.size(), f);
        (void)got;  // a short file leaves the rest blank
    }
    std::fclose(f);
    return ok;
}

void place_graphic(const GraphicBitmap& g, int x, int y, int fx, int fy) {
    cairo_t* cr = recording_cairo_context;
    long rows = g.rows();
    if (!cr || rows <= 0) return;
    if (label_length < rows) label_length = int(std::min<long>(rows + 100, MAX_PAGE_ROWS));
    int width = 8 * g.row_bytes;
    fx = std::clamp(fx, 1, MAX_GRAPHIC_FACTOR);
    fy = std::clamp(fy, 1, MAX_GRAPHIC_FACTOR);
    if (!page_may_draw(x, y, x + double(width) * fx, y + double(rows) * fy, double(width) * double(rows))) return;
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_A1, width, int(rows));
    if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(s);
        return;
    }
    cairo_surface_flush(s);
    uint8_t* data = cairo_image_surface_get_data(s);
    int stride = cairo_image_surface_get_stride(s);
    for (long r = 0; r < rows; ++r) {
        const uint8_t* src = g.bits.data() + r * g.row_bytes;
        uint8_t* dst = data + r * stride;
        for (int i = 0; i < g.row_bytes; ++i) dst[i] = Reverse8Bits(src[i]);
    }
    cairo_surface_mark_dirty(s);
    cairo_pattern_t* p = cairo_pattern_create_for_surface(s);
    cairo_pattern_set_filter(p, CAIRO_FILTER_NEAREST);
    cairo_save(cr);
    cairo_set_source_rgba(cr, 1, 1, 1, 1);
    cairo_translate(cr, x, y);
    cairo_scale(cr, fx, fy);
    cairo_mask(cr, p);
    cairo_restore(cr);
    cairo_pattern_destroy(p);
    cairo_surface_destroy(s);
}

// ~DGd:NAME.GRF,t,w,data
void dgdata() {
    std::string name, t, w;
    if (!read_param(name) || !read_param(t) || !read_param(w)) return;
    long total = param_long(t), row_bytes = param_long(w);
    if (!graphic_sizes_ok(total, row_bytes)) {
        skip_data();
        return;
    }
    GraphicBitmap g;
    g.total = total;
    g.row_bytes = int(row_bytes);
    g.bits.assign(size_t(total), 0);
    read_graphic_data(g);
    StoredObject obj;
    if (parse_object_name(with_extension(name, ".GRF").c_str(), obj) && obj.kind == ObjectKind::Graphic)
        write_graphic_file(obj, g);
}

// ^GFa,b,c,d,data: a graphic drawn at the field origin. a is the data's form: A ASCII
// hexadecimal (or Base64), B b bytes of binary bitmap; c is the bitmap's size and d its row bytes.
void graphic_field() {
    std::string a, b, c, d;
    if (!read_param(a) || !read_param(b) || !read_param(c) || !read_param(d)) return;
    int form = g_ascii_toupper(a.empty() ? 'A' : a[0]);
    long binary = param_long(b), total = param_long(c), row_bytes = param_long(d);
    bool sizes = graphic_sizes_ok(total, row_bytes);
    GraphicBitmap g;
    if (sizes) {
        g.total = total;
        g.row_bytes = int(row_bytes);
        g.bits.assign(size_t(total), 0);
    }
    bool cut_short = false;
    if (form == 'B' || form == 'C') {
        // Binary bytes, control bytes included; compressed binary is not drawn. When the input
        // stays empty inside the declared bytes, the host sent less than it said: the field ends
        // with what arrived and the label is printed (its end-of-format command, if it was sent,
        // went into the graphic), so the jobs that follow are read as commands again.
        long declared = std::clamp(binary, 0L, MAX_GRAPHIC_BYTES);
        for (long i = 0; i < declared; ++i) {
            int ch = get_declared_byte();
            if (ch < 0) {
                cut_short = true;
                break;
            }
            if (form == 'B' && sizes && i < total) g.bits[size_t(i)] = static_cast<uint8_t>(ch);
        }
        if (form == 'C') {
            if (cut_short) end_zpl_job();
            return;
        }
    } else if (sizes) {
        read_graphic_data(g);
    } else {
        skip_data();
    }
    if (sizes) {
        begin_field_ink();
        place_graphic(g, global.x_loc, global.y_loc, 1, 1);
        end_field_ink();
        global.creat_image = 1;
    }
    if (cut_short) end_zpl_job();
}

// ^XGd:NAME.GRF,fx,fy: the field position is kept; a missing graphic still counts as drawn.
void recall_grphic() {
    add_line();
    StoredObject obj;
    bool ok = object_param(obj, ".GRF") && obj.kind == ObjectKind::Graphic;
    int fx = next_par_int(), fy = next_par_int();
    if (fx <= 0) fx = 1;
    if (fy <= 0) fy = 1;
    GraphicBitmap g;
    if (ok && load_graphic_file(obj.path, g)) place_graphic(g, global.x_loc, global.y_loc, fx, fy);
    global.creat_image = 1;
}

void image_load() {
    add_line();
    StoredObject obj;
    if (!object_param(obj)) return;
    global.x_loc = global.y_loc = 0;
    place_object(obj);
}

void image_move() {
    add_line();
    StoredObject obj;
    if (!object_param(obj) || !file_exists(obj.path)) return;
    place_object(obj);
}

// ^ISd:NAME.GRF,p: the label as drawn so far becomes a stored graphic, with the same header as
// ~DG so that ^XG, ^IL and ^IM can place it again (a ".PNG" name gives a picture).
void image_save() {
    add_line();
    StoredObject obj;
    bool ok = object_param(obj) && (obj.kind == ObjectKind::Graphic || obj.kind == ObjectKind::Picture);
    const char* print = next_par();
    if (ok && recording_surface) {
        double x0 = 0, y0 = 0, w = 0, h = 0;
        cairo_recording_surface_ink_extents(recording_surface, &x0, &y0, &w, &h);
        double ink = (w > 0 && h > 0) ? std::max(0.0, y0 + h) : 0.0;
        double rows_d = std::max(ink, double(label_length)) + feel_paper_out;
        int rows = int(std::clamp(std::ceil(rows_d), 1.0, double(MAX_PAGE_ROWS)));
        const int width = PRINTHEAD_DOT_WIDTH;
        // Rasterising the page so far costs as much as a drawing of the page's size.
        cairo_matrix_t ctm;
        cairo_get_matrix(recording_cairo_context, &ctm);
        cairo_identity_matrix(recording_cairo_context);
        bool admitted = page_may_draw(0, 0, width, rows);
        cairo_set_matrix(recording_cairo_context, &ctm);
        if (admitted) {
            cairo_surface_t* img = rasterise_recording(recording_surface, width, rows, 1, 0, 0);
            GraphicBitmap g;
            g.row_bytes = (width + 7) / 8;
            g.bits = a1_rows_msb_first(img, g.row_bytes);
            g.total = long(g.bits.size());
            cairo_surface_destroy(img);
            if (obj.kind == ObjectKind::Graphic) {
                write_graphic_file(obj, g);
            } else {
                // Ink is opaque black, the rest transparent: placed again, only the ink shows.
                std::string png;
                if (ink_png(g.bits, width, rows, png)) write_object_file(obj, png);
            }
        }
    }
    global.creat_image = g_ascii_toupper(print[0]) == 'N' ? 0 : 1;
}

// ^IDd:NAME: one object, or with "*" and "?" every matching file of the formats (".ZPL") or
// graphics (".GRF") folder of the device.
void del_object() {
    add_line();
    std::string text = next_par();
    while (!text.empty() && text.back() == ' ') text.pop_back();
    if (text.find_first_of("*?") == std::string::npos) {
        StoredObject obj;
        if (parse_object_name(text.c_str(), obj) && obj.kind != ObjectKind::None) unlink(obj.path.c_str());
        return;
    }
    char device = 'R';
    std::string pattern = text;
    if (text.size() >= 2 && text[1] == ':') {
        device = text[0];
        pattern = text.substr(2);
    }
    if (!safe_name(pattern)) return;
    const std::string* folder = nullptr;
    if (contains_nocase(pattern, ".ZPL")) folder = &formats_folder(device);
    else if (contains_nocase(pattern, ".GRF")) folder = &graphics_folder(device);
    if (!folder) return;
    int r = for_each_entry(*folder, [&](int dfd, const char* entry) {
        if (fnmatch(pattern.c_str(), entry, FNM_CASEFOLD) != 0) return true;
        struct stat st {};
        if (fstatat(dfd, entry, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode)) unlinkat(dfd, entry, 0);
        return true;
    });
    // A folder that is not there holds nothing to delete; any other failure is reported.
    if (r != 0 && errno != ENOENT) report_folder_error("zpl_interp", *folder);
}

// ^DFd:NAME.ZPL: the rest of the format, up to its end-of-format command, is stored (not
// drawn). A format that does not end before the next start-of-format is not stored.
void download_format() {
    add_line();
    StoredObject obj;
    // Without a format name (or inside a replayed format) the commands run as usual.
    if (replaying || !object_param(obj, ".ZPL") || obj.kind != ObjectKind::Format) return;
    std::string body;
    if (global.symbol != 0) {  // the prefix that ended the name
        body.push_back(static_cast<char>(global.symbol));
        global.symbol = 0;
    }
    const char prefix = static_cast<char>(config.dfprefix);
    bool too_long = false, complete = false;
    for (;;) {
        int c = get_one_char();
        if (c < 0) break;
        body.push_back(static_cast<char>(c));
        size_t n = body.size();
        if (n >= 3 && body[n - 3] == prefix && g_ascii_toupper(body[n - 2]) == 'X') {
            int last = g_ascii_toupper(body[n - 1]);
            if (last == 'Z') {
                body.resize(n - 3);
                complete = true;
                break;
            }
            if (last == 'A') {  // a new format begins: this one is dropped
                push_input(body.substr(n - 3));
                break;
            }
        }
        if (body.size() > MAX_FORMAT_BYTES + 3) {
            too_long = true;
            body.erase(0, body.size() - 3);  // keep only what may start the end-of-format command
        }
    }
    if (complete && !too_long) write_object_file(obj, body);
    if (complete) {
        // A format definition prints nothing.
        global.creat_image = 0;
        end_zpl_job();
    }
}

// ^XFd:NAME.ZPL: the format is replayed at the end of this label.
void recall_format() {
    add_line();
    StoredObject obj;
    if (replaying || !object_param(obj, ".ZPL") || obj.kind != ObjectKind::Format) return;
    FILE* f = std::fopen(obj.path.c_str(), "rb");
    if (!f) return;
    std::string body(MAX_FORMAT_BYTES, '\0');
    body.resize(std::fread(body.data(), 1, body.size(), f));
    std::fclose(f);
    if (recalled_format.size() + body.size() <= MAX_FORMAT_BYTES) recalled_format += body;
}

bool format_recalled() { return !replaying && !recalled_format.empty(); }
bool format_replaying() { return replaying; }

bool start_format_replay() {
    if (replaying) {
        replaying = false;
        return false;
    }
    if (recalled_format.empty()) return false;
    std::string end_of_format{static_cast<char>(config.dfprefix), 'X', 'Z'};
    push_input(recalled_format + end_of_format);
    recalled_format.clear();
    replaying = true;
    return true;
}

void reset_format_replay() {
    recalled_format.clear();
    replaying = false;
}
