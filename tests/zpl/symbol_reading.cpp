#include "symbol_reading.h"

#include <glib.h>

#include <algorithm>
#include <fstream>
#include <sstream>

namespace {
std::string write_map(const DotImage& img, const std::string& folder, InkBox box, int scale, int border) {
    if (box.empty) box = InkBox{false, 0, 0, img.width - 1, img.height - 1};
    std::string path = folder + "/symbols.pgm";
    int w = box.width() * scale + 2 * border, h = box.height() * scale + 2 * border;
    std::ofstream out(path, std::ios::binary);
    out << "P5\n" << w << " " << h << "\n255\n";
    std::string row(size_t(w), '\xff');
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            int ix = (x - border) / scale + box.left, iy = (y - border) / scale + box.top;
            bool inside = x >= border && y >= border && x < w - border && y < h - border;
            row[size_t(x)] = inside && img.dot(ix, iy) ? '\0' : '\xff';
        }
        out.write(row.data(), std::streamsize(row.size()));
    }
    return path;
}
}  // namespace

InkBox grown(const DotImage& img, InkBox box, int by) {
    box.left = std::max(0, box.left - by);
    box.top = std::max(0, box.top - by);
    box.right = std::min(img.width - 1, box.right + by);
    box.bottom = std::min(img.height - 1, box.bottom + by);
    return box;
}

std::vector<ReadSymbol> read_symbols(const DotImage& img, const std::string& folder, InkBox box, int scale) {
    std::string path = write_map(img, folder, box, scale, 20);
    std::string out = program_output({"/usr/bin/python3", std::string(PRINTER_SOURCE_DIR) + "/tests/zpl/read_symbols.py", path});
    std::vector<ReadSymbol> found;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        size_t a = line.find('\t'), b = line.find('\t', a + 1);
        if (a == std::string::npos || b == std::string::npos) continue;
        found.push_back({line.substr(0, a), line.substr(a + 1, b - a - 1), line.substr(b + 1)});
    }
    return found;
}

std::vector<std::string> texts_of(const std::vector<ReadSymbol>& symbols, const std::string& format) {
    std::vector<std::string> texts;
    for (const ReadSymbol& s : symbols)
        if (s.format == format) texts.push_back(s.text);
    std::sort(texts.begin(), texts.end());
    return texts;
}

std::string zbar_read(const DotImage& img, const std::string& folder, InkBox box) {
    std::string path = write_map(img, folder, box, 1, 20);
    return program_output({"zbarimg", "-q", "--raw", path});
}

std::string ocr(const DotImage& img, const std::string& folder, InkBox box, const std::string& letters) {
    std::string path = write_map(img, folder, box, 3, 30);
    std::vector<std::string> args{"tesseract", path, "stdout", "--psm", "6"};
    if (!letters.empty()) {
        args.push_back("-c");
        args.push_back("tessedit_char_whitelist=" + letters);
    }
    std::string text = program_output(args);
    text.erase(std::remove_if(text.begin(), text.end(), [](char c) { return c == ' ' || c == '\n'; }), text.end());
    return text;
}
