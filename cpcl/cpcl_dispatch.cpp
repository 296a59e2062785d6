// The dispatch table, word splitting and the command loop.
#include "cpcl_commands.h"
#include "cpcl_input.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace cpcl {

std::string_view without_line_end(std::string_view line) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
    return line;
}

Words split_words(std::string_view line) {
    Words words;
    line = without_line_end(line);
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
        if (i > start) words.w.emplace_back(line.substr(start, i - start));
    }
    return words;
}

size_t data_offset(std::string_view line, size_t params) {
    size_t i = 0;
    for (size_t p = 0; p < params; ++p) {
        while (i < line.size() && line[i] == ' ') ++i;
        if (i >= line.size() || line[i] == '\r' || line[i] == '\n') return std::string_view::npos;
        while (i < line.size() && line[i] != ' ' && line[i] != '\r' && line[i] != '\n') ++i;
        if (i >= line.size() || line[i] != ' ') return std::string_view::npos;
    }
    return i + 1;  // one blank separates the data from the last parameter
}

std::string data_after(std::string_view line, size_t params) {
    size_t at = data_offset(line, params);
    if (at == std::string_view::npos || at > line.size()) return {};
    std::string_view rest = line.substr(at);
    size_t end = rest.find_first_of("^\r\n");
    return std::string(rest.substr(0, end));
}

bool parse_int(std::string_view word, long& value) {
    if (word.empty() || word.size() > 18) return false;
    std::string text(word);
    char* end = nullptr;
    long v = std::strtol(text.c_str(), &end, 10);
    if (end == text.c_str() || *end != '\0') return false;
    value = v;
    return true;
}

int int_word(const Words& w, size_t i, int fallback) {
    long v = 0;
    if (!w.has(i) || !parse_int(w[i], v)) return fallback;
    return int(std::clamp(v, -1000000L, 1000000L));
}

double dots_word(const CpclState& s, const Words& w, size_t i, double fallback) {
    if (!w.has(i)) return fallback;
    char* end = nullptr;
    double v = std::strtod(w[i].c_str(), &end);
    if (end == w[i].c_str() || !std::isfinite(v)) return fallback;
    // Nothing on a label lies further than some metres of dots away (the longest page at the finest
    // resolution is well inside); drawing much further out costs the rasteriser dearly.
    return std::clamp(v * s.unit, -100000.0, 100000.0);
}

namespace {
using Handler = void (*)(CpclState&, const std::string&, const Words&);

void h_nothing(CpclState&, const std::string&, const Words&) {}
void h_print(CpclState& s, const std::string&, const Words&) { print_command(s); }

struct Entry {
    std::string_view word;
    Handler handler;
};

// Every command word. Words the printer accepts without doing anything are here too, so that they
// never print as running text in line-printer mode.
constexpr Entry TABLE[] = {
    {"PRINT", h_print},
    {"FORM", h_nothing},
    {"ENCODING", h_encoding},
    {"TEXT", h_text},
    {"T", h_text},
    {"TEXT90", h_text90},
    {"VTEXT", h_text90},
    {"T90", h_text90},
    {"VT", h_text90},
    {"TEXT180", h_text180},
    {"T180", h_text180},
    {"TEXT270", h_text270},
    {"T270", h_text270},
    {"CONCAT", h_concat},
    {"VCONCAT", h_concat},
    {"ENDCONCAT", h_endconcat},
    {"PAGE-WIDTH", h_page_width},
    {"PW", h_page_width},
    {"CENTER", h_justify},
    {"LEFT", h_justify},
    {"RIGHT", h_justify},
    {"SETMAG", h_setmag},
    {"CONTRAST", h_contrast},
    {"PREFEED", h_prefeed},
    {"POSTFEED", h_nothing},
    {"SETLP", h_setlp},
    {"SETLF", h_setlf},
    {"LMARGIN", h_lmargin},
    {"SETBOLD", h_setbold},
    {"UNDERLINE", h_underline},
    {"BARCODE", h_barcode},
    {"B", h_barcode},
    {"VBARCODE", h_vbarcode},
    {"VB", h_vbarcode},
    {"BARCODE-TEXT", h_barcode_text},
    {"BT", h_barcode_text},
    {"ENDPDF", h_endpdf},
    {"ENDQR", h_endqr},
    {"LOGO", h_logo},
    {"COMPRESSED-GRAPHICS", h_compressed_graphics},
    {"CG", h_compressed_graphics},
    {"PCX", h_pcx},
    {"BOX", h_box},
    {"LINE", h_line},
    {"L", h_line},
    {"IN-INCHES", h_units},
    {"IN-CENTIMETERS", h_units},
    {"IN-MILLIMETERS", h_units},
    {"IN-DOTS", h_units},
    {"SETSP", h_setsp},
    // accepted, no effect
    {"COUNT", h_nothing},  // outside a label with copies
    {"JOURNAL", h_nothing},
    {"SPEED", h_nothing},
    {"TONE", h_nothing},
    {"BEEP", h_nothing},
    {"COUNTRY", h_nothing},
    {"SETFF", h_nothing},
    {"setvar", h_nothing},
    {"getvar", h_nothing},
    {"do", h_nothing},
};

Handler find_handler(std::string_view word) {
    for (const Entry& e : TABLE)
        if (e.word == word) return e.handler;
    return nullptr;
}

bool utility_word(std::string_view w) { return w == "U" || w == "U1" || w == "UTILITIES"; }

// Where a utility header ("! U1 ...", "! U", "! UTILITIES") starts later in a line of running
// text (npos when there is none).
size_t later_utility_header(std::string_view line) {
    for (size_t at = line.rfind('!'); at != std::string_view::npos && at > 0; at = line.rfind('!', at - 1)) {
        Words w = split_words(line.substr(at + 1));
        if (w.size() >= 1 && utility_word(w[0])) return at;
    }
    return std::string_view::npos;
}
}  // namespace

void other_line(CpclState& s, const std::string& line) {
    if (s.collect != Collect::None) {
        collect_symbol_line(s, line);
    } else if (s.concat_open) {
        concat_item(s, line);
    } else if (s.lp_mode) {
        print_running_text(s, without_line_end(line));
    }
}

void dispatch_line(CpclState& s, const std::string& raw) {
    std::string line = raw;
    // "!0 200 ..." is read as "! 0 200 ...".
    if (line.size() > 1 && line[0] == '!' && line[1] != ' ' && line[1] != '\r' && line[1] != '\n')
        line = "! " + raw.substr(1);
    Words w = split_words(line);
    if (w.size() == 0) {
        other_line(s, line);
        return;
    }
    if (w[0].find(';') != std::string::npos) return;  // a comment, wherever it stands
    if (w[0] == "!") {
        bang_line(s, line, w);
        return;
    }
    // Running text followed by a utility command on the same line: the text is printed first.
    if (!s.in_label && s.collect == Collect::None) {
        size_t at = later_utility_header(without_line_end(line));
        if (at != std::string_view::npos) {
            std::string before = line.substr(0, at);
            std::string after = line.substr(at);
            if (!split_words(before).w.empty()) {
                if (!s.lp_mode) enter_line_printer(s);
                print_running_text(s, before);
            }
            dispatch_line(s, after);
            return;
        }
    }
    if (Handler h = find_handler(w[0])) {
        h(s, line, w);
        return;
    }
    other_line(s, line);
}

void handle_line(CpclState& s) {
    if (s.capturing) {
        capture_line(s);
        return;
    }
    dispatch_line(s, s.line);
}

void run_until_end(CpclState& s) {
    for (;;) {
        LineResult r = read_line(s);
        if (r == LineResult::End) break;
        if (r == LineResult::Line) handle_line(s);
        if (s.capturing && s.in.dry_reported) finish_capture(s, false);
    }
    if (s.capturing) finish_capture(s, false);
}

void run_forever(CpclState& s) {
    for (;;) {
        LineResult r = read_line(s);
        if (r == LineResult::Line) handle_line(s);
        if (s.capturing && s.in.dry_reported) finish_capture(s, false);
    }
}

}  // namespace cpcl
