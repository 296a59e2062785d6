// Rasterising a page into a dot image and handing it to the print engine.
#include "image_builder.h"

#include "dot_image.h"
#include "file_watch.h"
#include "run.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

// Cairo keeps A1 pixels in native-endian 32-bit words, leftmost pixel in the lowest bit; on a
// little-endian processor that is bit 0 of each byte, which the writer reverses.
static_assert(std::endian::native == std::endian::little, "A1 rows are bit-reversed per byte");

int label_length = 0;
bool label_length_fixed = false;
int label_scale = 1;
int feel_paper_out = 0;
int label_top = 0;
int label_width = 576;
double currentLeftMargin = 0;
int currentMarkSeek = 0;
int currentLabelLength = 0;
bool page_turned = false;
int page_turn_width = 0;

std::string nameBuff = "/tmp/dot_feeder_intake/dotimage-zzzzzz.pbm";
int newpbm = 0;
std::atomic<int> currentContrast{5};
int global_number_of_copies = 0;
struct timespec start{}, stop{};
double elapsedTime = 0;

int (*render_job_scanner)() = nullptr;
void (*dot_image_written)(const std::string& path) = nullptr;
void (*contrast_trigger_written)(const std::string& path) = nullptr;
int line_counter = 0;

namespace {
// Serialises the writers of the contrast trigger inside this process (the job intake thread and
// the command thread); O_EXCL keeps other processes apart.
std::mutex trigger_lock;

struct BitReverseTable {
    uint8_t v[256];
    constexpr BitReverseTable() : v{} {
        for (int i = 0; i < 256; ++i) {
            int r = 0;
            for (int b = 0; b < 8; ++b)
                if (i & (1 << b)) r |= 0x80 >> b;
            v[i] = static_cast<uint8_t>(r);
        }
    }
};
constexpr BitReverseTable reverse_table;

double seconds_between(const timespec& a, const timespec& b) {
    return double(b.tv_sec - a.tv_sec) + double(b.tv_nsec - a.tv_nsec) / 1e9;
}
}  // namespace

uint8_t Reverse8Bits(uint8_t b) { return reverse_table.v[b]; }

std::vector<uint8_t> a1_rows_msb_first(cairo_surface_t* a1, int row_bytes) {
    cairo_surface_flush(a1);
    const uint8_t* data = cairo_image_surface_get_data(a1);
    int height = cairo_image_surface_get_height(a1);
    int stride = cairo_image_surface_get_stride(a1);
    if (!data || height <= 0 || row_bytes <= 0) return {};
    row_bytes = std::min(row_bytes, stride);
    std::vector<uint8_t> rows(size_t(height) * size_t(row_bytes));
    for (int r = 0; r < height; ++r) {
        const uint8_t* src = data + size_t(r) * size_t(stride);
        uint8_t* dst = rows.data() + size_t(r) * size_t(row_bytes);
        int i = 0;
        for (; i + 8 <= row_bytes; i += 8) {  // eight bytes at a time: each byte's bits swapped end for end
            uint64_t v;
            std::memcpy(&v, src + i, 8);
            v = ((v >> 1) & 0x5555555555555555ull) | ((v & 0x5555555555555555ull) << 1);
            v = ((v >> 2) & 0x3333333333333333ull) | ((v & 0x3333333333333333ull) << 2);
            v = ((v >> 4) & 0x0F0F0F0F0F0F0F0Full) | ((v & 0x0F0F0F0F0F0F0F0Full) << 4);
            std::memcpy(dst + i, &v, 8);
        }
        for (; i < row_bytes; ++i) dst[i] = reverse_table.v[src[i]];
    }
    return rows;
}

int page_rows() {
    double h;
    if (currentMarkSeek == 3) {
        h = currentLabelLength;
    } else {
        double x0 = 0, y0 = 0, w = 0, hh = 0;
        if (recording_surface) cairo_recording_surface_ink_extents(recording_surface, &x0, &y0, &w, &hh);
        // The lowest ink drawn: a page without an exact length never cuts it off.
        double ink_bottom = (w > 0 && hh > 0) ? std::max(0.0, y0 + hh) : 0.0;
        h = label_length != 0 ? double(label_length) : ink_bottom;
        if (!label_length_fixed) h = std::max(h, ink_bottom);
        int scale = label_scale > 0 ? label_scale : 1;
        h = scale * h + feel_paper_out;
    }
    // Room for the part of the last text line that lies outside its ink.
    double rows = std::trunc(h + 2.0 * (double(pangoRectangle_logical.height) - pangoRectangle_ink.height));
    if (!std::isfinite(rows) || rows < 1) return 1;
    if (rows > MAX_PAGE_ROWS) return MAX_PAGE_ROWS;
    return static_cast<int>(rows);
}

cairo_surface_t* a1_from_coverage(cairo_surface_t* a8) {
    int width = cairo_image_surface_get_width(a8), rows = cairo_image_surface_get_height(a8);
    cairo_surface_t* image = cairo_image_surface_create(CAIRO_FORMAT_A1, width, rows);
    cairo_surface_flush(a8);
    cairo_surface_flush(image);
    const uint8_t* src = cairo_image_surface_get_data(a8);
    uint8_t* dst = cairo_image_surface_get_data(image);
    if (!src || !dst || cairo_image_surface_get_format(a8) != CAIRO_FORMAT_A8) return image;
    const int src_stride = cairo_image_surface_get_stride(a8);
    const int dst_stride = cairo_image_surface_get_stride(image);
    for (int r = 0; r < rows; ++r) {
        const uint8_t* in = src + size_t(r) * size_t(src_stride);
        uint8_t* out = dst + size_t(r) * size_t(dst_stride);
        std::memset(out, 0, size_t(dst_stride));
        // A1 keeps the leftmost dot of each byte in its lowest bit: the top bits of eight coverage
        // bytes gathered in order make one byte.
        int x = 0;
        for (; x + 8 <= width; x += 8) {
            uint64_t v;
            std::memcpy(&v, in + x, 8);
            out[x >> 3] = uint8_t(((v & 0x8080808080808080ull) * 0x0002040810204081ull) >> 56);
        }
        for (; x < width; ++x)
            if (in[x] >= 0x80) out[x >> 3] = uint8_t(out[x >> 3] | (1u << (x & 7)));
    }
    cairo_surface_mark_dirty(image);
    return image;
}

void turn_a1_half(cairo_surface_t* a1, int width) {
    cairo_surface_flush(a1);
    uint8_t* data = cairo_image_surface_get_data(a1);
    int rows = cairo_image_surface_get_height(a1);
    int stride = cairo_image_surface_get_stride(a1);
    width = std::clamp(width, 0, cairo_image_surface_get_width(a1));
    if (!data || rows <= 0 || width <= 0) return;
    // A1 keeps the leftmost dot of each byte in its lowest bit.
    auto get = [](const uint8_t* row, int x) { return (row[x >> 3] >> (x & 7)) & 1; };
    std::vector<uint8_t> top(static_cast<size_t>(stride)), bottom(static_cast<size_t>(stride));
    auto turned = [&](const uint8_t* src, std::vector<uint8_t>& out) {
        std::fill(out.begin(), out.end(), 0);
        for (int x = 0; x < width; ++x)
            if (get(src, width - 1 - x)) out[size_t(x >> 3)] = uint8_t(out[size_t(x >> 3)] | (1u << (x & 7)));
    };
    for (int r = 0, s = rows - 1; r <= s; ++r, --s) {
        uint8_t* a = data + size_t(r) * size_t(stride);
        uint8_t* b = data + size_t(s) * size_t(stride);
        turned(a, top);
        turned(b, bottom);
        std::memcpy(a, bottom.data(), bottom.size());
        if (b != a) std::memcpy(b, top.data(), top.size());
    }
    cairo_surface_mark_dirty(a1);
}

cairo_surface_t* rasterise_recording(cairo_surface_t* recording, int width, int rows, double scale, double dx, double dy) {
    // Drawn into 8-bit coverage first: cairo composites every drawing operation onto a 1-bit
    // target through a scratch mask of the whole target, so a page of many fields would cost as
    // many page-sized clears.
    cairo_surface_t* cover = cairo_image_surface_create(CAIRO_FORMAT_A8, width, rows);
    if (recording) {
        cairo_t* cr = cairo_create(cover);
        cairo_scale(cr, scale, scale);
        cairo_set_source_surface(cr, recording, dx, dy);
        cairo_set_operator(cr, CAIRO_OPERATOR_OVER);
        cairo_paint(cr);
        cairo_destroy(cr);
    }
    cairo_surface_t* image = a1_from_coverage(cover);
    cairo_surface_destroy(cover);
    return image;
}

void render_image_as_dotimage() {
    int rows = page_rows();
    int scale = label_scale > 0 ? label_scale : 1;
    cairo_surface_t* image = rasterise_recording(recording_surface, HEAD_DOTS, rows, scale, currentLeftMargin, label_top);
    if (page_turned) turn_a1_half(image, page_turn_width > 0 ? std::min(page_turn_width, HEAD_DOTS) : HEAD_DOTS);
    start_one_pbm();
    write_dotimage(image);
    clock_gettime(CLOCK_MONOTONIC, &stop);
    elapsedTime = seconds_between(start, stop);
    dbg("DONE %lf\n", elapsedTime);

    boundingBox_y = IMAGE_PADDING;
    pangoRectangle_logical.height = 0;
    pangoRectangle_ink.height = 0;
    pangoRectangle_ink.y = 0;

    cairo_surface_destroy(image);
    if (recording_cairo_context) cairo_destroy(recording_cairo_context);
    if (recording_surface) cairo_surface_destroy(recording_surface);
    recording_cairo_context = nullptr;
    recording_surface = nullptr;
    release_layout_context();
    release_font_description();
}

void render_image_as_dotimage2() {
    int rows = page_rows();
    int scale = label_scale > 0 ? label_scale : 1;
    cairo_surface_t* image = rasterise_recording(recording_surface, HEAD_DOTS, rows, scale, currentLeftMargin, label_top);
    if (page_turned) turn_a1_half(image, page_turn_width > 0 ? std::min(page_turn_width, HEAD_DOTS) : HEAD_DOTS);
    start_one_pbm();
    write_dotimage(image);
    clock_gettime(CLOCK_MONOTONIC, &stop);
    elapsedTime = seconds_between(start, stop);
    cairo_surface_destroy(image);
}

FILE* create_unique_file_name(const std::string& folder) {
    std::string name = folder + "/dotimage-XXXXXX.pbm";
    std::vector<char> buf(name.begin(), name.end());
    buf.push_back('\0');
    int fd = mkstemps(buf.data(), 4);
    if (fd < 0) {
        std::fprintf(stderr, "%s: %s\n", buf.data(), std::strerror(errno));
        return nullptr;
    }
    fchmod(fd, 0644);
    FILE* f = fdopen(fd, "w+");
    if (!f) {
        int err = errno;
        close(fd);
        unlink(buf.data());
        std::fprintf(stderr, "%s: %s\n", buf.data(), std::strerror(err));
        return nullptr;
    }
    nameBuff = buf.data();
    return f;
}

void write_dotimage(cairo_surface_t* image) {
    FILE* f = create_unique_file_name(PATH_TO_DOTIMAGE_FILES);
    if (!f) return;
    if (recording_surface) cairo_surface_flush(recording_surface);
    int height = cairo_image_surface_get_height(image);
    std::string header = dot_image_header(HEAD_DOTS, height, true);
    std::vector<uint8_t> raster = a1_rows_msb_first(image, HEAD_DOTS / 8);
    bool ok = std::fwrite(header.data(), 1, header.size(), f) == header.size() &&
              (raster.empty() || std::fwrite(raster.data(), 1, raster.size(), f) == raster.size());
    ok = (std::fflush(f) == 0) && ok;
    if (std::fclose(f) != 0) ok = false;
    if (!ok) std::fprintf(stderr, "%s: %s\n", nameBuff.c_str(), std::strerror(errno));
    if (dot_image_written) dot_image_written(nameBuff);
    global_number_of_copies = 0;
    cairo_surface_mark_dirty(image);
}

void start_one_pbm() {
    // The print engine removes the previous image once it has read it; the wait sleeps until the
    // removal and says so every 30 s while the engine does not take it.
    using clock = std::chrono::steady_clock;
    const auto start = clock::now();
    auto report = start + std::chrono::seconds(30);
    wait_while_exists(nameBuff, 1000, [&] {
        auto now = clock::now();
        if (now >= report) {
            long s = long(std::chrono::duration_cast<std::chrono::seconds>(now - start).count());
            std::fprintf(stderr, "still waiting for the print engine to take %s (%ld s)\n", nameBuff.c_str(), s);
            report += std::chrono::seconds(30);
        }
        return false;
    });
    newpbm = 1;
}

int init_get_newpbm() {
    int v = newpbm;
    newpbm = 0;
    return v;
}

int get_current_contrast() { return currentContrast.load(); }

void set_current_contrast(int index) {
    currentContrast.store(index);
    write_contrast_trigger(index);
}

void start_dot_feeder() { write_contrast_trigger(get_current_contrast()); }

void write_contrast_trigger(int index) {
    std::lock_guard<std::mutex> hold(trigger_lock);
    std::string path = IMSTART_INTAKE_FOLDER + "/" + IMSTART_TRIGGER_FILENAME;
    bool made_folder = false;
    for (;;) {
        // Created exclusively: a trigger that is still waiting for the print engine is never
        // overwritten, whoever wrote it.
        int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            char text[16];
            int n = std::snprintf(text, sizeof text, "%d\n", index);
            bool ok = write(fd, text, size_t(n)) == n;
            if (close(fd) != 0 || !ok) std::fprintf(stderr, "%s: %s\n", path.c_str(), std::strerror(errno));
            if (contrast_trigger_written) contrast_trigger_written(path);
            return;
        }
        if (errno == EEXIST) {
            if (g_debug_msg == 1) {
                run_shell("echo 0 > /tmp/wait4im");
                std::printf("\n===============wait for image=================");
                std::fflush(stdout);
            }
            wait_while_exists(path, 1000);  // the print engine removes it once applied
            continue;
        }
        if (errno == ENOENT && !made_folder) {
            made_folder = true;
            if (mkdir(IMSTART_INTAKE_FOLDER.c_str(), 0777) == 0 || errno == EEXIST) continue;
        }
        std::fprintf(stderr, "%s: %s\n", path.c_str(), std::strerror(errno));
        return;
    }
}

// Shapes drawn over a scanner-driven job when DEBUG_MSG is 1, to check the rasteriser.
static void draw_debug_pattern() {
    cairo_t* cr = recording_cairo_context;
    if (!cr) return;
    cairo_save(cr);
    for (int i = 0; i < 5; ++i) {
        cairo_set_line_width(cr, 2 + i);
        cairo_rectangle(cr, 20 + 10 * i, 20 + 10 * i, 200, 200);
        cairo_stroke(cr);
    }
    for (int i = 0; i < 4; ++i) {
        cairo_set_line_width(cr, 2 + i);
        cairo_new_sub_path(cr);
        cairo_arc(cr, 250 + 100 * i, 250 + 100 * i, 100, 0, 2 * M_PI);
        cairo_stroke(cr);
    }
    for (int i = 0; i < 12; ++i) {
        cairo_set_line_width(cr, 2 + i % 4);
        cairo_move_to(cr, 20, 700 + 20 * i);
        cairo_line_to(cr, 700, 700 + 20 * i + 10 * (i % 3));
        cairo_stroke(cr);
    }
    cairo_restore(cr);
}

void process_new_print_job(const char* path) {
    clock_gettime(CLOCK_MONOTONIC, &start);
    init_rendering_system();
    yyin = std::fopen(path, "r");
    if (!yyin) {
        std::perror(path);
    } else {
        continueParsing = 1;
        peekedChars = 0;
        if (render_job_scanner) render_job_scanner();
        if (g_debug_msg == 1) draw_debug_pattern();
        if (global_line_print_enabled_flag) render_image_as_dotimage();
        std::fclose(yyin);
        yyin = nullptr;
    }
    line_counter = 0;
}

void prepare_graphics_job_for_profiler(const char* path) {
    FILE* in = std::fopen(path, "rb");
    if (!in) {
        std::printf("Error opening New Job File\n");
        return;
    }
    const size_t row_bytes = HEAD_DOTS / 8;
    const size_t limit = size_t(MAX_PAGE_ROWS) * row_bytes;  // what the print engine takes
    std::vector<uint8_t> raster;
    int c;
    while ((c = std::fgetc(in)) != EOF) {
        if (c != 0x1B) continue;
        int kind = std::fgetc(in);
        if (kind == EOF) break;
        if (kind != '#' && kind != 'V') {
            std::ungetc(kind, in);
            continue;
        }
        int a = std::fgetc(in), b = std::fgetc(in);
        if (a == EOF || b == EOF) break;
        long n = long(b - 8) * a;
        for (long i = 0; i < n; ++i) {
            int d = std::fgetc(in);
            if (d == EOF) break;
            if (raster.size() < limit) raster.push_back(static_cast<uint8_t>(d));
        }
    }
    std::fclose(in);
    // Whole rows only: the header's height must describe every byte that follows it.
    int height = static_cast<int>(raster.size() / row_bytes);
    if (height > 0) {
        std::string out = PATH_TO_DOTIMAGE_FILES + "/dotimage.pbm";
        if (!write_dot_image_file(out, HEAD_DOTS, height, raster.data(), true))
            dbg("Error opening dotimage File\n");
    }
    unlink(path);
}
