// dot_feeder / dot_feeder_battery: the print engine.
//
// Takes every dot image dropped into the intake folder into the line ring, cuts the rows into
// blocks of 40 (plus 40 look-ahead rows that shape the speeds), profiles each block and streams the
// profile to the slave's block data port in 4096-byte blocks. Built twice from this file: with
// DOT_FEEDER_BATTERY the battery layout and behaviour are used.
#include "command_file.h"
#include "dot_image.h"
#include "gpio.h"
#include "keyfile.h"
#include "line_ring.h"
#include "pbm_reader.h"
#include "profile_file.h"
#include "profiler.h"
#include "run.h"
#include "settings.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <pthread.h>
#include <string>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace engine;

#ifdef DOT_FEEDER_BATTERY
using Layout = BatteryLayout;
#else
using Layout = MainsLayout;
#endif
constexpr bool BATTERY = Layout::battery;

namespace {

// ---- settings -----------------------------------------------------------------------------
std::string PAPER_CONFIG_FILEPATH, IMSTART_INTAKE_FOLDER, IMSTART_TRIGGER_FILENAME, PROFILER_OUTPUT_FILEPATH;
std::string PATH_TO_BURNTABLES, PATH_TO_DOTIMAGE_FILES, TEMPERATURE_FILENAME, PRINTHEAD_CONFIG_FILENAME;
std::string SLAVE_HSS_DEV_NAME;
int PRINTHEAD_DOT_WIDTH = 0;
int ABORT_GPIO_NUMBER = 0;
std::string abort_pin_path;
std::string trigger_path;
int MarkSeek = 0;
int configContrast = 0;
double configPreFeed = 0, configPostFeed = 0;
bool conti_mode = true;

constexpr const char* BURNTABLES_UPDATED = "/tmp/burntables_updated";
constexpr const char* MAXSPEED_FOLDER = "/tmp/maxspeed";
constexpr const char* MAXSPEED_FILE = "/tmp/maxspeed/maxspeed.txt";
constexpr const char* SPEEDMODE_FOLDER = "/tmp/speedmode";
constexpr const char* SPEEDMODE_FILE = "/tmp/speedmode/speedmode.txt";
constexpr const char* PAUSE_FOLDER = "/tmp/speed_switch_pause";
constexpr const char* PAUSE_FILE = "/tmp/speed_switch_pause/pause";
constexpr const char* RUN_INDEX_FILE = "/tmp/run_index.txt";

// ---- buffers and shared state -------------------------------------------------------------
uint8_t pbm_input_buffer[PBM_BUFFER_SIZE];
uint8_t profile_buf[PROFILE_BUF_SIZE];
LineRing ring(pbm_input_buffer, PBM_BUFFER_SIZE, ROW_BYTES);

Profiler<Layout> profiler;
std::mutex burntable_mutex;  // the contrast intake reloads the table the block cutter reads
LineNode<Layout> linenode_list[MAX_ROWS];
point_t speed_profile[MAX_ROWS];
constexpr int WORK_ROWS = 2 * RAMP_DOTLINE + PBMBLOCK_DOTLINE;
uint8_t block_work[WORK_ROWS * ROW_BYTES];
uint8_t block_profile[PBMBLOCK_DOTLINE + RAMP_DOTLINE][max_row_words<Layout>() * 2];

std::atomic<int> finalspeed{0};
std::atomic<int> lastpbmblock{0};
std::atomic<int> stopblock{0};
std::atomic<int> currentTemp{0};
std::atomic<int> prev_contrast_index{0};
std::atomic<int> set_max_speed_index{0};
std::atomic<int> speed_index{0};
std::atomic<int> set_speedmode_index{1};
std::atomic<int> speed_switch_pause{1};
std::atomic<int> blocks_sent{0};  // battery engine: blocks sent, for the speed offset
int run_index = 1;                // sender thread only

bool exists(const char* path) { return access(path, F_OK) == 0; }
bool exists(const std::string& path) { return exists(path.c_str()); }

// ---- abort line ---------------------------------------------------------------------------
int get_abort() {
    static std::atomic<bool> reported{false};
    FILE* f = abort_pin_path.empty() ? nullptr : std::fopen(abort_pin_path.c_str(), "r");
    if (!f) {
        if (BATTERY) return 1;
        if (!reported.exchange(true)) std::perror("open ABORT_PIN failed");
        return 0;
    }
    reported = false;
    int c = std::fgetc(f);
    std::fclose(f);
    return c != '1';
}

// ---- configuration ------------------------------------------------------------------------
void read_settings() {
    GlobalDefines g;
    init_global_defines(g);
    g_debug_msg = g.DEBUG_MSG;
    PAPER_CONFIG_FILEPATH = g.PAPER_CONFIG_FILEPATH;
    IMSTART_INTAKE_FOLDER = g.IMSTART_INTAKE_FOLDER;
    IMSTART_TRIGGER_FILENAME = g.IMSTART_TRIGGER_FILENAME;
    PROFILER_OUTPUT_FILEPATH = g.PROFILER_OUTPUT_FILEPATH;
    PATH_TO_BURNTABLES = BATTERY ? g.PATH_TO_BURNTABLES_BATTERY : g.PATH_TO_BURNTABLES;
    PATH_TO_DOTIMAGE_FILES = g.PATH_TO_DOTIMAGE_FILES;
    TEMPERATURE_FILENAME = g.TEMPERATURE_FILENAME;
    PRINTHEAD_CONFIG_FILENAME = g.PRINTHEAD_CONFIG_FILENAME;
    SLAVE_HSS_DEV_NAME = g.SLAVE_HSS_DEV_NAME;
    PRINTHEAD_DOT_WIDTH = g.PRINTHEAD_DOT_WIDTH;
    ABORT_GPIO_NUMBER = g.ABORT_GPIO_NUMBER;
    abort_pin_path = gpio_value_path(ABORT_GPIO_NUMBER);
    trigger_path = IMSTART_INTAKE_FOLDER + "/" + IMSTART_TRIGGER_FILENAME;

    KeyFile paper(PAPER_CONFIG_FILEPATH);
    MarkSeek = paper.get_int("Paper", "configMarkSeek");
    configContrast = paper.get_int("Paper", "configContrast");
    profiler.head.speed_floor = paper.get_int("Paper", "PROFILE_SPEED_FLOOR");

    KeyFile head(PRINTHEAD_CONFIG_FILENAME);
    int n = head.get_int("Step Times", "RAMP_TABLE_SIZE");
    if (n < 0) n = 0;
    if (n > RAMP_STEPS) n = RAMP_STEPS;
    profiler.head.ramp_table_size = n;
    for (int s = 0; s < n; ++s) {
        int v = head.get_int("Step Times", ("RAMP_STEP" + std::to_string(s)).c_str());
        profiler.head.acceleration_steps[s] = static_cast<uint16_t>(v < 0 ? 0 : v > 65535 ? 65535 : v);
    }
    profiler.head.PRINTHEAD_MAXNSA = head.get_int("Printhead_Electrical", "PRINTHEAD_MAXNSA");
    profiler.head.PRINTHEAD_HOTPOINT = head.get_int("Printhead_Electrical", "PRINTHEAD_HOTPOINT");

    KeyFile burn_test("/home/burn_test.cfg");
    dbg("burn test: burn_time=%d max_print_speed=%g\n", burn_test.get_int("Paper", "burn_time"),
        burn_test.get_double("Paper", "max_print_speed"));

    KeyFile device(device_config_path(read_units()));
    configPreFeed = device.get_double("Form", "configPreFeed");
    configPostFeed = device.get_double("Form", "configPostFeed");
    conti_mode = !(MarkSeek > 0 || configPreFeed > 0);
}

void load_burntables(int contrast) {
    std::lock_guard<std::mutex> lock(burntable_mutex);
    read_burntables(profiler, PATH_TO_BURNTABLES, contrast);
}

// ---- inotify helper -----------------------------------------------------------------------
// Watches a folder and calls fn(event) for each event; never returns.
template <class Fn>
void watch_folder(const std::string& folder, uint32_t mask, Fn fn, void (*after_watch)() = nullptr) {
    int fd = inotify_init();
    if (fd < 0) std::perror("Couldn't initialize inotify");
    int wd = fd < 0 ? -1 : inotify_add_watch(fd, folder.c_str(), mask);
    if (wd < 0) dbg("Couldn't add watch to %s\n", folder.c_str());
    else dbg("Watching:: %s\n", folder.c_str());
    if (after_watch) after_watch();
    alignas(inotify_event) char buf[4096];
    for (;;) {
        if (fd < 0 || wd < 0) {
            // Try again later: the folder may appear.
            sleep_ms(500);
            if (fd < 0) fd = inotify_init();
            if (fd >= 0) wd = inotify_add_watch(fd, folder.c_str(), mask);
            continue;
        }
        ssize_t len = read(fd, buf, sizeof buf);
        if (len <= 0) {
            if (len < 0 && errno != EINTR) {
                std::perror("read");
                sleep_ms(10);
            }
            continue;
        }
        for (char* p = buf; p < buf + len;) {
            auto* ev = reinterpret_cast<inotify_event*>(p);
            fn(*ev);
            p += sizeof(inotify_event) + ev->len;
        }
    }
}

void ensure_folder(const char* folder) {
    struct stat st {};
    if (stat(folder, &st) != 0) run_shell(std::string("mkdir ") + folder);
}

// ---- contrast trigger intake --------------------------------------------------------------
void apply_contrast_trigger() {
    FILE* f = std::fopen(trigger_path.c_str(), "r");
    if (!f) return;
    int contrast = 0;
    bool got = std::fscanf(f, "%d", &contrast) == 1;
    std::fclose(f);
    if (got) {
        bool updated = exists(BURNTABLES_UPDATED);
        if (contrast != prev_contrast_index || updated) {
            load_burntables(contrast);
            prev_contrast_index = contrast;
            if (updated) unlink(BURNTABLES_UPDATED);
        }
    }
    unlink(trigger_path.c_str());
}

void* imstart_intake_pthrd(void*) {
    struct stat st {};
    if (stat(IMSTART_INTAKE_FOLDER.c_str(), &st) != 0) mkdir(IMSTART_INTAKE_FOLDER.c_str(), 0777);
    // The watch comes first, so a trigger written after the leftover is removed is always seen.
    watch_folder(
        IMSTART_INTAKE_FOLDER, IN_CLOSE_WRITE,
        [](const inotify_event& ev) {
            if (!(ev.mask & IN_ISDIR)) apply_contrast_trigger();
        },
        [] { unlink(trigger_path.c_str()); });
    return nullptr;
}

// ---- temperature poller -------------------------------------------------------------------
int read_temperature_index() {
    auto sleep_checked = [](long ms) {
        if (BATTERY && get_abort()) return false;
        sleep_ms(ms);
        return true;
    };
    write_command_file_now('A');
    if (!sleep_checked(130)) return 0;
    write_command_file_now('Q');
    if (!sleep_checked(130)) return 0;
    const int polls = BATTERY ? 10 : 60;
    for (;;) {
        write_command_file_now('T');
        for (int k = 0; k < polls; ++k) {
            if (!sleep_checked(130)) return 0;
            if (get_abort()) return 0;
            FILE* f = std::fopen(TEMPERATURE_FILENAME.c_str(), "r");
            if (!f) continue;
            int mv = 0;
            bool got = std::fscanf(f, "%d", &mv) == 1;
            std::fclose(f);
            if (BATTERY) unlink(TEMPERATURE_FILENAME.c_str());
            if (!got) continue;
            int x = get_temp_x(mv, Layout::temp_index_limit);
            if (BATTERY) dbg("x=%d\n", x);
            else dbg("x=%d temp=%d\n", x, mv);
            return x;
        }
    }
}

void* temperature_pthrd(void*) {
    for (;;) {
        currentTemp = read_temperature_index();
        sleep_ms(100);
    }
    return nullptr;
}

// ---- block cutter -------------------------------------------------------------------------
int speed_offset() {
    int n = blocks_sent;
    return (n >= 701 && n <= 1000) ? 2 : 0;
}

void set_file_size(long size) {
    FILE* f = std::fopen(PROFILE_SIZE_FILE, "w");
    if (!f) {
        if (BATTERY) return;
        std::perror("Can't write /tmp/profilesize/prosize");
        std::exit(1);
    }
    std::fprintf(f, "%ld\n", size);
    std::fclose(f);
}

void flex_pbm() {
    std::memset(block_work, 0, sizeof block_work);
    const int temp = currentTemp;
    while (exists(PROFILER_OUTPUT_FILEPATH)) {
        dbg("<-- have profile -->\n");
        sleep_us(800);
    }
    int J;
    const int pending = ring.pending_rows();
    if (pending < PBMBLOCK_DOTLINE + RAMP_DOTLINE) {
        J = ring.take(block_work, pending);
        if (MarkSeek == 2) lastpbmblock = 1;
    } else {
        J = ring.take(block_work, PBMBLOCK_DOTLINE);
        J += ring.peek(block_work + size_t(J) * ROW_BYTES, RAMP_DOTLINE);
    }
    if (J <= 0) return;

    const int limit = read_ips_limit_index();
    const bool paper_stops = ring.pending_rows() == 0 && MarkSeek != 1 && MarkSeek != 2;
    long size;
    int fs = 0;
    {
        std::lock_guard<std::mutex> lock(burntable_mutex);
        SpeedCaps& c = profiler.caps;
        c.ips_limit = limit;
        c.set_max_speed_index = set_max_speed_index;
        c.speed_index = speed_index;
        c.set_speedmode_index = set_speedmode_index;
        c.cap_offset = BATTERY ? speed_offset() : 0;
        size = profile_block(profiler, block_work, J, temp, finalspeed, paper_stops ? 0 : limit, linenode_list,
                             speed_profile, &block_profile[0][0], sizeof block_profile, fs);
    }
    finalspeed = fs;
    if (size < 0) size = 0;

    if (write_profile_bytes(PROFILER_OUTPUT_FILEPATH, &block_profile[0][0], size) < 0) {
        if (!BATTERY) {
            std::perror("Can't open profile");
            std::exit(1);
        }
        return;  // the battery engine skips the block
    }
    while (exists(PROFILE_SIZE_FILE)) {
        if (BATTERY) {
            sleep_ms(1);
        } else {
            dbg("*-- have prosize --*\n");
            sleep_ms(5);
        }
    }
    set_file_size(size);
}

void* image_pro_pthrd(void*) {
    for (;;) {
        while (ring.pending_rows() > 0) {
            flex_pbm();
            sleep_ms(50);
        }
        if (speed_switch_pause == 0) {
            unlink(PAUSE_FILE);
            speed_switch_pause = 1;
        }
        sleep_ms(50);
    }
    return nullptr;
}

// ---- profile sender -----------------------------------------------------------------------
bool write_all(int fd, const uint8_t* p, size_t n) {
    while (n > 0) {
        ssize_t w = write(fd, p, n);
        if (w < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += w;
        n -= size_t(w);
    }
    return true;
}

// One-byte read of the block data port: 1 when the slave wants the next block.
int slave_ready(int fd) {
    char c;
    ssize_t n = read(fd, &c, 1);
    dbg("RTS = %d\n", int(n));
    return n == 1 ? 1 : 0;
}

void sendfile(const uint8_t* buf, long padded) {
    const long blocks = padded / HSS_BLOCK;
    dbg("blocknum = %ld\n", blocks);
    int fd = open(SLAVE_HSS_DEV_NAME.c_str(), O_RDWR | O_NOCTTY);
    if (BATTERY) {
        dbg("open_hsDriver\n");
        while (fd < 0 && !get_abort()) {  // the port may come back; an abort drops the profile
            sleep_ms(10);
            fd = open(SLAVE_HSS_DEV_NAME.c_str(), O_RDWR | O_NOCTTY);
        }
        if (fd < 0) return;
    } else if (fd < 0) {
        std::perror("Can't open hsDriver");
        std::exit(1);
    }
    const long poll_us = BATTERY ? 800 : 1000;
    bool aborted = false;
    long sent = 0;
    for (long b = 0; b < blocks; ++b) {
        for (;;) {
            if (get_abort()) {
                aborted = true;
                break;
            }
            if (slave_ready(fd)) break;
            sleep_us(poll_us);
        }
        if (aborted) break;
        dbg("sending block\n");
        if (!write_all(fd, buf + b * HSS_BLOCK, HSS_BLOCK)) {
            std::perror("write hsDriver");
            break;
        }
        ++sent;
        if (BATTERY) dbg("block++\n");
    }
    if (stopblock) {
        // Last block of a sheet: hold the next sheet until the slave has finished this one.
        stopblock = 0;
        while (!get_abort() && !slave_ready(fd)) sleep_ms(50);
        while (!get_abort()) {
            sleep_ms(50);
            if (!slave_ready(fd)) break;
        }
    } else if (aborted && MarkSeek == 2) {
        std::printf("abort\n");
        std::fflush(stdout);
        finalspeed = 4;
        unlink(PROFILE_SIZE_FILE);
        unlink(PROFILER_OUTPUT_FILEPATH.c_str());
    }
    dbg("finish***\n");
    close(fd);
    if (BATTERY) {
        int n = blocks_sent + int(sent);
        blocks_sent = n > 1000 ? 0 : n;
    }
}

void print_dotline_file_out(long size) {
    if (size > PROFILE_BUF_SIZE) size = PROFILE_BUF_SIZE;
    const long padded = padded_size(size);
    dbg("open profile\n");
    FILE* f = std::fopen(PROFILER_OUTPUT_FILEPATH.c_str(), "rb");
    if (!f) {
        // The profile named by the size file is gone: there is nothing to send.
        dbg("profile vanished\n");
        return;
    }
    std::memset(profile_buf, 0, size_t(padded));
    if (!BATTERY) setvbuf(f, nullptr, _IONBF, 0);  // the battery engine reads it buffered
    (void)!std::fread(profile_buf, 1, size_t(size), f);
    std::fclose(f);
    dbg("close profile\n");
    unlink(PROFILER_OUTPUT_FILEPATH.c_str());
    dbg("removed profile.bin\n");

    while (get_abort()) {
        if (MarkSeek == 1 && run_index) {
            run_shell("touch /tmp/run_index.txt");
            run_index = 0;
        }
        sleep_ms(10);
    }
    run_index = 1;
    if (MarkSeek == 1) {
        while (exists(RUN_INDEX_FILE)) {
            sleep_ms(50);
            if (BATTERY) write_command_file_now('Z');
            else run_shell("/root/engine_cmd Z");
        }
    }
    sendfile(profile_buf, padded);
}

void* send_profile(void*) {
    {
        struct stat st {};
        if (stat(PROFILE_SIZE_FOLDER, &st) != 0) run_shell("mkdir -m 0666 /tmp/profilesize");
    }
    for (;;) {
        while (exists(PROFILE_SIZE_FILE)) {
            FILE* f = std::fopen(PROFILE_SIZE_FILE, "r");
            if (!f) {
                std::perror("Can't read /tmp/profilesize/prosize");
                std::exit(1);
            }
            long size = 0;
            if (std::fscanf(f, "%ld", &size) != 1) size = 0;
            std::fclose(f);
            if (size <= 0) break;  // not written yet: look again
            dbg("profile size = %ld\n", size);
            unlink(PROFILE_SIZE_FILE);
            if (lastpbmblock) {
                stopblock = 1;
                lastpbmblock = 0;
            }
            print_dotline_file_out(size);
        }
        sleep_ms(1);
    }
    return nullptr;
}

// ---- dot image intake ---------------------------------------------------------------------
void take_image(const std::string& path) {
    while (exists(trigger_path)) sleep_ms(1);
    if (!conti_mode) {
        while (ring.pending_rows() != 0) sleep_ms(50);
    }
    const int retries = BATTERY ? 0 : 30;
    const int rows = get_pbm_file_lines(path, MarkSeek, retries, !BATTERY && g_debug_msg == 1);
    if (rows == 0 && !exists(path)) {
        if (!BATTERY) std::perror("get_pbm_file_lines: Can't open inputfile");
    }
    if (rows > 0) {
        const size_t bytes = size_t(rows) * ROW_BYTES;
        while (ring.full()) sleep_us(800);
        size_t at = 0;
        while (!ring.find_room(bytes, at)) sleep_ms(1);
        int got = read_pbm_file(ring.data() + at, path, rows, retries);
        if (got == 0 && !BATTERY) std::printf("read_pbm_file: Can't open inputfile %s\n", path.c_str());
        ring.commit(at, got);
        dbg("read %d lines into pbm_input_buffer\n", got);
    }
    unlink(path.c_str());
}

void* pbm_image_intake_pthrd(void*) {
    watch_folder(PATH_TO_DOTIMAGE_FILES, IN_CLOSE_WRITE, [](const inotify_event& ev) {
        if ((ev.mask & IN_ISDIR) || ev.len == 0 || ev.name[0] == '\0') return;
        take_image(PATH_TO_DOTIMAGE_FILES + "/" + ev.name);
    });
    return nullptr;
}

// ---- speed cap, speed mode and pause ------------------------------------------------------
int read_first_char(const char* path) {
    FILE* f = std::fopen(path, "r");
    if (!f) return -1;
    int c = std::fgetc(f);
    std::fclose(f);
    return c;
}

void* maxspeed_intake_pthrd(void*) {
    ensure_folder(MAXSPEED_FOLDER);
    watch_folder(MAXSPEED_FOLDER, IN_CLOSE_WRITE, [](const inotify_event& ev) {
        if (ev.mask & IN_ISDIR) return;
        int c = read_first_char(MAXSPEED_FILE);
        if (c == '9') {
            set_max_speed_index = 0;
        } else if (c >= '0' && c <= '5') {  // the cap table has six entries
            speed_index = c - '0';
            set_max_speed_index = 1;
        }
        unlink(MAXSPEED_FILE);
    });
    return nullptr;
}

void* speedmode_intake_pthrd(void*) {
    ensure_folder(SPEEDMODE_FOLDER);
    watch_folder(SPEEDMODE_FOLDER, IN_CLOSE_WRITE, [](const inotify_event& ev) {
        if (ev.mask & IN_ISDIR) return;
        int c = read_first_char(SPEEDMODE_FILE);
        if (c >= 0) set_speedmode_index = c == '1' ? 1 : 0;
        unlink(SPEEDMODE_FILE);
    });
    return nullptr;
}

void* watch_speed_pthrd(void*) {
    ensure_folder(PAUSE_FOLDER);
    watch_folder(
        PAUSE_FOLDER, IN_CREATE,
        [](const inotify_event&) {
            dbg("speed pause file create\n");
            speed_switch_pause = 0;
        },
        [] {
            if (exists(PAUSE_FILE)) speed_switch_pause = 0;  // created before the watch
        });
    return nullptr;
}

}  // namespace

int main() {
    read_settings();
    dbg("Dot Feeder: %s %s\n", __DATE__, __TIME__);
    init_luts();
    init_oddluts();
    init_evenluts();
    // Once: a head limit that a full row cannot keep to.
    std::string head_limit = clump_base_report<Layout>(profiler.head.PRINTHEAD_MAXNSA);
    if (!head_limit.empty()) std::fputs(head_limit.c_str(), stderr);
    {
        struct stat st {};
        std::string folder = PROFILER_OUTPUT_FILEPATH.substr(0, PROFILER_OUTPUT_FILEPATH.rfind('/'));
        if (!folder.empty() && stat(folder.c_str(), &st) != 0) mkdir(folder.c_str(), 0755);
    }
    load_burntables(configContrast);
    prev_contrast_index = configContrast;

    void* (*threads[])(void*) = {imstart_intake_pthrd,   temperature_pthrd,     image_pro_pthrd,
                                 send_profile,           pbm_image_intake_pthrd, maxspeed_intake_pthrd,
                                 speedmode_intake_pthrd, watch_speed_pthrd};
    pthread_t ids[8];
    bool started[8] = {};
    for (int i = 0; i < 8; ++i) {
        started[i] = pthread_create(&ids[i], nullptr, threads[i], nullptr) == 0;
        if (!started[i]) std::printf("Dot Feeder: Thread creation failed\n");
    }
    for (int i = 0; i < 8; ++i) {
        if (started[i]) pthread_join(ids[i], nullptr);
    }
    return 0;
}
