#include "quorvel_test_support.h"

#include "image_builder.h"

#include <glib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

std::vector<std::string> QuorvelTest::shell_lines;

void QuorvelTest::SetUp() {
    RenderTest::SetUp();
    shell_lines.clear();
    q = QuorvelState{};
    std::string src = PRINTER_SOURCE_DIR;
    q.paths.font_map = src + "/rootfs/home/quorvel_font_map.cfg";
    q.paths.font_names = src + "/rootfs/imageConfig/font_list";
    q.paths.font_web_table = dir.path + "/font_web_table";
    q.paths.image_config = src + "/rootfs/imageConfig/image_config.cfg";
    q.paths.logo_list = dir.path + "/logo_list";
    q.paths.logos = dir.path + "/logos";
    q.paths.logos_web = dir.path + "/logosWeb";
    q.paths.header_pbm = dir.path + "/logos/header.pbm";
    q.paths.footer_pbm = dir.path + "/logos/footer.pbm";
    std::filesystem::create_directories(q.paths.logos);
    std::filesystem::create_directories(q.paths.logos_web);
    q.shell = [](const char* line) {
        shell_lines.emplace_back(line);
        return 0;
    };
    PAPER_CONFIG_FILEPATH = dir.path + "/paper_config.cfg";
    write_text_file(PAPER_CONFIG_FILEPATH, "[Paper]\nconfigContrast=5\n");
    load_image_settings(q);
    load_font_map(q);
    load_font_table(q);
    load_logo_table(q);
    select_default_pitch(q);
}

std::vector<DotImage> QuorvelTest::print(const std::string& job) {
    PageTaker taker(images, trigger_folder);
    process_job_bytes(q, reinterpret_cast<const uint8_t*>(job.data()), job.size());
    new_render_state();  // RenderTest's teardown expects a page
    return taker.images();
}

DotImage QuorvelTest::page(const std::string& job) {
    std::vector<DotImage> pages = print(job);
    EXPECT_EQ(pages.size(), 1u) << "dot images of the job";
    return pages.empty() ? DotImage{} : pages.front();
}

int QuorvelTest::count_shell(const std::string& line) const {
    return int(std::count(shell_lines.begin(), shell_lines.end(), line));
}

std::string uncompressed_block(const std::vector<std::vector<uint8_t>>& rows, int bytes_per_row) {
    std::string out;
    out.push_back(char(rows.size()));
    out.push_back(char(bytes_per_row));
    for (const auto& row : rows)
        for (int i = 0; i < bytes_per_row; ++i) out.push_back(char(size_t(i) < row.size() ? row[size_t(i)] : 0));
    return out;
}

std::string compressed_block(const std::vector<std::vector<uint8_t>>& rows, int bytes_per_row) {
    std::string data;
    for (const auto& row : rows)
        for (int i = 0; i < bytes_per_row; ++i) data.push_back(char(size_t(i) < row.size() ? row[size_t(i)] : 0));
    std::string out;
    out.push_back(char(rows.size()));
    out.push_back(char(bytes_per_row));
    size_t i = 0;
    while (i < data.size()) {
        size_t run = 1;
        while (i + run < data.size() && data[i + run] == data[i] && run < 128) ++run;
        if (run >= 2) {  // a repeat: 257 - c copies
            out.push_back(char(257 - run));
            out.push_back(data[i]);
            i += run;
            continue;
        }
        size_t lit = 1;  // a literal stretch up to the next repeat
        while (i + lit < data.size() && lit < 128 && !(i + lit + 1 < data.size() && data[i + lit] == data[i + lit + 1]))
            ++lit;
        out.push_back(char(lit - 1));
        out.append(data, i, lit);
        i += lit;
    }
    return out;
}

void write_grey_map(const DotImage& img, const std::string& path, int top, int bottom, int scale, int border) {
    if (bottom < 0) bottom = img.height - 1;
    int w = img.width * scale + 2 * border, h = (bottom - top + 1) * scale + 2 * border;
    std::ofstream out(path, std::ios::binary);
    out << "P5\n" << w << " " << h << "\n255\n";
    std::string row(size_t(w), '\xff');
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            bool inside = x >= border && y >= border && x < w - border && y < h - border;
            row[size_t(x)] = inside && img.dot((x - border) / scale, (y - border) / scale + top) ? '\0' : '\xff';
        }
        out.write(row.data(), std::streamsize(row.size()));
    }
}

std::string decode_barcodes(const DotImage& img, const std::string& folder) {
    std::string path = folder + "/symbols.pgm";
    write_grey_map(img, path);
    return program_output({"zbarimg", "-q", path});
}

std::string read_text(const DotImage& img, const std::string& folder, int top, int bottom) {
    std::string path = folder + "/text.pgm";
    write_grey_map(img, path, top, bottom, 1, 40);
    std::string text = program_output({"tesseract", path, "stdout", "--psm", "6"});
    text.erase(std::remove_if(text.begin(), text.end(), [](char c) { return c == ' ' || c == '\n'; }), text.end());
    return text;
}
