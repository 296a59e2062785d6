// Barcodes: the 1-D types, the human-readable line, PDF417 and QR Code. Symbols are encoded in this
// process through the rendering library (render_symbols.h); no data ever reaches a command line.
#include "cpcl_commands.h"

#include "image_builder.h"
#include "render_symbols.h"

#include <glib.h>
#include <librsvg/rsvg.h>
#include <zint.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>

namespace cpcl {

namespace {
// The width and height of the symbol picture the last generate operation wrote.
bool symbol_size(double& w, double& h) {
    GError* error = nullptr;
    RsvgHandle* handle = rsvg_handle_new_from_file(PATH_TO_BARCODE_SVG.c_str(), &error);
    if (!handle) {
        if (error) g_error_free(error);
        return false;
    }
    rsvg_handle_set_dpi(handle, PRINTHEAD_DPI);
    bool ok = rsvg_handle_get_intrinsic_size_in_pixels(handle, &w, &h) && w > 0 && h > 0;
    g_object_unref(handle);
    return ok;
}

// The encoder's message for data it refuses ("Error 284: Invalid character in data ...").
std::string refusal(int symbology, const std::string& data, int option_1 = 0, int option_2 = 0) {
    zint_symbol* symbol = ZBarcode_Create();
    if (!symbol) return "Error: no memory";
    symbol->symbology = symbology;
    if (option_1 > 0) symbol->option_1 = option_1;
    if (option_2 > 0) symbol->option_2 = option_2;
    ZBarcode_Encode(symbol, reinterpret_cast<const unsigned char*>(data.data()), int(data.size()));
    std::string text = symbol->errtxt;
    ZBarcode_Delete(symbol);
    if (text.empty()) text = "Error: the symbol cannot be made";
    return text;
}

// The refused symbol's message in its place: font 5 size 1 at the origin.
void draw_refusal(CpclState& s, const std::string& message, double x, double y) {
    std::string line = message.substr(0, message.find('\n'));
    draw_text(s, 5, 1, x, y, 0, line);
}

// Where a horizontal symbol of width w goes: by the justification, else at x.
double placed_x(const CpclState& s, double x, double w) {
    double range = s.justify_width > 0 ? s.justify_width : s.page_width;
    double left = s.justify_width > 0 ? x : 0;
    if (s.bar_center) return left + range / 2 - w / 2;
    if (s.bar_right) return left + range - w;
    return x;  // LEFT, and no justification at all
}

// Draws the symbol of the scratch file: upright by the justification, or vertical (reading
// bottom to top) with its lower-left corner at (x, y).
void place_symbol(CpclState& s, double x, double y, bool vertical) {
    double w = 0, h = 0;
    if (!symbol_size(w, h)) {
        release_barcode();
        return;
    }
    w *= globalBarcodeWidthScaling;  // modules of more than one dot (PDF417)
    if (vertical) {
        rotate_barcode = 270;
        render_and_place_barcode(int(std::lround(x)), int(std::lround(y - w)));
    } else {
        rotate_barcode = 0;
        render_and_place_barcode(int(std::lround(placed_x(s, x, w))), int(std::lround(y)));
    }
    rotate_barcode = 0;
    release_barcode();
}

// ---- check characters ---------------------------------------------------------------------------
const char CODE39[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ-. $/+%";

bool all_digits(const std::string& d) {
    return !d.empty() && std::all_of(d.begin(), d.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Code 39: modulo 43 of the character values.
std::string with_mod43(const std::string& d) {
    int sum = 0;
    for (char c : d) {
        const char* p = std::strchr(CODE39, std::toupper(static_cast<unsigned char>(c)));
        if (!p || c == '\0') return d;  // not Code 39 data: the encoder will say so
        sum += int(p - CODE39);
    }
    return d + CODE39[sum % 43];
}

// Interleaved 2 of 5: weights 3 and 1 from the right.
std::string with_weighted_mod10(const std::string& d) {
    if (!all_digits(d)) return d;
    int sum = 0, weight = 3;
    for (auto it = d.rbegin(); it != d.rend(); ++it, weight = 4 - weight) sum += (*it - '0') * weight;
    return d + char('0' + (10 - sum % 10) % 10);
}

// MSI: modulo 10 with every other digit doubled, from the right.
std::string with_msi_mod10(const std::string& d) {
    if (!all_digits(d)) return d;
    int sum = 0;
    bool twice = true;
    for (auto it = d.rbegin(); it != d.rend(); ++it, twice = !twice) {
        int v = (*it - '0') * (twice ? 2 : 1);
        sum += v / 10 + v % 10;
    }
    return d + char('0' + (10 - sum % 10) % 10);
}

// MSI: modulo 11 with weights 2 to 7 from the right (a check of 10 is written "10").
std::string with_msi_mod11(const std::string& d) {
    if (!all_digits(d)) return d;
    int sum = 0, weight = 2;
    for (auto it = d.rbegin(); it != d.rend(); ++it, weight = weight == 7 ? 2 : weight + 1) sum += (*it - '0') * weight;
    int check = (11 - sum % 11) % 11;
    return d + std::to_string(check);
}

// Codabar: start and stop characters A to D around the data (A when the data has none), and for
// CODABAR16 the modulo 16 check character before the stop.
std::string codabar(std::string d, bool check) {
    auto start_stop = [](char c) { return std::strchr("ABCDabcd", c) != nullptr && c != '\0'; };
    if (d.size() < 2 || !start_stop(d.front()) || !start_stop(d.back())) d = "A" + d + "A";
    if (check) {
        static const char VALUES[] = "0123456789-$:/.+ABCD";
        int sum = 0;
        for (char c : d) {
            const char* p = std::strchr(VALUES, std::toupper(static_cast<unsigned char>(c)));
            if (!p || c == '\0') return d;
            sum += int(p - VALUES);
        }
        d.insert(d.size() - 1, 1, VALUES[(16 - sum % 16) % 16]);
    }
    return d;
}

// The last `digits` characters of an EAN/UPC number are its add-on ("+" for the encoder).
std::string with_addon(const std::string& d, size_t digits) {
    if (d.find('+') != std::string::npos || d.size() <= digits) return d;
    return d.substr(0, d.size() - digits) + "+" + d.substr(d.size() - digits);
}

bool is(std::string_view type, std::initializer_list<std::string_view> names) {
    return std::find(names.begin(), names.end(), type) != names.end();
}

void barcode_1d(CpclState& s, const std::string& line, const Words& w, bool vertical) {
    if (w.size() < 7) return;
    int narrow = int_word(w, 2, 1);
    double height = dots_word(s, w, 4, 1);
    if (height < 0) height = 1;
    height = std::min<double>(height, MAX_PAGE_ROWS);
    double x = dots_word(s, w, 5), y = dots_word(s, w, 6);
    gchar* trimmed = g_strstrip(g_strdup(data_after(line, 7).c_str()));
    LinearSymbol sym = linear_symbol(w[1], trimmed);
    g_free(trimmed);
    int scale = narrow_scale(narrow);
    int bars = int(std::ceil(height / scale));  // rows of `scale` dots
    int rc = generate_barcode_symbol(sym.symbology, scale, 2.0 * bars, scale, sym.data.c_str(), int(sym.data.size()),
                                     s.barcode_text ? 1 : 0);
    if (rc != 0) {
        release_barcode();
        draw_refusal(s, refusal(sym.symbology, sym.data), x, y);
        return;
    }
    place_symbol(s, x, y, vertical);
}

// "B PDF-417 x y [XD n] [YD n] [C n] [S n]" and "B QR x y [M n] [U n]": the options anywhere
// after the origin, each a letter, one blank and a number.
int option(const Words& w, const char* name, int fallback) {
    for (size_t i = 4; i + 1 < w.size(); ++i)
        if (w[i] == name) return int_word(w, i + 1, fallback);
    return fallback;
}

void start_symbol(CpclState& s, const Words& w, Collect kind, bool vertical) {
    s.collect = kind;
    s.symbol_data.clear();
    s.symbol_vertical = vertical;
    s.symbol_x = dots_word(s, w, 2);
    s.symbol_y = dots_word(s, w, 3);
    if (kind == Collect::Pdf417) {
        s.pdf_xd = std::clamp(option(w, "XD", 2), 1, 32);
        s.pdf_yd = std::clamp(option(w, "YD", 6), 1, 100);
        s.pdf_columns = std::clamp(option(w, "C", 3), 1, 30);
        s.pdf_security = std::clamp(option(w, "S", 1), 0, 8);
    } else {
        s.qr_model = std::clamp(option(w, "M", 2), 1, 2);
        s.qr_unit = std::clamp(option(w, "U", 6), 1, 32);
    }
}

void barcode(CpclState& s, const std::string& line, const Words& w, bool vertical) {
    if (w.has(1) && w[1] == "PDF-417")
        start_symbol(s, w, Collect::Pdf417, vertical);
    else if (w.has(1) && w[1] == "QR")
        start_symbol(s, w, Collect::Qr, vertical);
    else
        barcode_1d(s, line, w, vertical);
}

// Height of a vertical PDF417 symbol: the stacked-symbol height table, looked up by the label's
// height and the module scale, when it has an entry; else the rows at their own height.
double vertical_pdf417_height(const CpclState& s, int rows) {
    int key = std::clamp((s.height + 5) / 10 * 10, 10, 200);
    double factor = height_scaler(key, double(narrow_scale(s.pdf_xd)));
    double h = factor > 0 ? factor * 3.3 * s.pdf_yd : double(rows) * s.pdf_yd;
    return h * (s.height_scaler > 0 ? s.height_scaler : 1.0);
}

void finish_pdf417(CpclState& s) {
    gchar* trimmed = g_strstrip(g_strdup(s.symbol_data.c_str()));
    std::string data = trimmed;
    g_free(trimmed);
    s.symbol_data.clear();
    double x = s.symbol_x, y = s.symbol_y;
    // The rows the data takes decide the height: each row is YD dots.
    zint_symbol* probe = ZBarcode_Create();
    if (!probe) return;
    probe->symbology = BARCODE_PDF417;
    probe->option_1 = s.pdf_security;
    probe->option_2 = s.pdf_columns;
    int rc = ZBarcode_Encode(probe, reinterpret_cast<const unsigned char*>(data.data()), int(data.size()));
    int rows = probe->rows;
    std::string message = probe->errtxt;
    ZBarcode_Delete(probe);
    if (rc >= ZINT_ERROR || rows <= 0) {
        draw_refusal(s, message.empty() ? "Error: no data" : message, x, y);
        return;
    }
    double height = s.symbol_vertical ? vertical_pdf417_height(s, rows) : double(rows) * s.pdf_yd;
    generate_pdf417_symbol(BARCODE_PDF417, s.pdf_xd, int(std::min<double>(height, MAX_PAGE_ROWS)), s.pdf_columns,
                           s.pdf_security);
    g_strlcpy(pdf417_data, data.c_str(), sizeof pdf417_data);
    int ok = encode_pdf417(int(std::lround(x)), int(std::lround(y)));
    pdf417_data[0] = '\0';
    if (ok != 0) {
        release_barcode();
        return;
    }
    place_symbol(s, x, y, s.symbol_vertical);
}

void finish_qr(CpclState& s) {
    std::string data = qr_payload(s.symbol_data);
    s.symbol_data.clear();
    if (data.empty()) return;
    int unit = s.qr_unit;
    int rc = generate_qr_barcode_symbol(BARCODE_QRCODE, unit, 0, unit, data.data(), int(data.size()), 0, 0);
    if (rc != 0) {
        release_barcode();
        draw_refusal(s, refusal(BARCODE_QRCODE, data), s.symbol_x, s.symbol_y);
        return;
    }
    place_symbol(s, s.symbol_x, s.symbol_y, false);
}
}  // namespace

int narrow_scale(int narrow) { return narrow >= 2 && narrow <= 12 ? narrow + 1 : 2; }

LinearSymbol linear_symbol(std::string_view type, std::string d) {
    if (is(type, {"UPCA", "UPCA2", "UPCA5"}))
        return {BARCODE_UPCA, type == "UPCA" ? d : with_addon(d, type == "UPCA2" ? 2 : 5)};
    if (is(type, {"UPCE", "UPCE2", "UPCE5"}))
        return {BARCODE_UPCE, type == "UPCE" ? d : with_addon(d, type == "UPCE2" ? 2 : 5)};
    if (is(type, {"EAN13", "EAN8"})) return {BARCODE_EANX, d};
    if (is(type, {"EAN132", "EAN82"})) return {BARCODE_EANX, with_addon(d, 2)};
    if (is(type, {"EAN135", "EAN85"})) return {BARCODE_EANX, with_addon(d, 5)};
    if (type == "39") return {BARCODE_CODE39, d};
    if (type == "39C") return {BARCODE_CODE39, with_mod43(d)};
    if (type == "F39") return {BARCODE_EXCODE39, d};  // full ASCII
    if (type == "F39C") {
        bool plain = std::all_of(d.begin(), d.end(), [](char c) { return c != '\0' && std::strchr(CODE39, c); });
        return {BARCODE_EXCODE39, plain ? with_mod43(d) : d};
    }
    if (type == "93") return {BARCODE_CODE93, d};
    if (type == "I2OF5" || type == "I2OF5G") return {BARCODE_C25INTER, d};
    if (type == "I2OF5C") return {BARCODE_C25INTER, with_weighted_mod10(d)};
    if (type == "UCCEAN128") {
        // Application identifiers may come in parentheses.
        if (d.find('[') == std::string::npos) {
            std::replace(d.begin(), d.end(), '(', '[');
            std::replace(d.begin(), d.end(), ')', ']');
        }
        return {BARCODE_GS1_128, d};
    }
    if (type == "128") return {BARCODE_CODE128, d};
    if (type == "CODABAR") return {BARCODE_CODABAR, codabar(d, false)};
    if (type == "CODABAR16") return {BARCODE_CODABAR, codabar(d, true)};
    if (type == "MSI") return {BARCODE_MSI_PLESSEY, d};
    if (type == "MSI10") return {BARCODE_MSI_PLESSEY, with_msi_mod10(d)};
    if (type == "MSI1010") return {BARCODE_MSI_PLESSEY, with_msi_mod10(with_msi_mod10(d))};
    if (type == "MSI1110") return {BARCODE_MSI_PLESSEY, with_msi_mod10(with_msi_mod11(d))};
    if (type == "POSTNET") return {BARCODE_POSTNET, d};
    if (type == "FIM") return {BARCODE_FIM, d};
    return {BARCODE_CODE128, d};
}

std::string qr_payload(std::string_view block) {
    size_t comma = block.find(',');
    if (comma == std::string_view::npos) return {};
    char form = comma > 0 ? block[comma - 1] : 'A';
    std::string_view rest = block.substr(comma + 1);
    size_t end = rest.find_first_of("\r\n");
    if (end != std::string_view::npos) rest = rest.substr(0, end);
    if (form != 'M') return std::string(rest);  // automatic: the rest of the line
    // Manual: comma-separated segments, each led by its mode letter; "B" and a four-digit length
    // lead bytes that may hold commas themselves.
    std::string out;
    size_t i = 0;
    while (i < rest.size()) {
        char mode = rest[i];
        if (mode == 'B' && i + 5 <= rest.size() &&
            std::all_of(rest.begin() + long(i) + 1, rest.begin() + long(i) + 5, [](char c) { return c >= '0' && c <= '9'; })) {
            size_t n = size_t(std::stoi(std::string(rest.substr(i + 1, 4))));
            size_t from = i + 5;
            n = std::min(n, rest.size() - from);
            out.append(rest.substr(from, n));
            i = from + n;
            if (i < rest.size() && rest[i] == ',') ++i;
            continue;
        }
        size_t next = rest.find(',', i);
        std::string_view seg = rest.substr(i, next == std::string_view::npos ? std::string_view::npos : next - i);
        if (!seg.empty() && (seg[0] == 'A' || seg[0] == 'K' || seg[0] == 'N'))
            seg.remove_prefix(1);
        else if (!seg.empty() && seg[0] == 'B')
            seg.remove_prefix(std::min<size_t>(5, seg.size()));
        out.append(seg);
        if (next == std::string_view::npos) break;
        i = next + 1;
    }
    return out;
}

void h_barcode(CpclState& s, const std::string& line, const Words& w) { barcode(s, line, w, false); }
void h_vbarcode(CpclState& s, const std::string& line, const Words& w) { barcode(s, line, w, true); }

void h_barcode_text(CpclState& s, const std::string& line, const Words&) {
    s.barcode_text = line.find("OFF") == std::string::npos;
}

void collect_symbol_line(CpclState& s, const std::string& line) {
    size_t limit = s.collect == Collect::Qr ? QR_DATA_MAX : PDF417_DATA_MAX;
    size_t room = limit > s.symbol_data.size() ? limit - s.symbol_data.size() : 0;
    s.symbol_data.append(line, 0, std::min(room, line.size()));
}

void h_endpdf(CpclState& s, const std::string&, const Words&) {
    if (s.collect != Collect::Pdf417) return;
    s.collect = Collect::None;
    finish_pdf417(s);
}

void h_endqr(CpclState& s, const std::string&, const Words&) {
    if (s.collect != Collect::Qr) return;
    s.collect = Collect::None;
    finish_qr(s);
}

}  // namespace cpcl
