// Pages and jobs: the page recording, the dot image of each page, and one job from its file.
#include "quorvel.h"

#include "image_builder.h"
#include "run.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

namespace {
bool page_has_ink() {
    if (!recording_surface) return false;
    double x = 0, y = 0, w = 0, h = 0;
    cairo_recording_surface_ink_extents(recording_surface, &x, &y, &w, &h);
    return w > 0 && h > 0;
}

template <typename Scan>
int run_job(QuorvelState& q, Scan scan) {
    clock_gettime(CLOCK_MONOTONIC, &start);
    q.pages_in_job = 0;
    q.line.clear();
    open_page(q);
    select_default_pitch(q);
    scan();
    end_pending_line(q);
    finish_page(q);
    discard_render_state();
    q.page_open = false;
    return q.pages_in_job;
}
}  // namespace

int quorvel_shell(QuorvelState& q, const char* line) { return q.shell ? q.shell(line) : run_shell(line); }

void open_page(QuorvelState& q) {
    discard_render_state();
    new_render_state();
    global_line_print_enabled_flag = 0;
    q.boundingBox_y = 0;
    q.line_x = q.currentLeftMarginOffset;
    q.page_open = true;
}

bool finish_page(QuorvelState& q) {
    bool wrote = false;
    if (q.page_open && page_has_ink()) {
        // The page is exactly as long as the cursor has moved: the sum of the line advances,
        // graphics and gaps.
        double rows = std::ceil(q.boundingBox_y);
        label_length = int(std::clamp(rows, 1.0, double(MAX_PAGE_ROWS)));
        label_length_fixed = true;
        label_scale = 1;
        feel_paper_out = 0;
        label_top = 0;
        pangoRectangle_logical = PangoRectangle{0, 0, 0, 0};
        pangoRectangle_ink = PangoRectangle{0, 0, 0, 0};
        render_image_as_dotimage();
        label_length = 0;
        label_length_fixed = false;
        ++q.pages_in_job;
        wrote = true;
    }
    open_page(q);
    return wrote;
}

void form_feed(QuorvelState& q) {
    end_pending_line(q);
    finish_page(q);
}

int process_job(QuorvelState& q, const char* path) {
    FILE* f = std::fopen(path, "rb");
    if (!f) {
        std::perror(path);
        return -1;
    }
    int pages = run_job(q, [&] { quorvel_scan_file(q, f); });
    std::fclose(f);
    return pages;
}

int process_job_bytes(QuorvelState& q, const uint8_t* data, size_t size) {
    return run_job(q, [&] { quorvel_scan_bytes(q, data, size); });
}

void take_job(QuorvelState& q, const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        dbg("intake: %s is gone or not a file; skipped\n", path.c_str());
        return;
    }
    load_image_settings(q);
    q.contrast = get_default_contrast();
    set_current_contrast(q.contrast);
    int pages = process_job(q, path.c_str());
    if (pages <= 0) quorvel_shell(q, "/root/engine_cmd B 0");
    if (unlink(path.c_str()) != 0 && errno != ENOENT) std::perror(path.c_str());
}
