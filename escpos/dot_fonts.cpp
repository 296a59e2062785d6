// Glyph drivers of the GB18030 dot font and the TGS2 alphanumeric font.
#include "dot_fonts.h"

#include "code_pages.h"
#include "dot_font_layout.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace escpos {

namespace {
// Reads a whole file of at most `limit` bytes; an empty vector when it is missing or too large.
std::vector<uint8_t> read_whole(const std::string& path, size_t limit) {
    std::vector<uint8_t> data;
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return data;
    struct stat st {};
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && size_t(st.st_size) <= limit) {
        data.resize(size_t(st.st_size));
        size_t got = 0;
        while (got < data.size()) {
            ssize_t n = read(fd, data.data() + got, data.size() - got);
            if (n <= 0) break;
            got += size_t(n);
        }
        data.resize(got);
    } else {
        std::fprintf(stderr, "%s: not a font file of at most %zu bytes\n", path.c_str(), limit);
    }
    close(fd);
    return data;
}
}  // namespace

void DotFonts::load(const std::string& gb_path, const std::string& tgs2_path) {
    gb_ = read_whole(gb_path, GB_FONT_MAX);
    tgs2_.clear();
    if (gb_.empty()) return;
    tgs2_ = read_whole(tgs2_path, TGS2_FONT_MAX);
}

bool DotFonts::gb_glyph(int font_type, int code, bool two_byte, GlyphBitmap& g) const {
    uint32_t offset = 0;
    int size = 0;
    if (font_type == FONT_CHN_24 && two_byte) {
        for (const auto& r : GB_RANGES) {
            int index = gb_range_index(r, code);
            if (index < 0) continue;
            offset = r.base + uint32_t(index) * GB_GLYPH_BYTES;
            size = GB_GLYPH_BYTES;
            break;
        }
    } else {
        int set = font_type == FONT_CHN_24 ? ENG_ST : font_type;
        for (const auto& h : HALF_SETS) {
            if (h.font_type != set || code < h.first || code > h.last) continue;
            offset = h.base + uint32_t(code - h.first) * HALF_GLYPH_BYTES;
            size = HALF_GLYPH_BYTES;
            break;
        }
    }
    if (size == 0 || offset + size_t(size) > gb_.size()) return false;
    g.height = 24;
    g.width = size / 3;
    std::memcpy(g.data, gb_.data() + offset, size_t(size));
    return true;
}

bool DotFonts::tgs2_entry(int font_no, const uint8_t*& entry) const {
    if (tgs2_.size() < TGS2_HEADER_SIZE) return false;
    int fonts = tgs2_[TGS2_NUMFNTS_AT];
    if (font_no < 0 || font_no >= fonts) return false;
    size_t at = TGS2_HEADER_SIZE + size_t(font_no) * TGS2_FONT_ENTRY_SIZE;
    if (at + TGS2_FONT_ENTRY_SIZE > tgs2_.size()) return false;
    entry = tgs2_.data() + at;
    return true;
}

int DotFonts::tgs2_glyph_index(int font_no, int code, int char_grp, int char_set) const {
    if (char_set & 0x40) return code;
    if (char_set & 0x3c) {
        int row = (char_set >> 2) & 15;
        if (row < INTERNATIONAL_ROWS)
            for (int i = 0; i < 12; ++i)
                if (INTER_Code[0][i] == code) return INTER_Code[row][i];
    }
    // '0' and '1' fonts share the national table of font entry 2.
    const uint8_t* entry = nullptr;
    if (!tgs2_entry(font_no == 48 || font_no == 49 ? 2 : font_no, entry)) return code;
    size_t at = tgs2_address(entry[TGS2_SEGEXCHG], entry[TGS2_HIEXCHG], entry[TGS2_LOEXCHG]);
    if (at >= tgs2_.size()) return code;
    int groups = tgs2_[at++];
    for (int gi = 0; gi < groups; ++gi) {
        if (at + 4 > tgs2_.size()) return code;
        int nat_id = tgs2_[at];
        int chars = tgs2_[at + 3];
        at += 4;
        if (at + size_t(chars) * 3 + 1 > tgs2_.size()) return code;
        if (nat_id == char_grp) {
            for (int i = 0; i < chars; ++i) {
                const uint8_t* t = tgs2_.data() + at + size_t(i) * 3;
                if (t[0] == code) return t[1] | (t[2] << 8);
            }
            return code;
        }
        at += size_t(chars) * 3;
        int text = tgs2_[at++];
        at += size_t(text);
    }
    return code;
}

bool DotFonts::tgs2_glyph_by_index(int font_no, int index, GlyphBitmap& g) const {
    const uint8_t* entry = nullptr;
    if (!tgs2_entry(font_no, entry)) return false;
    size_t table = tgs2_address(entry[TGS2_SEGFNT], entry[TGS2_HIFNT], entry[TGS2_LOFNT]);
    if (table + 2 > tgs2_.size()) return false;
    int count = tgs2_[table] | (tgs2_[table + 1] << 8);
    if (index < 0 || index >= count) return false;
    size_t rec = table + 2 + size_t(index) * 4;
    if (rec + 4 > tgs2_.size()) return false;
    int format = tgs2_[rec] & 0x0f;
    size_t image = (size_t(tgs2_[rec] >> 4) << 16) | (size_t(tgs2_[rec + 2]) << 8) | tgs2_[rec + 1];
    if (image + TGS2_GLYPH_HEADER > tgs2_.size()) return false;
    int width = tgs2_[image + 1];
    int height = entry[TGS2_VMATRIX];
    if (font_no == 48 || font_no == 49 || index == 245 || format == 9) height = 24;
    if (height == 16 && index >= 240 && index <= 255 && font_no != 3 && font_no != 7) height = 24;
    if (format == 3 || format == 4) height = 16;
    height = std::min(height, 32);
    width = std::min(width, 32);
    int per_col = (height + 7) / 8;
    int stored_per_col = format == 8 ? 4 : per_col;
    const uint8_t* src = tgs2_.data() + image + TGS2_GLYPH_HEADER;
    if (size_t(src - tgs2_.data()) + size_t(width) * size_t(stored_per_col) > tgs2_.size()) return false;
    g.width = width;
    g.height = height;
    std::memset(g.data, 0, sizeof g.data);
    for (int c = 0; c < width; ++c)
        std::memcpy(g.data + c * per_col, src + c * stored_per_col, size_t(std::min(per_col, stored_per_col)));
    return true;
}

bool DotFonts::tgs2_glyph(int font_no, int code, int char_grp, int char_set, GlyphBitmap& g) const {
    return tgs2_glyph_by_index(font_no, tgs2_glyph_index(font_no, code, char_grp, char_set), g);
}

std::shared_ptr<const DotFonts> load_dot_fonts(const std::string& gb_path, const std::string& tgs2_path) {
    auto fonts = std::make_shared<DotFonts>();
    fonts->load(gb_path, tgs2_path);
    return fonts;
}

}  // namespace escpos
