// One job of the document interpreter: out of the intake, the mode, the outside tool for its kind,
// the pages as dot images, "/root/engine_cmd B 0".
#include "pdf.h"

#include "image_builder.h"
#include "keyfile.h"
#include "letter_table.h"
#include "run.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace {
void take(std::string& into, const std::string& value) {
    if (!value.empty()) into = value;
}

std::string format_double(const char* fmt, double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, fmt, v);
    return buf;
}

// Moves the job out of the intake (its name is free for the next job at once). Across file
// systems it is copied.
bool move_job(const std::string& from, const std::string& to) {
    if (std::rename(from.c_str(), to.c_str()) == 0) return true;
    if (errno != EXDEV) return false;
    FILE* in = std::fopen(from.c_str(), "rb");
    if (!in) return false;
    FILE* out = std::fopen(to.c_str(), "wb");
    bool ok = out != nullptr;
    char buf[65536];
    size_t n;
    while (ok && (n = std::fread(buf, 1, sizeof buf, in)) > 0) ok = std::fwrite(buf, 1, n, out) == n;
    ok = !std::ferror(in) && ok;
    std::fclose(in);
    if (out) ok = std::fclose(out) == 0 && ok;
    if (ok) unlink(from.c_str());
    return ok;
}

// Page files the rasteriser wrote ("<prefix>-<n>.pbm"), in page order.
std::vector<std::string> page_files(const std::string& folder) {
    std::vector<std::pair<long, std::string>> found;
    if (DIR* d = opendir(folder.c_str())) {
        while (struct dirent* e = readdir(d)) {
            const char* dash = std::strrchr(e->d_name, '-');
            if (!dash || e->d_name[0] == '.') continue;
            found.emplace_back(std::strtol(dash + 1, nullptr, 10), folder + "/" + e->d_name);
        }
        closedir(d);
    }
    std::sort(found.begin(), found.end());
    std::vector<std::string> paths;
    for (auto& f : found) paths.push_back(std::move(f.second));
    return paths;
}

void empty_folder(const std::string& folder) {
    mkdir(folder.c_str(), 0755);
    if (DIR* d = opendir(folder.c_str())) {
        while (struct dirent* e = readdir(d))
            if (e->d_name[0] != '.') unlink((folder + "/" + e->d_name).c_str());
        closedir(d);
    }
}
}  // namespace

void pdf_take_global_defines(PdfState& s, const GlobalDefines& g) {
    take(s.paths.engine_intake, g.ENGINE_INTAKE_FOLDER);
    take(s.paths.image_config, g.IMAGE_CONFIG_FILEPATH);
    take(s.paths.logo_list, g.PATH_TO_LOGO_LIST);
    take(s.paths.logo_web_table, g.PATH_TO_LOGO_WEB_TABLE);
    take(s.paths.font_names, g.PATH_TO_FONT_NAMES);
    take(s.paths.font_web_table, g.PATH_TO_FONT_WEB_TABLE);
    if (g.PRINTHEAD_DPI > 0) s.PRINTHEAD_DPI = g.PRINTHEAD_DPI;
    if (g.PRINTHEAD_DOT_WIDTH > 0) s.PRINTHEAD_DOT_WIDTH = g.PRINTHEAD_DOT_WIDTH;
}

void load_default_emulation(PdfState& s) {
    std::string name = key_string(s.paths.image_config, "Image", "configEmulation");
    if (name.size() > EMULATION_NAME_MAX) name.resize(EMULATION_NAME_MAX);
    s.defaultEmulation = name;
}

void rebuild_start_tables(const PdfState& s) {
    if (!rebuild_letter_table(s.paths.logo_list, s.paths.logo_web_table, "ABCDEFGHIJKL"))
        dbg("cannot write %s\n", s.paths.logo_web_table.c_str());
    if (!rebuild_letter_table(s.paths.font_names, s.paths.font_web_table, "ABCDEFGHIJKLMNOPQRSTUVWXYZ"))
        dbg("cannot write %s\n", s.paths.font_web_table.c_str());
}

int pdf_shell(PdfState& s, const char* line) { return s.shell ? s.shell(line) : run_shell(line); }

int run_tool(PdfState& s, const std::vector<std::string>& argv) {
    auto t0 = std::chrono::steady_clock::now();
    int rc = run_argv_limited(argv, s.tool_limit_ms);
    s.tool_ms += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    if (rc == RUN_TIMED_OUT) s.tool_timed_out = true;
    return rc;
}

int render_pdf(PdfState& s, const std::string& pdf) {
    int before = s.images_in_job;
    const int batch = std::max(1, s.pages_per_run);
    // A few pages at a time: the pages wait as files until they are dot images.
    for (int first = 1;; first += batch) {
        empty_folder(s.paths.pages);
        int rc = run_tool(s, {"pdftoppm", "-mono", "-r", format_double("%lf", s.PRINTHEAD_DPI), "-scale-to-x",
                              std::to_string(s.PRINTHEAD_DOT_WIDTH), "-scale-to-y", "-1", "-f",
                              std::to_string(first), "-l", std::to_string(first + batch - 1), pdf,
                              s.paths.pages + "/page"});
        std::vector<std::string> pages = page_files(s.paths.pages);
        for (const std::string& page : pages) {
            pbm_to_dot_images(s, page);
            unlink(page.c_str());
        }
        if (first == 1) dbg(rc == 0 ? "PDF Render Success  retval %d\n" : "PDF Render Fail  retval %d\n", rc);
        if (rc != 0 || int(pages.size()) < batch) break;
    }
    return s.images_in_job - before;
}

int render_postscript(PdfState& s, const std::string& ps) {
    unlink(s.paths.new_pdf.c_str());
    int rc = run_tool(s, {"ps2pdf", "-sPAPERSIZE=a4", "-dOptimize=true", "-dEmbedAllFonts=true",
                          "-sOutputFile=" + s.paths.new_pdf, ps, s.paths.new_pdf});
    int images = 0;
    if (rc == 0) images = render_pdf(s, s.paths.new_pdf);
    dbg(rc == 0 && images > 0 ? "PS Render Success  retval %d\n" : "PS Render Fail  retval %d\n", rc);
    unlink(s.paths.new_pdf.c_str());
    return images;
}

int render_picture(PdfState& s, const std::string& picture) {
    // Never the picture of an earlier job: the converter's output is gone before it runs.
    unlink(s.paths.render_png.c_str());
    int rc = run_tool(s, {"convert", "-colorspace", "gray", "-gamma", "2.8", "-set", "units", "PixelsPerInch",
                          "-density", format_double("%f", s.PRINTHEAD_DPI), "-resize",
                          std::to_string(s.PRINTHEAD_DOT_WIDTH) + "X", picture, s.paths.render_png});
    if (rc != 0) {
        dbg("retval Error:%d\n", rc);
        return 0;
    }
    return png_to_dot_images(s, s.paths.render_png);
}

void take_job(PdfState& s, const std::string& path) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return;
    dbg("The file %s was moved to %s\n", path.c_str(), s.paths.image_file.c_str());
    s.images_in_job = 0;
    s.tool_ms = 0;
    s.tool_timed_out = false;
    clock_gettime(CLOCK_MONOTONIC, &start);
    const std::string& job = s.paths.image_file;
    if (!move_job(path, job)) {
        std::fprintf(stderr, "%s: cannot be taken: %s\n", path.c_str(), std::strerror(errno));
        unlink(path.c_str());
    } else {
        set_current_contrast(get_default_contrast());
        switch (choose_render_mode(s, job)) {
        case RenderMode::pdf: render_pdf(s, job); break;
        case RenderMode::postscript: render_postscript(s, job); break;
        case RenderMode::picture: render_picture(s, job); break;
        }
        if (s.tool_timed_out) std::fprintf(stderr, "%s: a converter was stopped at its time limit\n", path.c_str());
        unlink(job.c_str());
    }
    clock_gettime(CLOCK_MONOTONIC, &stop);
    dbg("DONE %lf\n", double(stop.tv_sec - start.tv_sec) + double(stop.tv_nsec - start.tv_nsec) / 1e9);
    pdf_shell(s, "/root/engine_cmd B 0");
}
