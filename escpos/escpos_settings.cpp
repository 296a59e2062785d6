#include "escpos_settings.h"

#include "code_pages.h"
#include "dot_font_layout.h"
#include "files.h"
#include "keyfile.h"
#include "settings.h"

#include <cmath>
#include <cstdio>
#include <cstring>

namespace escpos {

namespace {
CHAR_PROPERTIES make_defaults(int type, double point, int w, int h, bool dot, uint8_t char_type, int font_type) {
    CHAR_PROPERTIES c;
    c.font_type = type;
    c.cFont.fontID = 1;
    c.cFont.fontType = uint8_t(font_type);
    c.point = point;
    c.char_width = w;
    c.char_height = h;
    c.dot_matix_font = dot;
    c.char_type = char_type;
    return c;
}
}  // namespace

const CHAR_PROPERTIES& eng_font_a_defaults() {
    static const CHAR_PROPERTIES c = make_defaults(ENG_FONT_A, 9.0, 12, 24, true, ENG_CHAR, ENG_ACTHF);
    return c;
}
const CHAR_PROPERTIES& eng_font_b_defaults() {
    static const CHAR_PROPERTIES c = make_defaults(ENG_FONT_B, 6.0, 9, 17, false, ENG_CHAR, ENG_ACTHF);
    return c;
}
const CHAR_PROPERTIES& chn_font_24_defaults() {
    static const CHAR_PROPERTIES c = make_defaults(CHN_FONT_24X24, 8.9, 24, 24, true, CHN_CHAR, FONT_CHN_24);
    return c;
}
const CHAR_PROPERTIES& chn_font_32_defaults() {
    static const CHAR_PROPERTIES c = make_defaults(CHN_FONT_32X32, 11.0, 32, 32, false, CHN_CHAR, FONT_CHN_24);
    return c;
}

int margin_dots(double value, const std::string& units) {
    if (units == "inch") return int(std::trunc(value * 25.4 * 8));
    if (units.rfind("mm", 0) == 0) return int(std::trunc(value * 8));
    return 0;
}

int mark_dots(double value, const std::string& units) {
    return int(std::trunc(units == "inch" ? value * 203 : value * 8));
}

void load_emu_config(EscposState& st, const std::string& path) {
    KeyFile kf(path);
    const char* g = "EmulConfig";
    EMUL_CONFIG& e = st.emul;
    e.eng_font_type = int(kf.get_double(g, "configEngFontType"));
    e.eng_font_family = kf.get_string(g, "configEngFontFamily");
    e.eng_font_style = kf.get_string(g, "configEngFontStyle");
    e.eng_font_file = kf.get_string(g, "configEngFontFile");
    e.eng_character_shap = int(kf.get_double(g, "configEngCharacterShap"));
    e.eng_number_shap = int(kf.get_double(g, "configEngNumberShap"));
    e.eng_font_point = kf.get_double(g, "configEngFontPoint");
    e.chn_font_type = int(kf.get_double(g, "configChnFontType"));
    e.chn_font_family = kf.get_string(g, "configChnFontFamily");
    e.chn_font_style = kf.get_string(g, "configChnFontStyle");
    e.chn_font_file = kf.get_string(g, "configChnFontFile");
    e.chn_font_point = kf.get_double(g, "configChnFontPoint");
    e.character_type = int(kf.get_double(g, "configCharacterType"));
    e.line_space = int(kf.get_double(g, "configLineSpacing"));
}

void load_device_config(EscposState& st, const std::string& home, const std::string& paper_config) {
    DEVICE_CONFIG& d = st.device;
    std::string units = read_units(units_file_in(home));
    KeyFile form(device_config_path_in(home, units));
    d.currentMaxPaperSpeed = form.get_double("Form", "configMaxPaperSpeed");
    d.currentPreFeed = form.get_double("Form", "configPreFeed");
    d.currentPostFeed = form.get_double("Form", "configPostFeed");
    d.currentMarkSkip = form.get_double("Form", "configMarkSkip");
    d.currentMarkWidth = form.get_double("Form", "configMarkWidth");
    d.currentLeftMargin = margin_dots(form.get_double("Form", "configLeftMargin"), units);
    d.currentRightMargin = margin_dots(form.get_double("Form", "configRightMargin"), units);
    d.currentUnits = form.get_string("Form", "configUnits");
    KeyFile paper(paper_config);
    d.currentContrast = int(paper.get_double("Paper", "configContrast"));
    d.currentMarkSeek = int(paper.get_double("Paper", "configMarkSeek"));
    KeyFile mark(home + "/" + units + "_mark_config.cfg");
    d.currentMarkprint = mark_dots(mark.get_double("Blackmark", "mark_to_head"), units);
    d.currentMarkcut = mark_dots(mark.get_double("Blackmark", "mark_to_cut"), units);
    d.currentLabelLength = key_int(st.env.label_config, "LabelConfig", "LabelLength");
    // The page is never narrower than nothing.
    if (d.currentLeftMargin < 0 || d.currentLeftMargin > PAGE_DOTS) d.currentLeftMargin = 0;
    if (d.currentRightMargin < 0 || d.currentRightMargin > PAGE_DOTS - d.currentLeftMargin) d.currentRightMargin = 0;
}

void check_conti_mode(EscposState& st) {
    DEVICE_CONFIG& d = st.device;
    d.conti_mode = !(d.currentPreFeed != 0 || d.currentPostFeed != 0 || d.currentMarkSeek > 0);
}

void load_image_config(EscposState& st, const std::string& path) {
    int mode = int(key_double(path, "Image", "configEncoding"));
    st.encoding_mode = (mode == 1 || mode == 2) ? mode : 0;
}

void init_escpos_setting(EscposState& st) {
    st.set = ESCPOS_EMULATION_SET{};
    st.set.chn_char_mode = st.emul.character_type == 1;
    switch (st.emul.character_type) {
    case 0: st.emul.codepage_num = CODE_PAGE_DEFAULT; break;
    case 2: st.emul.codepage_num = CODE_PAGE_TYPE2; break;
    case 3: st.emul.codepage_num = CODE_PAGE_TYPE3; break;
    default: break;  // type 1 keeps the code page
    }
}

void init_page_properties(EscposState& st) {
    st.page = PAGE_PROPERTIES{};
    st.page.printable_width = PAGE_DOTS;
    st.page.right_margin = PAGE_DOTS;
    st.page.line_spacing = st.emul.line_space;
}

void init_line_properties(EscposState& st) {
    LINE_PROPERTIES& l = st.line;
    l.char_idx = 0;
    l.string[0] = '\0';
    l.string_len = 0;
    l.line_spacing = st.page.line_spacing;
    l.line_max_high = st.page.line_spacing;
    l.feed_ext = 0;
    l.fill_xpos = st.page.left_margin;
    l.printable_width = st.page.right_margin;
    l.align = st.page.align;
    l.line = false;
    l.stat = false;
    l.multiheight = false;
}

CHAR_PROPERTIES english_font(const EscposState& st, int font) {
    const EMUL_CONFIG& e = st.emul;
    CHAR_PROPERTIES c;
    if (font == ENG_FONT_A || font == ENG_FONT_B) {
        c = font == ENG_FONT_A ? eng_font_a_defaults() : eng_font_b_defaults();
        if (e.eng_font_type == ENG_FONT_CUSTOM) {
            c.font_type = ENG_FONT_CUSTOM;
            c.dot_matix_font = false;
            if (!e.eng_font_family.empty()) set_text(c.font_family, e.eng_font_family);
            if (!e.eng_font_style.empty()) set_text(c.font_style, e.eng_font_style);
        }
    } else {
        c = eng_font_a_defaults();
        c.font_type = ENG_FONT_CUSTOM;
        c.dot_matix_font = false;
        if (!e.eng_font_family.empty()) set_text(c.font_family, e.eng_font_family);
        if (!e.eng_font_style.empty()) set_text(c.font_style, e.eng_font_style);
        if (e.eng_font_point > 0) c.point = e.eng_font_point;
    }
    int shape = e.eng_character_shap;
    c.cFont.fontType = uint8_t(shape == 1 ? ENG_ST : shape == 2 ? ENG_DX : ENG_ACTHF);
    c.cFont.charGrp = uint8_t(e.codepage_num);
    return c;
}

CHAR_PROPERTIES chinese_font(const EscposState& st, int font) {
    const EMUL_CONFIG& e = st.emul;
    CHAR_PROPERTIES c;
    if (font == CHN_FONT_24X24 || font == CHN_FONT_32X32) {
        c = font == CHN_FONT_24X24 ? chn_font_24_defaults() : chn_font_32_defaults();
    } else {
        c = chn_font_24_defaults();
        c.font_type = CHN_FONT_CUSTOM;
        c.dot_matix_font = false;
        if (!e.chn_font_family.empty()) set_text(c.font_family, e.chn_font_family);
        if (!e.chn_font_style.empty()) set_text(c.font_style, e.chn_font_style);
        if (e.chn_font_point > 0) c.point = e.chn_font_point;
    }
    c.cFont.charGrp = uint8_t(e.codepage_num);
    return c;
}

void init_char_properties(EscposState& st) {
    st.eng = english_font(st, st.emul.eng_font_type);
    st.chn = chinese_font(st, st.emul.chn_font_type);
    st.unicode = st.chn;
    st.unicode.magnify_width = st.unicode.magnify_height = 1;
    st.latest = st.chn;
}

void init_horizontal_table(EscposState& st) {
    st.tabs.index = 0;
    for (int i = 0; i < TAB_STOPS; ++i) st.tabs.pos[i] = st.eng.char_width * 8 * (i + 1);
}

void init_job_recorder(EscposState& st) { st.job = JobRecorder{}; }

void init_bar_properties(EscposState& st) {
    st.bar = ONEDIM_BAR_PROPERTIES{};
    st.pdf417 = PDF417_PROPERTIES{};
    st.qr = QRCODE_PROPERTIES{};
    st.maxi = MAXICODE_PROPERTIES{};
}

void init_image_properties(EscposState& st) { st.image = IMAGE_PROPERTIES{}; }

void init_all_buffers(EscposState& st) {
    for (auto& u : st.user_chars) u = USER_CHAR{};

    st.char_buf = 0;
    std::memset(st.character_buf, 0, sizeof st.character_buf);
}

void init_all_properties(EscposState& st) {
    init_page_properties(st);
    init_line_properties(st);
    init_char_properties(st);
    init_bar_properties(st);
    init_image_properties(st);
}

}  // namespace escpos

namespace escpos {
void load_font_table(const std::string& names, const std::string& web_table) {
    if (names.empty() || web_table.empty()) return;
    FILE* in = std::fopen(names.c_str(), "r");
    if (!in) {
        dbg("Can't Open the file : %s\r\n", names.c_str());
        return;
    }
    std::string table;
    char line[512];
    for (char letter = 'A'; letter <= 'Z' && std::fgets(line, sizeof line, in); ++letter) {
        table += letter;
        table += '=';
        table += line;
    }
    std::fclose(in);
    if (!write_file_whole(web_table, table)) dbg("Can't Open the file : %s\r\n", web_table.c_str());
}
}  // namespace escpos
