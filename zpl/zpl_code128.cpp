// Code 128 of ^BC fields: invocation codes, modes, subsets, check character and modules.
#include "zpl_code128.h"

#include <algorithm>
#include <cctype>
#include <cstddef>

namespace {
constexpr int FNC1 = 102, FNC2 = 97, FNC3 = 96, SHIFT = 98, CODE_C = 99, CODE_B = 100, CODE_A = 101;
constexpr int START_A = 103, START_B = 104, START_C = 105, STOP = 106;

// Bar and space widths of the 107 characters (the stop character has a final 2-module bar).
const char* const PATTERNS[107] = {
    "212222", "222122", "222221", "121223", "121322", "131222", "122213", "122312", "132212", "221213",
    "221312", "231212", "112232", "122132", "122231", "113222", "123122", "123221", "223211", "221132",
    "221231", "213212", "223112", "312131", "311222", "321122", "321221", "312212", "322112", "322211",
    "212123", "212321", "232121", "111323", "131123", "131321", "112313", "132113", "132311", "211313",
    "231113", "231311", "112133", "112331", "132131", "113123", "113321", "133121", "313121", "211331",
    "231131", "213113", "213311", "213131", "311123", "311321", "331121", "312113", "312311", "332111",
    "314111", "221411", "431111", "111224", "111422", "121124", "121421", "141122", "141221", "112214",
    "112412", "122114", "122411", "142112", "142211", "241211", "221114", "413111", "241112", "134111",
    "111242", "121142", "121241", "114212", "124112", "124211", "411212", "421112", "421211", "212141",
    "214121", "412121", "111143", "111341", "131141", "114113", "114311", "411113", "411311", "113141",
    "114131", "311141", "411131", "211412", "211214", "211232", "2331112"};

enum class Set { A, B, C };

// A character to encode, or FNC1.
constexpr int TOKEN_FNC1 = -1;

bool digit(int c) { return c >= '0' && c <= '9'; }

// Builds the values character by character in the subset in force, switching where a character
// cannot be encoded in it, so that what is read back is always the data given.
class Encoder {
public:
    Code128Symbol out;

    void start(Set s) {
        set_ = s;
        out.values.push_back(s == Set::A ? START_A : s == Set::B ? START_B : START_C);
    }
    Set set() const { return set_; }

    void switch_to(Set s) {
        if (s == set_) return;
        out.values.push_back(s == Set::A ? CODE_A : s == Set::B ? CODE_B : CODE_C);
        set_ = s;
    }

    // A value given by the host as it is (invocation codes); subset switches take effect.
    void raw(int v) {
        if (v < 96 && set_ != Set::C) {
            out.text += char_of(v, shifted_ ? other(set_) : set_);
            shifted_ = false;
        }
        out.values.push_back(v);
        if (v == CODE_C) set_ = Set::C;
        else if (v == CODE_B && set_ != Set::B) set_ = Set::B;
        else if (v == CODE_A && set_ != Set::A) set_ = Set::A;
        else if (v == SHIFT && set_ != Set::C) shifted_ = true;
    }

    void fnc1() { out.values.push_back(FNC1); }

    // Two digits in subset C.
    void pair(int a, int b) {
        out.values.push_back((a - '0') * 10 + (b - '0'));
        out.text += char(a);
        out.text += char(b);
    }

    void character(int c) {
        if (c >= 128) {  // FNC4 and the character 128 below
            int low = c - 128;
            Set s = set_;
            if (s == Set::C || !fits(low, s)) s = low < 0x20 ? Set::A : Set::B;
            switch_to(s);
            out.values.push_back(s == Set::A ? CODE_A : CODE_B);
            out.values.push_back(value_in(low, s));
            out.text += char(c);
            return;
        }
        Set s = shifted_ ? other(set_) : set_;
        if (s == Set::C || !fits(c, s)) {
            shifted_ = false;
            s = c < 0x20 ? Set::A : Set::B;
            switch_to(s);
        }
        shifted_ = false;
        out.values.push_back(value_in(c, s));
        out.text += char(c);
    }

private:
    static Set other(Set s) { return s == Set::A ? Set::B : Set::A; }
    static bool fits(int c, Set s) { return s == Set::A ? (c >= 0 && c < 0x60) : (c >= 0x20 && c < 0x80); }
    static int value_in(int c, Set s) { return s == Set::A && c < 0x20 ? c + 64 : c - 32; }
    static char char_of(int v, Set s) { return char(s == Set::A && v >= 64 ? v - 64 : v + 32); }

    Set set_ = Set::B;
    bool shifted_ = false;
};

size_t digit_run(const std::vector<int>& t, size_t i) {
    size_t n = 0;
    while (i + n < t.size() && digit(t[i + n])) ++n;
    return n;
}

// Modes A, D and U: the subsets are chosen here, C for runs of digits.
Code128Symbol encode_automatic(const std::vector<int>& tokens) {
    Encoder e;
    size_t first = !tokens.empty() && tokens[0] == TOKEN_FNC1 ? 1 : 0;
    size_t lead = digit_run(tokens, first);
    if (lead >= 4 || (lead >= 2 && first + lead == tokens.size() && lead % 2 == 0)) e.start(Set::C);
    else if (first < tokens.size() && tokens[first] >= 0 && tokens[first] < 0x20) e.start(Set::A);
    else e.start(Set::B);
    for (size_t i = 0; i < tokens.size();) {
        int c = tokens[i];
        if (c == TOKEN_FNC1) {
            e.fnc1();
            ++i;
            continue;
        }
        if (e.set() == Set::C) {
            if (digit(c) && i + 1 < tokens.size() && digit(tokens[i + 1])) {
                e.pair(c, tokens[i + 1]);
                i += 2;
                continue;
            }
            e.character(c);  // switches to A or B
            ++i;
            continue;
        }
        size_t run = digit_run(tokens, i);
        if (run >= 4) {
            if (run % 2 == 1) {
                e.character(c);
                ++i;
            }
            e.switch_to(Set::C);
            continue;
        }
        e.character(c);
        ++i;
    }
    return e.out;
}

// Mode N: the subsets and functions as the invocation codes give them.
Code128Symbol encode_as_written(const std::string& d) {
    Encoder e;
    size_t i = 0;
    if (d.size() >= 2 && d[0] == '>' && (d[1] == '9' || d[1] == ':' || d[1] == ';')) {
        e.start(d[1] == '9' ? Set::A : d[1] == ':' ? Set::B : Set::C);
        i = 2;
    } else {
        e.start(Set::B);
    }
    while (i < d.size()) {
        int c = static_cast<unsigned char>(d[i]);
        if (c == '>' && i + 1 < d.size()) {
            char code = d[i + 1];
            i += 2;
            switch (code) {
            case '<': e.raw(62); continue;  // "^" in subsets A and B
            case '0': e.raw(30); continue;  // ">"
            case '=': e.raw(94); continue;  // "~" in B
            case '1': e.raw(95); continue;  // DEL in B
            case '2': e.raw(FNC3); continue;
            case '3': e.raw(FNC2); continue;
            case '4': e.raw(SHIFT); continue;
            case '5': e.raw(CODE_C); continue;
            case '6': e.raw(CODE_B); continue;
            case '7': e.raw(CODE_A); continue;
            case '8': e.fnc1(); continue;
            case '9': e.switch_to(Set::A); continue;
            case ':': e.switch_to(Set::B); continue;
            case ';': e.switch_to(Set::C); continue;
            default: i -= 1; break;  // a ">" of its own; the next byte is data
            }
        } else {
            ++i;
        }
        if (e.set() == Set::C && digit(c) && i < d.size() && digit(static_cast<unsigned char>(d[i]))) {
            e.pair(c, static_cast<unsigned char>(d[i]));
            ++i;
            continue;
        }
        e.character(c);
    }
    return e.out;
}

// ">8" is FNC1 in the automatic modes too; the other invocation codes are their characters.
std::vector<int> tokens_of(const std::string& d, bool drop_brackets) {
    std::vector<int> t;
    for (size_t i = 0; i < d.size(); ++i) {
        int c = static_cast<unsigned char>(d[i]);
        if (c == '>' && i + 1 < d.size()) {
            char code = d[i + 1];
            int v = code == '8' ? TOKEN_FNC1 : code == '<' ? '^' : code == '0' ? '>' : code == '=' ? '~' : -2;
            if (v != -2) {
                t.push_back(v);
                ++i;
                continue;
            }
        }
        if (drop_brackets && (c == '(' || c == ')' || c == ' ')) continue;
        t.push_back(c);
    }
    return t;
}

// The human-readable line: the data without the invocation codes.
std::string readable(const std::string& d) {
    std::string s;
    for (size_t i = 0; i < d.size(); ++i) {
        if (d[i] == '>' && i + 1 < d.size()) {
            char code = d[i + 1];
            ++i;
            if (code == '<') s += '^';
            else if (code == '0') s += '>';
            else if (code == '=') s += '~';
            else if (code < '1' || code > ';') {
                s += '>';
                --i;
            }
            continue;
        }
        s += d[i];
    }
    return s;
}

// Mode D: GS1 element strings written "(AI)data(AI)data"; FNC1 starts the symbol and ends every
// element of variable length that another one follows.
std::vector<int> gs1_tokens(const std::string& d) {
    std::vector<int> t{TOKEN_FNC1};
    std::string ai;
    bool in_ai = false, variable = false;
    for (size_t i = 0; i < d.size(); ++i) {
        int c = static_cast<unsigned char>(d[i]);
        if (c == '>' && i + 1 < d.size() && d[i + 1] == '8') {
            if (t.back() != TOKEN_FNC1) t.push_back(TOKEN_FNC1);
            variable = false;
            ++i;
            continue;
        }
        if (c == '(') {
            if (variable && t.back() != TOKEN_FNC1) t.push_back(TOKEN_FNC1);
            in_ai = true;
            ai.clear();
            continue;
        }
        if (c == ')') {
            in_ai = false;
            variable = gs1_fixed_data_length(ai) == 0;
            continue;
        }
        if (c == ' ') continue;
        if (in_ai) ai += char(c);
        t.push_back(c);
    }
    return t;
}
}  // namespace

char gs1_check_digit(const std::string& digits) {
    int sum = 0, weight = 3;
    for (size_t i = digits.size(); i-- > 0;) {
        sum += (digits[i] - '0') * weight;
        weight = 4 - weight;
    }
    return char('0' + (10 - sum % 10) % 10);
}

Code128Symbol code128_from_field(const std::string& data, char mode) {
    switch (mode) {
    case 'A': {
        Code128Symbol s = encode_automatic(tokens_of(data, false));
        s.text = readable(data);
        return s;
    }
    case 'D': {
        Code128Symbol s = encode_automatic(gs1_tokens(data));
        s.text = readable(data);
        return s;
    }
    case 'U': {
        // Shipping container code: 19 digits (cut, or filled with zeros on the right) and their
        // check digit, after FNC1.
        std::string digits;
        for (char c : data)
            if (digit(static_cast<unsigned char>(c)) && digits.size() < 19) digits += c;
        digits.resize(19, '0');
        digits += gs1_check_digit(digits);
        std::vector<int> t{TOKEN_FNC1};
        t.insert(t.end(), digits.begin(), digits.end());
        Code128Symbol s = encode_automatic(t);
        s.text = "(" + digits.substr(0, 2) + ")" + digits.substr(2);
        return s;
    }
    default: {
        Code128Symbol s = encode_as_written(data);
        s.text = readable(data);
        return s;
    }
    }
}

std::string code128_modules(const std::vector<int>& values) {
    std::vector<int> all = values;
    if (all.empty()) return "";
    long sum = all[0];
    for (size_t i = 1; i < all.size(); ++i) sum += long(i) * all[i];
    all.push_back(int(sum % 103));
    all.push_back(STOP);
    std::string modules;
    for (int v : all) {
        const char* p = PATTERNS[v >= 0 && v < 107 ? v : 0];
        for (int k = 0; p[k]; ++k) modules.append(size_t(p[k] - '0'), k % 2 == 0 ? '1' : '0');
    }
    return modules;
}

std::string code128_content(const std::vector<int>& values) {
    std::string s;
    if (values.empty()) return s;
    Set set = values[0] == START_A ? Set::A : values[0] == START_C ? Set::C : Set::B;
    bool shift = false, fnc4 = false;
    for (size_t i = 1; i < values.size(); ++i) {
        int v = values[i];
        if (v == FNC1) {
            s += i == 1 ? "]C1" : "\x1d";
            continue;
        }
        if (set == Set::C) {
            if (v < 100) {
                s += char('0' + v / 10);
                s += char('0' + v % 10);
            } else if (v == CODE_A) set = Set::A;
            else if (v == CODE_B) set = Set::B;
            continue;
        }
        Set here = shift ? (set == Set::A ? Set::B : Set::A) : set;
        shift = false;
        if (v == SHIFT) {
            shift = true;
            continue;
        }
        if (v == CODE_C) {
            set = Set::C;
            continue;
        }
        if ((v == CODE_A && set == Set::A) || (v == CODE_B && set == Set::B)) {
            fnc4 = true;
            continue;
        }
        if (v == CODE_A) {
            set = Set::A;
            continue;
        }
        if (v == CODE_B) {
            set = Set::B;
            continue;
        }
        if (v == FNC2 || v == FNC3) continue;
        int c = here == Set::A && v >= 64 ? v - 64 : v + 32;
        if (fnc4) c += 128;
        fnc4 = false;
        s += char(c);
    }
    return s;
}

int gs1_ai_length(const std::string& digits) {
    if (digits.size() < 2) return 2;
    int p = (digits[0] - '0') * 10 + (digits[1] - '0');
    switch (p) {
    case 23: case 24: case 25: case 40: case 41: case 42: case 71:
        return 3;
    case 31: case 32: case 33: case 34: case 35: case 36: case 39: case 43: case 70: case 72:
    case 80: case 81: case 82:
        return 4;
    default:
        return 2;
    }
}

int gs1_fixed_data_length(const std::string& ai) {
    if (ai.size() < 2 || !digit(static_cast<unsigned char>(ai[0])) || !digit(static_cast<unsigned char>(ai[1]))) return 0;
    int p = (ai[0] - '0') * 10 + (ai[1] - '0');
    if (p == 0) return 18;
    if (p >= 1 && p <= 3) return 14;
    if (p == 4) return 16;
    if (p >= 11 && p <= 19) return 6;
    if (p == 20) return 2;
    if (p >= 31 && p <= 36) return 6;
    if (p == 41) return 13;
    return 0;
}

std::string gs1_bracketed(const std::string& data) {
    std::string out;
    size_t from = 0;
    while (from <= data.size()) {
        size_t end = data.find('\x1d', from);
        if (end == std::string::npos) end = data.size();
        std::string seg = data.substr(from, end - from);
        from = end + 1;
        size_t pos = 0;
        while (pos < seg.size()) {
            size_t ai_len = size_t(gs1_ai_length(seg.substr(pos)));
            if (pos + ai_len > seg.size()) return "";
            std::string ai = seg.substr(pos, ai_len);
            for (char c : ai)
                if (!digit(static_cast<unsigned char>(c))) return "";
            pos += ai_len;
            size_t fixed = size_t(gs1_fixed_data_length(ai));
            size_t len = fixed ? std::min(fixed, seg.size() - pos) : seg.size() - pos;
            if (len == 0) return "";
            out += "[" + ai + "]" + seg.substr(pos, len);
            pos += len;
        }
    }
    return out;
}
