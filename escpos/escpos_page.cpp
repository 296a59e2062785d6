#include "escpos_page.h"

#include "escpos_settings.h"
#include "image_builder.h"
#include "keyfile.h"
#include "settings.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

namespace escpos {

void release_canvas(EscposState& st) {
    if (st.canvas.cr) cairo_destroy(st.canvas.cr);
    if (st.canvas.surface) cairo_surface_destroy(st.canvas.surface);
    st.canvas.surface = nullptr;
    st.canvas.cr = nullptr;
    st.canvas.dots.clear();
    st.canvas.dot_rows = 0;
}

void new_canvas(EscposState& st) {
    release_canvas(st);
    st.canvas.surface = cairo_recording_surface_create(CAIRO_CONTENT_ALPHA, nullptr);
    st.canvas.cr = cairo_create(st.canvas.surface);
    cairo_set_antialias(st.canvas.cr, CAIRO_ANTIALIAS_GRAY);
    cairo_surface_set_fallback_resolution(st.canvas.surface, st.dpi, st.dpi);
}

double clamp_page_y(double y) {
    if (!std::isfinite(y) || y < 0) return 0;
    return std::min(y, double(PAGE_MAX_ROWS));
}

void extend_canvas(EscposState& st, double y) {
    y = clamp_page_y(y);
    if (st.job.canvas_height < y) st.job.canvas_height = y;
}

uint8_t bit_reverse(uint8_t b) {
    static const auto table = [] {
        std::array<uint8_t, 256> t{};
        for (int i = 0; i < 256; ++i) {
            int r = 0;
            for (int bit = 0; bit < 8; ++bit)
                if (i & (1 << bit)) r |= 0x80 >> bit;
            t[size_t(i)] = uint8_t(r);
        }
        return t;
    }();
    return table[b];
}

void place_dots(EscposState& st, const uint8_t* data, int width, int height, int stride, int x, int y) {
    if (width <= 0 || height <= 0 || stride <= 0) return;
    int row_bytes = std::min(stride, (width + 7) / 8);
    long px = long(x) + st.device.currentLeftMargin;  // paper column of the bitmap's dot 0
    int first = std::max(0, -y);
    int last = int(std::min<long>(height, long(PAGE_MAX_ROWS) - y));  // rows [first, last)
    if (last <= first || px >= PAGE_DOTS || px + width <= 0) return;
    Canvas& c = st.canvas;
    if (c.dot_rows < y + last) {
        c.dot_rows = y + last;
        c.dots.resize(size_t(c.dot_rows) * PAGE_BYTES, 0);
    }
    uint8_t last_mask = width % 8 ? uint8_t((1u << (width % 8)) - 1) : 0xff;
    for (int r = first; r < last; ++r) {
        const uint8_t* src = data + size_t(r) * size_t(stride);
        uint8_t* dst = c.dots.data() + size_t(y + r) * PAGE_BYTES;
        for (int i = 0; i < row_bytes; ++i) {
            uint8_t b = src[i];
            if (i == row_bytes - 1 && row_bytes == (width + 7) / 8) b &= last_mask;
            if (!b) continue;
            long dx = px + 8L * i;
            if (dx >= 0 && dx + 8 <= PAGE_DOTS) {
                int q = int(dx >> 3), sh = int(dx & 7);
                dst[q] |= uint8_t(b << sh);
                if (sh) dst[q + 1] |= uint8_t(b >> (8 - sh));
                continue;
            }
            for (int bit = 0; bit < 8; ++bit) {
                long d = dx + bit;
                if ((b & (1u << bit)) && d >= 0 && d < PAGE_DOTS) dst[d >> 3] |= uint8_t(1u << (d & 7));
            }
        }
    }
}

void paint_bitmap(EscposState& st, const uint8_t* data, int width, int height, int stride, double x, double y,
                  double sx, double sy, double degrees) {
    if (!st.canvas.cr || width <= 0 || height <= 0) return;
    int row_bytes = std::min(stride, (width + 7) / 8);
    ++st.bitmap_paints;
    if (sx == 1 && sy == 1 && degrees == 0 && x == std::floor(x) && y == std::floor(y) && std::fabs(x) < 1e6 &&
        std::fabs(y) < 1e6) {
        place_dots(st, data, width, height, stride, int(x), int(y));
        return;
    }
    // Scaled or rotated: through cairo. The recording keeps the surface: it gets its own copy.
    cairo_surface_t* bits = cairo_image_surface_create(CAIRO_FORMAT_A1, width, height);
    if (cairo_surface_status(bits) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(bits);
        return;
    }
    cairo_surface_flush(bits);
    uint8_t* dst = cairo_image_surface_get_data(bits);
    int dst_stride = cairo_image_surface_get_stride(bits);
    for (int r = 0; r < height; ++r) {
        std::memcpy(dst + size_t(r) * size_t(dst_stride), data + size_t(r) * size_t(stride), size_t(row_bytes));
        if (width % 8) dst[size_t(r) * size_t(dst_stride) + size_t(width / 8)] &= uint8_t((1u << (width % 8)) - 1);
    }
    cairo_surface_mark_dirty(bits);
    cairo_t* cr = st.canvas.cr;
    cairo_save(cr);
    cairo_translate(cr, x, y);
    if (degrees != 0) cairo_rotate(cr, degrees * 0.017453292519943295);
    cairo_scale(cr, sx > 0 ? sx : 1, sy > 0 ? sy : 1);
    cairo_set_source_surface(cr, bits, 0, 0);
    cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
    cairo_paint(cr);
    cairo_restore(cr);
    cairo_surface_destroy(bits);
}

namespace {
// ORs the placed dots of paper rows [top, top + rows of the image) into an A1 image.
void or_dots(const Canvas& c, cairo_surface_t* image, int top) {
    cairo_surface_flush(image);
    uint8_t* data = cairo_image_surface_get_data(image);
    int stride = cairo_image_surface_get_stride(image);
    int bytes = std::min(stride, PAGE_BYTES);
    int last = std::min(c.dot_rows, top + cairo_image_surface_get_height(image));
    for (int y = std::max(top, 0); y < last; ++y) {
        const uint8_t* src = c.dots.data() + size_t(y) * PAGE_BYTES;
        uint8_t* dst = data + size_t(y - top) * size_t(stride);
        for (int i = 0; i < bytes; ++i) dst[i] |= src[i];
    }
    cairo_surface_mark_dirty(image);
}
}  // namespace

namespace {
// The slave is told about the page end on mark and label paper.
void send_mark_command(EscposState& st) {
    int mark = st.device.currentMarkSeek;
    char line[128];
    if (mark == 3) {
        std::snprintf(line, sizeof line, "%s %s %d ", st.env.engine_cmd.c_str(), "F", 3);
        if (st.env.shell) st.env.shell(line);
    } else if (mark == 1 || mark == 2) {
        std::snprintf(line, sizeof line, "%s %s %d ", st.env.engine_cmd.c_str(), "F", 4);
        if (st.env.shell) st.env.shell(line);
    }
}

// A new page begins: the canvas is empty and the print position at its top.
void restart_page(EscposState& st) {
    init_job_recorder(st);
    st.page.xpos = 0;
    st.page.ypos = 0;
    new_canvas(st);
    st.datastatus = 0;
    ++st.pages_ended;
}
}  // namespace

void render_page(EscposState& st) {
    double height = st.device.currentMarkSeek == 3 ? double(st.device.currentLabelLength)
                                                   : st.job.canvas_height + st.page.bottom_margin;
    int rows = int(std::min(std::max(height, 0.0), double(PAGE_MAX_ROWS)));
    if (st.job.canvas_height <= 1 || rows <= 0 || !st.canvas.surface) return;
    cairo_surface_flush(st.canvas.surface);
    for (int top = 0; top < rows; top += IMAGE_MAX_ROWS) {
        int h = std::min(IMAGE_MAX_ROWS, rows - top);
        cairo_surface_t* image = cairo_image_surface_create(CAIRO_FORMAT_A1, PAGE_DOTS, h);
        cairo_t* cr = cairo_create(image);
        cairo_set_source_surface(cr, st.canvas.surface, st.device.currentLeftMargin, -top);
        cairo_set_operator(cr, CAIRO_OPERATOR_OVER);
        cairo_paint(cr);
        cairo_destroy(cr);
        or_dots(st.canvas, image, top);
        cairo_surface_flush(image);
        if (st.env.put_image) st.env.put_image(image);
        ++st.images_written;
        cairo_surface_destroy(image);
    }
}

int printout_one_job(EscposState& st) {
    if (st.job.canvas_height < 2) return 0;
    send_mark_command(st);
    if (st.device.currentMarkSeek == 3 && access(st.env.label_config_tmp.c_str(), F_OK) == 0) {
        st.device.currentLabelLength = key_int(st.env.label_config_tmp, "LabelConfig", "LabelLength");
        unlink(st.env.label_config_tmp.c_str());
    }
    render_page(st);
    init_all_properties(st);
    init_horizontal_table(st);
    init_all_buffers(st);
    restart_page(st);
    return 1;
}

void data_empty_print(EscposState& st) {
    if (st.job.canvas_height < 4) return;
    send_mark_command(st);
    render_page(st);
    for (int i = 0; i < st.line.char_idx; ++i) st.line.char_buf[size_t(i)].ypos = 0;
    restart_page(st);
}

void wait_until_removed(const std::string& path, int report_ms) {
    if (access(path.c_str(), F_OK) != 0) return;
    std::string folder = path.substr(0, path.rfind('/'));
    int fd = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (fd >= 0 && inotify_add_watch(fd, folder.c_str(), IN_DELETE | IN_MOVED_FROM | IN_DELETE_SELF) < 0) {
        close(fd);
        fd = -1;
    }
    auto started = std::chrono::steady_clock::now();
    long next_report = report_ms;
    // Without a watch (folder gone, no inotify) the file is looked at every 100 ms instead.
    while (access(path.c_str(), F_OK) == 0) {
        if (fd >= 0) {
            struct pollfd p {fd, POLLIN, 0};
            int rc = poll(&p, 1, 1000);
            if (rc > 0) {
                char buf[4096];
                while (read(fd, buf, sizeof buf) > 0) {}
            } else if (rc < 0 && errno != EINTR) {
                usleep(100000);
            }
        } else {
            usleep(100000);
        }
        long waited = long(std::chrono::duration_cast<std::chrono::milliseconds>(
                               std::chrono::steady_clock::now() - started).count());
        if (waited >= next_report) {
            std::fprintf(stderr, "escpos_interp: the print engine has not taken %s for %ld s; waiting\n",
                         path.c_str(), waited / 1000);
            next_report += report_ms;
        }
    }
    if (fd >= 0) close(fd);
}

void hand_over_dot_image(cairo_surface_t* image) {
    wait_until_removed(nameBuff);
    write_dotimage(image);
    dbg("\n===============new image=================");
}

}  // namespace escpos
