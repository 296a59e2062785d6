// dot_feeder / dot_feeder_battery: the print engine.
//
// Takes every dot image dropped into the intake folder into the line ring, cuts the rows into
// blocks of 40 (plus 40 look-ahead rows that shape the speeds), profiles each block and streams the
// profile to the slave's block data port in 4096-byte blocks. Built twice from this file: with
// DOT_FEEDER_BATTERY the battery layout and behaviour are used.
//
// Nothing polls while the printer is idle: the threads block on inotify, on the engine's condition
// variable (rows pending, a pause asked for, work finished) or on the data port; only the
// temperature poller runs on its fixed cadence. Images already waiting in the intake when the
// engine starts are taken first, oldest first.
//
// Dropping (an abort, or SIGUSR1 from the abort script): the pending rows, the profile waiting to
// be sent and the block being sent are given up, and while the abort line is active every image
// that arrives is removed unread. SIGTERM ends the engine gracefully: it takes no more images
// (they stay in the intake for the next engine), prints what it holds and exits.
#include "command_file.h"
#include "dot_image.h"
#include "file_watch.h"
#include "gpio.h"
#include "job_intake.h"
#include "keyfile.h"
#include "line_ring.h"
#include "pbm_reader.h"
#include "profile_file.h"
#include "profiler.h"
#include "run.h"
#include "settings.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <pthread.h>
#include <string>
#include <sys/eventfd.h>
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
std::atomic<int> run_index{1};    // black-mark gate: 0 once an abort has asked for a new mark

// The engine's condition variable: rows committed or dropped, a pause asked for, a thread done
// with its work. Waiters check their condition under engine_m; every change is followed by
// notify_engine(), which takes engine_m, so no wake-up is lost.
std::mutex engine_m;
std::condition_variable engine_cv;
void notify_engine() {
    std::lock_guard<std::mutex> lock(engine_m);
    engine_cv.notify_all();
}
// Waits until pred() holds or `terminating` is set. The bound only makes the wait robust.
template <class Pred>
void wait_engine(Pred pred) {
    std::unique_lock<std::mutex> lock(engine_m);
    while (!pred()) engine_cv.wait_for(lock, std::chrono::seconds(1));
}

std::atomic<bool> terminating{false};  // SIGTERM: finish what is held, take nothing new
std::atomic<int> intake_busy{0}, cutter_busy{0}, sender_busy{0};
std::atomic<uint64_t> drop_gen{0};     // counts drops; work begun before a drop is not published
std::mutex cutter_m;                   // held by the block cutter while it copies rows out
// Held while a drop removes the hand-off files, while the cutter publishes a profile (the size
// file) and while the sender takes one: a profile is published and taken wholly before or
// wholly after a drop.
std::mutex handoff_m;
bool published_continues = false;  // the profile in the size file ends on a row that continues (under handoff_m)
int drop_event = -1;               // eventfd: a drop wakes the sender (it may owe the slave the end of a job)

// Marks a thread busy for the graceful end; the end waits until no thread is.
struct Busy {
    std::atomic<int>& flag;
    explicit Busy(std::atomic<int>& f) : flag(f) { flag = 1; }
    ~Busy() {
        flag = 0;
        notify_engine();
    }
};

bool exists(const char* path) { return access(path, F_OK) == 0; }
bool exists(const std::string& path) { return exists(path.c_str()); }

// ---- dropping what is held ----------------------------------------------------------------
// Gives up every pending row, the profile waiting to be sent and the block being sent.
void drop_held(const char* why) {
    {
        std::lock_guard<std::mutex> handoff(handoff_m);
        {
            std::lock_guard<std::mutex> hold(cutter_m);
            ++drop_gen;
            ring.clear();
        }
        unlink(PROFILER_OUTPUT_FILEPATH.c_str());
        unlink(PROFILE_SIZE_FILE);
    }
    if (drop_event >= 0) {
        uint64_t one = 1;
        (void)!write(drop_event, &one, sizeof one);
    }
    finalspeed = 0;
    lastpbmblock = 0;
    stopblock = 0;
    dbg("dropped everything held (%s)\n", why);
    notify_engine();
}

// The abort line is active: in black-mark mode the next sheet must find its mark again; what is
// held is dropped.
void abort_seen() {
    if (MarkSeek == 1 && run_index.exchange(0) == 1) run_shell("touch /tmp/run_index.txt");
    drop_held("abort");
}

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
    // The watch comes first, so a trigger written after the leftover is handled is always seen.
    // A leftover trigger belongs to an image still waiting in the intake (written before the
    // previous engine ended): it is applied, then removed, so that image prints at its darkness.
    // An ending engine leaves triggers to the next one.
    watch_folder(
        IMSTART_INTAKE_FOLDER, IN_CLOSE_WRITE,
        [](const inotify_event& ev) {
            if (!(ev.mask & IN_ISDIR) && !terminating) apply_contrast_trigger();
        },
        [] { apply_contrast_trigger(); });
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
            if (!thermistor_plausible(mv)) {
                // No head is that hot or that cold: a reading that is no temperature is not used
                // for heat; the index stays as it was.
                dbg("thermistor reading %d mV ignored\n", mv);
                return currentTemp.load();
            }
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
    Busy busy(cutter_busy);
    if (get_abort()) {
        abort_seen();
        return;
    }
    std::memset(block_work, 0, sizeof block_work);
    const int temp = currentTemp;
    if (exists(PROFILER_OUTPUT_FILEPATH)) {
        dbg("<-- have profile -->\n");
        wait_while_exists(PROFILER_OUTPUT_FILEPATH, 100);
    }
    int J;
    uint64_t gen;
    {
        std::lock_guard<std::mutex> hold(cutter_m);
        gen = drop_gen;
        const int pending = ring.pending_rows();
        if (pending < PBMBLOCK_DOTLINE + RAMP_DOTLINE) {
            J = ring.take(block_work, pending);
            if (MarkSeek == 2 && J > 0) lastpbmblock = 1;
        } else {
            J = ring.take(block_work, PBMBLOCK_DOTLINE);
            J += ring.peek(block_work + size_t(J) * ROW_BYTES, RAMP_DOTLINE);
        }
    }
    notify_engine();  // room in the ring for a waiting image
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
    if (gen != drop_gen) return;  // dropped while it was profiled
    finalspeed = fs;
    if (size < 0) size = 0;

    if (write_profile_bytes(PROFILER_OUTPUT_FILEPATH, &block_profile[0][0], size) < 0) {
        if (!BATTERY) {
            std::perror("Can't open profile");
            std::exit(1);
        }
        return;  // the battery engine skips the block
    }
    if (exists(PROFILE_SIZE_FILE)) {
        if (!BATTERY) dbg("*-- have prosize --*\n");
        wait_while_exists(PROFILE_SIZE_FILE, 100);
    }
    std::lock_guard<std::mutex> handoff(handoff_m);
    if (gen != drop_gen) {
        // Dropped while it waited: the profile goes too (the drop may have come before it was
        // written).
        unlink(PROFILER_OUTPUT_FILEPATH.c_str());
        return;
    }
    // A block cut with its look-ahead rows ends on a row that the next block continues; a block
    // of all that was pending ends what is pending (its last row carries 255).
    published_continues = J == PBMBLOCK_DOTLINE + RAMP_DOTLINE;
    set_file_size(size);
}

void* image_pro_pthrd(void*) {
    for (;;) {
        wait_engine([] { return ring.pending_rows() > 0 || speed_switch_pause == 0; });
        if (ring.pending_rows() > 0) {
            flex_pbm();
            sleep_ms(50);
            continue;
        }
        // Everything before the pause file has been cut into blocks: its writer learns so from
        // its removal.
        if (speed_switch_pause == 0) {
            unlink(PAUSE_FILE);
            speed_switch_pause = 1;
        }
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

// Waits up to wait_ms for the slave's request and reads it. The port is read only once poll(2)
// says a byte is there; a port that reports readable without a byte (a driver without poll
// support) is read every poll_us, as a plain read loop would.
bool wait_slave_ready(int fd, int wait_ms, long poll_us) {
    struct pollfd p {fd, POLLIN, 0};
    int r = poll(&p, 1, wait_ms);
    if (r < 0 && errno != EINTR) {
        sleep_us(poll_us);
        return slave_ready(fd);
    }
    if (r <= 0) return false;
    if (slave_ready(fd)) return true;
    sleep_us(poll_us);
    return false;
}

// Something happened that ends the transfer: the abort line, or a drop.
bool transfer_stopped(uint64_t gen) {
    if (get_abort()) {
        abort_seen();
        return true;
    }
    return gen != drop_gen;
}

enum class Sent { whole, dropped, aborted };

// Sends the padded profile block by block. Only the abort line stops a profile between two of
// its blocks (the slave drops what it holds then); a profile whose rows were dropped otherwise is
// not begun, or sent to its end, so the slave never holds half a row.
Sent sendfile(const uint8_t* buf, long padded, uint64_t gen) {
    const long blocks = padded / HSS_BLOCK;
    dbg("blocknum = %ld\n", blocks);
    int fd = open(SLAVE_HSS_DEV_NAME.c_str(), O_RDWR | O_NOCTTY);
    if (BATTERY) {
        dbg("open_hsDriver\n");
        while (fd < 0 && !transfer_stopped(gen)) {  // the port may come back; an abort drops the profile
            sleep_ms(10);
            fd = open(SLAVE_HSS_DEV_NAME.c_str(), O_RDWR | O_NOCTTY);
        }
        if (fd < 0) return Sent::dropped;
    } else if (fd < 0) {
        std::perror("Can't open hsDriver");
        std::exit(1);
    }
    const long poll_us = BATTERY ? 800 : 1000;
    Sent result = Sent::whole;
    long sent = 0;
    for (long b = 0; b < blocks && result == Sent::whole; ++b) {
        for (;;) {
            if (get_abort()) {
                abort_seen();
                result = Sent::aborted;
                break;
            }
            if (b == 0 && gen != drop_gen) {
                result = Sent::dropped;
                break;
            }
            if (wait_slave_ready(fd, 10, poll_us)) break;
        }
        if (result != Sent::whole) break;
        dbg("sending block\n");
        if (!write_all(fd, buf + b * HSS_BLOCK, HSS_BLOCK)) {
            std::perror("write hsDriver");
            result = Sent::dropped;
            break;
        }
        ++sent;
        if (BATTERY) dbg("block++\n");
    }
    const bool aborted = result == Sent::aborted;
    if (stopblock && result == Sent::whole) {
        // Last block of a sheet: hold the next sheet until the slave has finished this one.
        stopblock = 0;
        while (!transfer_stopped(gen) && !slave_ready(fd)) sleep_ms(50);
        while (!transfer_stopped(gen)) {
            sleep_ms(50);
            if (!slave_ready(fd)) break;
        }
    } else if (aborted && MarkSeek == 2) {
        // The drop has removed the profile and size files already.
        std::printf("abort\n");
        std::fflush(stdout);
        stopblock = 0;
        finalspeed = 4;
    }
    if (result != Sent::whole) stopblock = 0;
    dbg("finish***\n");
    close(fd);
    if (BATTERY) {
        int n = blocks_sent + int(sent);
        blocks_sent = n > 1000 ? 0 : n;
    }
    return result;
}

// Loads the profile into profile_buf and removes it (this releases the block cutter). False when
// it is gone (dropped): there is nothing to send.
bool load_profile(long size, long padded) {
    dbg("open profile\n");
    FILE* f = std::fopen(PROFILER_OUTPUT_FILEPATH.c_str(), "rb");
    if (!f) {
        dbg("profile vanished\n");
        return false;
    }
    std::memset(profile_buf, 0, size_t(padded));
    if (!BATTERY) setvbuf(f, nullptr, _IONBF, 0);  // the battery engine reads it buffered
    (void)!std::fread(profile_buf, 1, size_t(size), f);
    std::fclose(f);
    dbg("close profile\n");
    unlink(PROFILER_OUTPUT_FILEPATH.c_str());
    dbg("removed profile.bin\n");
    return true;
}

Sent print_dotline_file_out(long size, uint64_t gen) {
    if (size > PROFILE_BUF_SIZE) size = PROFILE_BUF_SIZE;
    const long padded = padded_size(size);
    {
        std::lock_guard<std::mutex> handoff(handoff_m);
        if (gen != drop_gen || !load_profile(size, padded)) return Sent::dropped;
    }

    // An abort drops the profile with everything else held; printing goes on with what comes
    // after it.
    if (get_abort()) {
        abort_seen();
        return Sent::aborted;
    }
    if (gen != drop_gen) return Sent::dropped;
    run_index = 1;
    if (MarkSeek == 1) {
        while (exists(RUN_INDEX_FILE)) {
            sleep_ms(50);
            if (get_abort()) {
                abort_seen();
                return Sent::aborted;
            }
            if (gen != drop_gen) return Sent::dropped;
            if (BATTERY) write_command_file_now('Z');
            else run_shell("/root/engine_cmd Z");
        }
    }
    return sendfile(profile_buf, padded, gen);
}

// The end of a job whose rows were dropped after the slave had begun it: one blank row at
// standstill whose step word ends what is pending (0, 255), so the slave stops and does not wait
// for rows that will never come.
void send_job_end() {
    static uint8_t end_block[HSS_BLOCK];
    std::memset(end_block, 0, sizeof end_block);
    end_block[4] = 0xFF;  // words (0,0) (0,0) (0,255), each stored low byte first
    dbg("the slave's job ends after a drop\n");
    sendfile(end_block, HSS_BLOCK, drop_gen);
}

void* send_profile(void*) {
    {
        struct stat st {};
        if (stat(PROFILE_SIZE_FOLDER, &st) != 0) run_shell("mkdir -m 0666 /tmp/profilesize");
    }
    // The size file is written "w" and closed: its close (or a rename into the folder) wakes the
    // sender. The watch is in place before each look.
    FolderWatch size_watch(PROFILE_SIZE_FOLDER, IN_CLOSE_WRITE | IN_MOVED_TO);
    // Whether the slave holds rows of a job whose end it has not had, and the generation of the
    // profile that left it so.
    bool mid_job = false;
    uint64_t mid_job_gen = 0;
    for (;;) {
        while (exists(PROFILE_SIZE_FILE)) {
            Busy busy(sender_busy);
            long size = 0;
            uint64_t gen;
            bool continues;
            {
                // The size and the generation it belongs to are read together.
                std::lock_guard<std::mutex> handoff(handoff_m);
                FILE* f = std::fopen(PROFILE_SIZE_FILE, "r");
                if (!f) {
                    if (!exists(PROFILE_SIZE_FILE)) break;  // dropped meanwhile
                    std::perror("Can't read /tmp/profilesize/prosize");
                    std::exit(1);
                }
                if (std::fscanf(f, "%ld", &size) != 1) size = 0;
                std::fclose(f);
                if (size <= 0) break;  // not written yet: its close wakes the sender again
                gen = drop_gen;
                continues = published_continues;
                unlink(PROFILE_SIZE_FILE);
            }
            dbg("profile size = %ld\n", size);
            if (lastpbmblock) {
                stopblock = 1;
                lastpbmblock = 0;
            }
            switch (print_dotline_file_out(size, gen)) {
                case Sent::whole:
                    mid_job = continues;
                    mid_job_gen = gen;
                    break;
                case Sent::aborted:
                    mid_job = false;  // the slave drops what it holds
                    break;
                case Sent::dropped:
                    break;
            }
        }
        if (mid_job && mid_job_gen != drop_gen && !exists(PROFILE_SIZE_FILE)) {
            // What was to follow was dropped.
            Busy busy(sender_busy);
            if (!get_abort()) send_job_end();
            mid_job = false;
        }
        if (!size_watch.ok()) {
            sleep_ms(1);
            size_watch.open(PROFILE_SIZE_FOLDER, IN_CLOSE_WRITE | IN_MOVED_TO);
            continue;
        }
        // Until a size file is closed or a drop is made.
        struct pollfd p[2] = {{size_watch.fd(), POLLIN, 0}, {drop_event, POLLIN, 0}};
        int r = poll(p, drop_event >= 0 ? 2 : 1, 5000);
        if (r > 0) {
            if (p[0].revents) size_watch.drain();
            uint64_t n;
            if (drop_event >= 0 && p[1].revents) (void)!read(drop_event, &n, sizeof n);
        } else if (r == 0 && !exists(PROFILE_SIZE_FOLDER)) {
            // The folder went away: make it again and watch the new one.
            run_shell("mkdir -m 0666 /tmp/profilesize");
            size_watch.open(PROFILE_SIZE_FOLDER, IN_CLOSE_WRITE | IN_MOVED_TO);
        }
    }
    return nullptr;
}

// ---- dot image intake ---------------------------------------------------------------------
// Takes one image into the ring and removes it. While the abort line is active an image is
// removed unread. An ending engine leaves the image where it is (returns without touching it).
void take_image(const std::string& path) {
    if (terminating) return;
    Busy busy(intake_busy);
    if (get_abort()) {
        dbg("abort: %s dropped\n", path.c_str());
        unlink(path.c_str());
        abort_seen();
        return;
    }
    // The contrast trigger written before this image is applied first.
    if (!wait_while_exists(trigger_path, 100, [] { return terminating.load(); })) return;
    if (!conti_mode) {
        wait_engine([] { return ring.pending_rows() == 0 || terminating; });
        if (terminating) return;
    }
    const int retries = BATTERY ? 0 : 30;
    const int rows = get_pbm_file_lines(path, MarkSeek, retries, !BATTERY && g_debug_msg == 1);
    if (rows == 0 && !exists(path)) {
        if (!BATTERY) std::perror("get_pbm_file_lines: Can't open inputfile");
    }
    if (rows > 0) {
        const size_t bytes = size_t(rows) * ROW_BYTES;
        size_t at = 0;
        uint64_t gen = 0;
        bool room = false;
        // The generation is read before the room is found: a drop in between makes the commit
        // fail instead of placing the rows where the reader no longer looks.
        wait_engine([&] {
            gen = ring.generation();
            room = !ring.full() && ring.find_room(bytes, at);
            return room || terminating;
        });
        if (!room) return;
        int got = read_pbm_file(ring.data() + at, path, rows, retries);
        if (got == 0 && !BATTERY) std::printf("read_pbm_file: Can't open inputfile %s\n", path.c_str());
        if (ring.commit(at, got, gen)) dbg("read %d lines into pbm_input_buffer\n", got);
        notify_engine();
    }
    unlink(path.c_str());
}

// The images already waiting when the engine starts are taken first, oldest first; then each
// image closed after writing (or moved in).
void* pbm_image_intake_pthrd(void*) {
    JobIntake intake(PATH_TO_DOTIMAGE_FILES, take_image);
    intake.run();
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
            notify_engine();
        },
        [] {
            if (exists(PAUSE_FILE)) {
                speed_switch_pause = 0;  // created before the watch
                notify_engine();
            }
        });
    return nullptr;
}

// ---- signals: a drop asked for, the graceful end ------------------------------------------
int signal_event = -1;  // eventfd: the handler wakes the signal thread
std::atomic<bool> end_requested{false};
std::atomic<int> drops_requested{0};

void on_signal(int sig) {
    const int saved = errno;
    if (sig == SIGTERM) end_requested = true;
    else drops_requested.fetch_add(1);
    uint64_t one = 1;
    (void)!write(signal_event, &one, sizeof one);
    errno = saved;
}

// Nothing held any more: no rows, no profile waiting or being sent, no image being taken.
bool engine_idle() {
    return intake_busy == 0 && cutter_busy == 0 && sender_busy == 0 && ring.pending_rows() == 0 &&
           !exists(PROFILER_OUTPUT_FILEPATH) && !exists(PROFILE_SIZE_FILE);
}

void* signal_pthrd(void*) {
    for (;;) {
        uint64_t n = 0;
        if (read(signal_event, &n, sizeof n) < 0 && errno != EINTR) sleep_ms(100);
        if (drops_requested.exchange(0) > 0) drop_held("asked for");
        if (!end_requested) continue;
        // The graceful end: no image is taken any more (they stay in the intake for the engine
        // that follows), what is held is printed, then the engine exits.
        terminating = true;
        notify_engine();
        dbg("Dot Feeder: ending once what is held is printed\n");
        while (!engine_idle()) {
            if (drops_requested.exchange(0) > 0) drop_held("asked for");
            std::unique_lock<std::mutex> lock(engine_m);
            engine_cv.wait_for(lock, std::chrono::milliseconds(100));
        }
        std::fflush(stdout);
        _exit(0);
    }
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
    // A profile or size file left by an engine that was killed belongs to rows that are gone; left
    // in place, the profile would hold the block cutter for ever.
    unlink(PROFILER_OUTPUT_FILEPATH.c_str());
    unlink(PROFILE_SIZE_FILE);
    load_burntables(configContrast);
    prev_contrast_index = configContrast;

    drop_event = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    signal_event = eventfd(0, EFD_CLOEXEC);
    if (signal_event >= 0) {
        struct sigaction sa {};
        sa.sa_handler = on_signal;
        sa.sa_flags = SA_RESTART;
        sigemptyset(&sa.sa_mask);
        sigaction(SIGTERM, &sa, nullptr);
        sigaction(SIGUSR1, &sa, nullptr);
        pthread_t sig_thread;
        if (pthread_create(&sig_thread, nullptr, signal_pthrd, nullptr) == 0) pthread_detach(sig_thread);
    }

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
