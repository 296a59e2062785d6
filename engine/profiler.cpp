#include "profiler.h"

#include "keyfile.h"
#include "settings.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace engine {

uint8_t cbblut[256];
uint8_t oddlut[256];
uint8_t evenlut[256];

void init_luts() {
    for (int b = 0; b < 256; ++b) cbblut[b] = static_cast<uint8_t>(__builtin_popcount(b));
}
void init_oddluts() {
    for (int b = 0; b < 256; ++b) oddlut[b] = static_cast<uint8_t>(__builtin_popcount(b & 0xAA));
}
void init_evenluts() {
    for (int b = 0; b < 256; ++b) evenlut[b] = static_cast<uint8_t>(__builtin_popcount(b & 0x55));
}

// ---- configured speed limit and temperature ---------------------------------------------------

int ips_limit_from(const std::string& units, double max_paper_speed) {
    int limit;
    if (units == "inch") {
        limit = static_cast<int>(max_paper_speed * 10);
    } else {
        limit = static_cast<int>(std::ceil(max_paper_speed * 10 / 25.4));
    }
    if (limit <= 9) limit = 10;
    if (limit > 55) limit = 55;
    if (limit % 5 != 0) limit = 55;
    int index = limit / 5;
    return index <= 6 ? ips_index_table[index] : ips_index_table[6];
}

int read_ips_limit_index() {
    std::string units = read_units();
    double speed = key_double(device_config_path(units), "Form", "configMaxPaperSpeed");
    return ips_limit_from(units, speed);
}

const uint16_t tempx[33] = {2869, 2827, 2783, 2737, 2688, 2636, 2582, 2526, 2468, 2408, 2346,
                            2283, 2218, 2152, 2085, 2017, 1949, 1881, 1813, 1745, 1678, 1611,
                            1545, 1481, 1418, 1356, 1296, 1238, 1182, 1127, 1074, 1023, 974};

int get_temp_x(int mv, int limit) {
    int x = 0;
    if (mv > 2868) {
        x = 0;
    } else if (mv < 974) {
        x = 33;
    } else {
        // tempx falls: find x with tempx[x] <= mv < tempx[x - 1].
        int first = 1, last = 32;
        while (first <= last) {
            int mid = (first + last) / 2;
            if (tempx[mid] <= mv && mv < tempx[mid - 1]) {
                x = mid;
                break;
            }
            if (mv >= tempx[mid - 1]) last = mid - 1;  // warmer band wanted: smaller index
            else first = mid + 1;
        }
    }
    return std::min(x, limit);
}

// ---- clumps -------------------------------------------------------------------------------

namespace {

inline uint64_t load64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}

constexpr uint64_t M1 = 0x5555555555555555ull;
constexpr uint64_t M2 = 0x3333333333333333ull;
constexpr uint64_t M4 = 0x0F0F0F0F0F0F0F0Full;

// Dots per byte of one parity, as eight byte counters (0..4 each): the even dots are the bits
// under 0x55, the odd dots are the bits under 0xAA shifted onto them.
inline uint64_t byte_counts(uint64_t pairs) {
    uint64_t x = (pairs & M2) + ((pairs >> 2) & M2);
    return (x + (x >> 4)) & M4;
}
// Sum of the eight byte counters (each at most 108, the total at most 864).
inline int sum_bytes(uint64_t counts) {
    uint64_t halves = (counts & 0x00FF00FF00FF00FFull) + ((counts >> 8) & 0x00FF00FF00FF00FFull);
    return int((halves * 0x0001000100010001ull) >> 48);
}

// One parity pass over the row (shift 1: odd dots, 0: even dots). Returns the number of clumps,
// or -1 when more than max_clumps would be needed.
int clump_pass(const uint8_t* row, int shift, int parity_dots, int limit, uint8_t* cw, uint16_t* dots,
               int max_clumps) {
    if (parity_dots == 0) return 0;
    if (parity_dots < limit) {  // the sum never reaches the limit: one clump over the whole row
        if (max_clumps < 1) return -1;
        cw[0] = ROW_BYTES;
        dots[0] = static_cast<uint16_t>(parity_dots);
        return 1;
    }
    const uint8_t* lut = shift ? oddlut : evenlut;
    int n = 0, sum = 0, width = 0;
    for (int i = 0; i < ROW_BYTES; ++i) {
        // A word whose dots keep the sum below the limit closes nothing: take it whole.
        while (i + 8 <= ROW_BYTES) {
            int c = sum_bytes(byte_counts((load64(row + i) >> shift) & M1));
            if (sum + c >= limit) break;
            sum += c;
            width += 8;
            i += 8;
        }
        if (i == ROW_BYTES) break;
        int d = lut[row[i]];
        sum += d;
        ++width;
        // Close the clump before this byte once the limit is reached and an even number of bytes
        // lies before this one in the clump (an empty clump is never closed).
        if (sum >= limit && (width & 1) && width > 1) {
            if (n == max_clumps) return -1;
            cw[n] = static_cast<uint8_t>(width - 1);
            dots[n] = static_cast<uint16_t>(sum - d);
            ++n;
            width = 1;
            sum = d;
        }
    }
    if (sum != 0) {
        if (n == max_clumps) return -1;
        cw[n] = static_cast<uint8_t>(width);
        dots[n] = static_cast<uint16_t>(sum);
        ++n;
    }
    return n;
}

}  // namespace

template <class L>
int build_clumps(const uint8_t* row, int clump_base, LineNode<L>& node) {
    constexpr int cap = L::node_entries;
    uint64_t odd_counts = 0, even_counts = 0;  // byte counters, at most 4 x 27 = 108 each
    for (int k = 0; k < ROW_BYTES; k += 8) {
        uint64_t v = load64(row + k);
        odd_counts += byte_counts((v >> 1) & M1);
        even_counts += byte_counts(v & M1);
    }
    const int odd = sum_bytes(odd_counts), even = sum_bytes(even_counts);
    uint16_t databank = 0;
    for (int b = 0; b < L::banks; ++b) {
        const uint8_t* bank = row + b * L::bytes_per_bank;
        uint64_t any = 0;
        int k = 0;
        for (; k + 8 <= L::bytes_per_bank; k += 8) any |= load64(bank + k);
        for (; k < L::bytes_per_bank; ++k) any |= bank[k];
        if (any) databank = static_cast<uint16_t>(databank | (1u << b));
    }
    const int D = odd + even;
    const int base = clump_base < 1 ? 1 : clump_base;
    int limit = (D % base == 0) ? base : D / (D / base + 1) + 9;

    uint8_t ocw[cap], ecw[cap];
    uint16_t odots[cap], edots[cap];
    int no, ne;
    for (;;) {
        no = clump_pass(row, 1, odd, limit, ocw, odots, cap);
        ne = no < 0 ? -1 : clump_pass(row, 0, even, limit, ecw, edots, cap - no);
        if (no >= 0 && ne >= 0) break;
        // More burns than the node holds: widen the clumps until the row fits. Above 864 dots
        // (a whole parity) each parity is a single clump, so this ends.
        limit += limit / 2 + 1;
    }
    for (int j = 0; j < no; ++j) {
        node.oddcw[j] = ocw[j];
        node.clumpdots[j] = odots[j];
    }
    for (int j = 0; j < ne; ++j) {
        node.evencw[j] = ecw[j];
        node.clumpdots[no + j] = edots[j];
    }
    node.numsburn = static_cast<uint8_t>(no + ne);
    node.databank = databank;
    return D;
}

// ---- speeds ---------------------------------------------------------------------------------

template <class L>
int find_best_speed(const Profiler<L>& p, const LineNode<L>& node, int temp, int max_speed_index) {
    int top = max_speed_index / 2 - 1;
    if (top < 0) top = 0;
    if (top > (RAMP_STEPS - 2) / 2) top = (RAMP_STEPS - 2) / 2;  // steps 2s and 2s+1 exist
    const auto& plane = p.tables.t[temp];
    int first = 0, last = top;
    int result = -1;
    while (first <= last) {
        int s = (first + last) / 2;
        long t = long(node.numsburn) * (plane[2 * s][1] + PAUSE_US);
        long lo = 2L * p.step(2 * s + 1), hi = 2L * p.step(2 * s);
        if (lo <= t && t <= hi) {
            result = s;
            break;
        }
        if (t < lo) first = s + 1;
        else last = s - 1;
    }
    // Bounds crossed: last is the fastest speed whose row time still fits (never below 0).
    if (result < 0) result = (first + last) / 2;
    if (p.head.speed_floor > 0) result = std::max(result, std::min(p.head.speed_floor, top));
    return result;
}

template <class L>
void build_linked_list(Profiler<L>& p, const uint8_t* dots, LineNode<L>* list, point_t* prof, int rows, int temp) {
    SpeedCaps& c = p.caps;
    const int base = L::fixed_clump_base ? L::fixed_clump_base : p.head.PRINTHEAD_MAXNSA;
    temp = std::clamp(temp, 0, TEMP_INDICES - 1);
    for (int i = 0; i < rows; ++i) {
        LineNode<L>& node = list[i];
        std::memset(&node, 0, sizeof node);
        build_clumps<L>(dots + size_t(i) * ROW_BYTES, base, node);
        const bool even_clump = node.evencw[0] != 0;

        if (c.set_max_speed_index) {
            int digit = c.speed_index;
            if (digit >= 0 && digit < 6) c.max_speed_index = max_speed_table[digit] + c.cap_offset;
        }
        if (i == rows - 1) c.max_speed_index = c.max_lastline_speed;
        if (i == 0) c.max_speed_index = c.max_firstline_speed;
        if (even_clump && c.max_speed_index > 50) c.max_speed_index = 50;
        // A cap beyond the ramp table (the cap digit 0) means the table's top.
        c.max_speed_index = std::clamp(c.max_speed_index, 0, RAMP_STEPS - 1);

        if (c.set_speedmode_index) {
            if (i == 0 && even_clump) c.max_speed_index += 2;
            prof[i].profilex = find_best_speed(p, node, temp, c.max_speed_index);
        } else {
            prof[i].profilex = c.max_speed_index / 2;
        }
        if (i == rows - 1 || i == 0) c.max_speed_index = c.ips_limit;
        prof[i].f = 0;
        prof[i].r = 0;
        node.nextp = i + 1 < rows ? &list[i + 1] : nullptr;
    }
}

int max_speed_jump(const point_t* prof, int rows) {
    int jump = 0;
    for (int i = 1; i < rows; ++i) jump = std::max(jump, std::abs(prof[i].profilex - prof[i - 1].profilex));
    return jump;
}

template <class L>
void profile(Profiler<L>& p, point_t* prof, LineNode<L>* list, int rows, int temp) {
    const int vmax = p.caps.max_speed_index / 2;
    for (int v = 0; v < vmax; ++v) {
        for (int i = 1; i < rows; ++i) {
            if (prof[i].profilex != v || prof[i].r || prof[i - 1].profilex <= v + 1) continue;
            int val = v + 1;
            for (int k = i - 1; k >= 0 && prof[k].profilex > val; --k, ++val) {
                prof[k].profilex = val;
                prof[k].r = 1;
            }
        }
        for (int i = rows - 2; i >= 0; --i) {
            if (prof[i].profilex != v || prof[i].f || prof[i + 1].profilex <= v + 1) continue;
            int val = v + 1;
            for (int k = i + 1; k < rows && prof[k].profilex > val; ++k, ++val) {
                prof[k].profilex = val;
                prof[k].f = 1;
            }
        }
    }
    if (g_debug_msg == 1 && max_speed_jump(prof, rows) > 1) dbg("oh, SNAP!\n");
    get_burn_times(p, prof, list, rows, temp);
}

template <class L>
void get_burn_times(Profiler<L>& p, point_t* prof, LineNode<L>* list, int rows, int temp) {
    temp = std::clamp(temp, 0, TEMP_INDICES - 1);
    const int limit = p.caps.max_speed_index;
    const auto& plane = p.tables.t[temp];
    for (int i = 0; i < rows; ++i) {
        LineNode<L>& node = list[i];
        const int s = std::clamp(prof[i].profilex, 0, (RAMP_STEPS - 1) / 2);
        const bool last = i == rows - 1;
        node.rs1 = static_cast<uint8_t>(2 * s);
        const int a = p.step(2 * s);
        int heat_step;  // the faster of the row's two steps
        int b;
        if (last) {
            node.rs2 = 255;
            b = a;
            heat_step = 2 * s;
        } else {
            const int n = prof[i + 1].profilex;
            int s2 = 2 * s;
            if (n > s && 2 * s < limit - 1) s2 = 2 * s + 1;
            else if (n < s && 2 * s > 0) s2 = 2 * s - 1;
            node.rs2 = static_cast<uint8_t>(s2);
            b = p.step(s2);
            heat_step = a < b ? 2 * s : s2;
        }
        const int burns = node.numsburn;
        long total = 0;
        for (int j = 0; j < burns; ++j) {
            int cls = node.clumpdots[j] / 10;
            if (cls >= L::classes) cls = L::classes - 1;
            node.btimes[j] = plane[heat_step][cls];
            total += node.btimes[j];
        }
        if (burns > 0 && a + b - long(PAUSE_US) * burns < total) {
            long each = (a + b) / burns - PAUSE_US;
            if (each < 0) each = 0;
            for (int j = 0; j < burns; ++j) node.btimes[j] = static_cast<uint16_t>(each);
        }
        if (!last) node.profile_index = static_cast<uint16_t>(s);
    }
}

// ---- burn tables ----------------------------------------------------------------------------

std::string burntable_path(const std::string& folder, int contrast) {
    int k = contrast - 1;
    if (k < 0 || k > 9) k = 4;
    return folder + "/burntables" + std::to_string(k) + ".csv";
}

template <class L>
bool parse_burntables(const std::string& path, BurnTables<L>& out, std::string& title, std::string& why) {
    FILE* f = std::fopen(path.c_str(), "r");
    if (!f) {
        why = std::string("cannot open: ") + std::strerror(errno);
        return false;
    }
    char line[1024];
    title.clear();
    bool ok = true;
    if (!std::fgets(line, sizeof line, f)) {
        why = "empty file";
        ok = false;
    } else {
        line[std::strcspn(line, "\r\n")] = '\0';
        title.assign(line, std::min<size_t>(std::strlen(line), 64));
    }
    for (int temp = 0; ok && temp < TEMP_INDICES; ++temp) {
        for (int s = 0; ok && s < RAMP_STEPS; ++s) {
            if (!std::fgets(line, sizeof line, f)) {
                why = "short file: " + std::to_string(temp * RAMP_STEPS + s) + " of " +
                      std::to_string(TEMP_INDICES * RAMP_STEPS) + " lines";
                ok = false;
                break;
            }
            const char* q = line;
            for (int c = 0; c < L::classes; ++c) {
                char* end = nullptr;
                errno = 0;
                long v = std::strtol(q, &end, 10);
                if (end == q || errno != 0 || v < 0 || v > 65535 ||
                    (c + 1 < L::classes ? *end != ',' : (*end != '\n' && *end != '\r' && *end != '\0'))) {
                    why = "bad value in line " + std::to_string(2 + temp * RAMP_STEPS + s);
                    ok = false;
                    break;
                }
                out.t[temp][s][c] = static_cast<uint16_t>(v);
                q = end + 1;
            }
        }
    }
    std::fclose(f);
    return ok;
}

template <class L>
bool read_burntables(Profiler<L>& p, const std::string& folder, int contrast) {
    const std::string path = burntable_path(folder, contrast);
    std::string title, why;
    bool ok;
    if constexpr (L::battery) {
        std::memset(&p.tables, 0, sizeof p.tables);
        ok = parse_burntables(path, p.tables, title, why);
        if (!ok) std::memset(&p.tables, 0, sizeof p.tables);  // a bad file leaves the table cleared
    } else {
        // Parsed aside first, so that a bad file leaves the loaded table alone. The scratch table
        // lives only while loading (it is returned to the system afterwards).
        auto scratch = std::make_unique<BurnTables<L>>();
        ok = parse_burntables(path, *scratch, title, why);
        if (ok) std::memcpy(&p.tables, scratch.get(), sizeof p.tables);
    }
    if (ok) {
        dbg("Loaded Burntables for %s\n", title.c_str());
    } else {
        std::fprintf(stderr, "%s: burn table %s not loaded (%s); %s\n", L::name, path.c_str(), why.c_str(),
                     L::battery ? "table cleared" : "keeping the table loaded before");
    }
    return ok;
}

template <class L>
int full_row_clump_dots(int clump_base) {
    uint8_t row[ROW_BYTES];
    std::memset(row, 0xFF, sizeof row);
    LineNode<L> node{};
    build_clumps<L>(row, clump_base, node);
    int most = 0;
    for (int j = 0; j < node.numsburn; ++j) most = std::max<int>(most, node.clumpdots[j]);
    return most;
}

template <class L>
std::string clump_base_report(int maxnsa) {
    const int base = L::fixed_clump_base ? L::fixed_clump_base : maxnsa;
    if (long(base) * L::node_entries >= ROW_BYTES * 8) return "";
    char text[256];
    std::snprintf(text, sizeof text,
                  "%s: PRINTHEAD_MAXNSA %d: %d burns of %d dots cannot cover a row of %d dots; full rows are "
                  "heated up to %d dots at once\n",
                  L::name, base, L::node_entries, base, ROW_BYTES * 8, full_row_clump_dots<L>(base));
    return text;
}

#define ENGINE_INSTANTIATE(L)                                                                              \
    template int full_row_clump_dots<L>(int);                                                              \
    template std::string clump_base_report<L>(int);                                                        \
    template int build_clumps<L>(const uint8_t*, int, LineNode<L>&);                                       \
    template int find_best_speed<L>(const Profiler<L>&, const LineNode<L>&, int, int);                     \
    template void build_linked_list<L>(Profiler<L>&, const uint8_t*, LineNode<L>*, point_t*, int, int);    \
    template void profile<L>(Profiler<L>&, point_t*, LineNode<L>*, int, int);                              \
    template void get_burn_times<L>(Profiler<L>&, point_t*, LineNode<L>*, int, int);                       \
    template bool parse_burntables<L>(const std::string&, BurnTables<L>&, std::string&, std::string&);     \
    template bool read_burntables<L>(Profiler<L>&, const std::string&, int);

ENGINE_INSTANTIATE(MainsLayout)
ENGINE_INSTANTIATE(BatteryLayout)

}  // namespace engine
