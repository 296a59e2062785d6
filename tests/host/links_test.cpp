// The pieces of the host links that run without a network: the job closer, raster pages, the
// discovery answer, the response pipe and the serial module's line.
#include "discovery.h"
#include "emulation.h"
#include "host_state.h"
#include "host_test_support.h"
#include "job_closer.h"
#include "raster_intake.h"
#include "response_pipe.h"
#include "serial_reader.h"
#include "shell_runner.h"
#include "host_spawn.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <pty.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace std::chrono;
using std::chrono::steady_clock;

namespace {
template <class Pred>
bool wait_for(Pred pred, int ms = 5000) {
    for (int i = 0; i < ms / 5 && !pred(); ++i) std::this_thread::sleep_for(milliseconds(5));
    return pred();
}

size_t files_in(const std::string& folder) {
    return static_cast<size_t>(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

// ---- job closer ----------------------------------------------------------------------------
class Closer : public ::testing::Test {
protected:
    TempFolder dir;
    WirelessJob job;
    bool stop = false;
    std::thread closer;
    void SetUp() override {
        host_paths.engine_intake = dir.str("engine");
        host_settings.PATH_TO_JOB_INTAKE = dir.str("jobs");
        fs::create_directories(host_paths.engine_intake);
        fs::create_directories(host_settings.PATH_TO_JOB_INTAKE);
        Hexconfig = 0;
        host_command_hook = [](const std::string&) { return 0; };
        closer = std::thread([this] {
            while (!stop) job.close_when_idle(&stop);
        });
    }
    void TearDown() override {
        stop = true;
        job.wake();
        closer.join();
        job.close_now();
        drain_shell_commands();
        host_command_hook = nullptr;
    }
    // Opens a job, writes, and starts the idle count; returns when the data were written.
    steady_clock::time_point receive(const std::string& text, int input = WirelessJob::RECEIVING) {
        if (job.needs_file()) {
            EXPECT_TRUE(job.open_file());
        }
        EXPECT_TRUE(job.write(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
        job.set_input(input);
        return steady_clock::now();
    }
    long closed_after_ms(steady_clock::time_point since, int limit_ms = 10000) {
        wait_for([&] { return !job.file_is_open(); }, limit_ms);
        return duration_cast<milliseconds>(steady_clock::now() - since).count();
    }
};

TEST_F(Closer, AStreamingJobClosesAfterItsIdleTicks) {
    set_emulation("ZPL");
    host_settings.BT_TIMEOUT_TICKS = 300;
    auto t = receive("^XA");
    std::this_thread::sleep_for(milliseconds(200));
    t = receive("^XZ");  // more data: the count starts again
    EXPECT_TRUE(job.file_is_open());
    long ms = closed_after_ms(t);
    EXPECT_GE(ms, 300);
    EXPECT_LT(ms, 3000);
    EXPECT_EQ(file_text(dir.str("engine/printjob-1")), "^XA^XZ");
    EXPECT_EQ(job.input(), WirelessJob::NO_JOB);
}

TEST_F(Closer, AWholeJobWaitsTenTimesAndAHangUpShortensIt) {
    set_emulation("PDF");
    host_settings.BT_TIMEOUT_TICKS = 250;  // 2500 ticks for a whole job
    auto t = receive("%PDF-1.4");
    long ms = closed_after_ms(t);
    EXPECT_GE(ms, 2500);
    EXPECT_EQ(files_in(dir.str("jobs")), 1u);
    // The host hangs up right after its data: the timer jumps to 2000 ticks, so 500 are left.
    receive("%PDF-1.4 again");
    job.hang_up();
    auto hung = steady_clock::now();
    ms = closed_after_ms(hung);
    EXPECT_GE(ms, 400);
    EXPECT_LT(ms, 2000);
    EXPECT_EQ(files_in(dir.str("jobs")), 2u);
}

TEST_F(Closer, AJobThatEndsWithItsConnectionIsLeftAlone) {
    set_emulation("ZPL");
    host_settings.BT_TIMEOUT_TICKS = 50;
    receive("data", WirelessJob::NOT_COUNTED);
    std::this_thread::sleep_for(milliseconds(400));
    EXPECT_TRUE(job.file_is_open());
    EXPECT_TRUE(job.close_now());
    EXPECT_FALSE(job.close_now());
}

// ---- raster pages --------------------------------------------------------------------------
class Raster : public ::testing::Test {
protected:
    TempFolder dir;
    std::string pgm = dir.str("printjob-1.pgm");
    std::string pbm = dir.str("imge.pbm");

    void page(int w, int h, const std::function<uint8_t(int, int)>& grey, const std::string& header = "") {
        std::string text = header.empty() ? "P5\n" + std::to_string(w) + " " + std::to_string(h) + " 255\n" : header;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) text.push_back(static_cast<char>(grey(x, y)));
        put_file(pgm, text);
    }
    // Row y of the dot image (216 bytes), after checking the header.
    std::string row(int y, int height) {
        std::string img = file_text(pbm);
        char head[32];
        std::snprintf(head, sizeof head, "P4\n1728 %05d\n", height);
        EXPECT_EQ(img.substr(0, std::strlen(head)), head);
        EXPECT_EQ(img.size(), std::strlen(head) + 216u * static_cast<size_t>(height));
        return img.substr(std::strlen(head) + 216u * static_cast<size_t>(y), 216);
    }
};

TEST_F(Raster, AFullWidthPageHasNoMarginsAndANarrowOneIsCentred) {
    // 1728 wide: a black first dot and a black last dot.
    page(1728, 2, [](int x, int) { return (x == 0 || x == 1727) ? 0 : 255; });
    ASSERT_EQ(pgm_to_pbm(pgm, pbm), 0);
    std::string r = row(0, 2);
    EXPECT_EQ(static_cast<uint8_t>(r[0]), 0x80);
    EXPECT_EQ(static_cast<uint8_t>(r[215]), 0x01);
    fs::remove(pbm);

    // 576 wide, black and white stripes: 72 zero bytes, 72 bytes of stripes, 72 zero bytes.
    page(576, 3, [](int x, int) { return x % 2 ? 255 : 0; });
    ASSERT_EQ(pgm_to_pbm(pgm, pbm), 0);
    r = row(2, 3);
    EXPECT_EQ(r, std::string(72, '\0') + std::string(72, '\xaa') + std::string(72, '\0'));
    int left = 0, right = 0;
    raster_margins(576, left, right);
    EXPECT_EQ(left, 72);
    EXPECT_EQ(right, 72);
}

TEST_F(Raster, AWidthThatIsNoMultipleOfEightKeepsEachRowInItsRow) {
    // 577 wide: d = 1151, left 71, right 72, 73 data bytes; the last pixel of each row is black.
    page(577, 2, [](int x, int y) { return (x == 576 && y == 1) ? 0 : 255; });
    ASSERT_EQ(pgm_to_pbm(pgm, pbm), 0);
    EXPECT_EQ(row(0, 2), std::string(216, '\0'));
    std::string r = row(1, 2);
    EXPECT_EQ(static_cast<uint8_t>(r[71 + 72]), 0x80);
    EXPECT_EQ(r.substr(71 + 73), std::string(72, '\0'));
}

TEST_F(Raster, ThresholdFollowsTheMeanGrey) {
    EXPECT_EQ(raster_threshold(255), 235);
    EXPECT_EQ(raster_threshold(241), 221);
    EXPECT_EQ(raster_threshold(240), 215);
    EXPECT_EQ(raster_threshold(201), 176);
    EXPECT_EQ(raster_threshold(200), 165);
    EXPECT_EQ(raster_threshold(51), 16);
    EXPECT_EQ(raster_threshold(50), 50);
    EXPECT_EQ(raster_threshold(40), 40);

    // All white (mean 255 -> 235): nothing prints.
    page(1728, 2, [](int, int) { return 255; });
    ASSERT_EQ(pgm_to_pbm(pgm, pbm), 0);
    EXPECT_EQ(row(1, 2), std::string(216, '\0'));
    fs::remove(pbm);
    // Nearly white (mean 254 -> 234): 233 prints, 234 does not.
    page(1728, 1, [](int x, int) { return x == 0 ? 233 : x == 1 ? 234 : 255; });
    ASSERT_EQ(pgm_to_pbm(pgm, pbm), 0);
    EXPECT_EQ(static_cast<uint8_t>(row(0, 1)[0]), 0x80);
    fs::remove(pbm);
    // Mean 40: the mean itself is the threshold; 39 prints, 40 and 41 do not.
    page(8, 1, [](int x, int) { return x == 0 ? 39 : x == 1 ? 41 : 40; });
    ASSERT_EQ(pgm_to_pbm(pgm, pbm), 0);
    EXPECT_EQ(static_cast<uint8_t>(row(0, 1)[107]), 0x80);
}

TEST_F(Raster, PagesTheHeaderDoesNotDescribeAreRefused) {
    struct Case {
        std::string header;
        int w, h;
    };
    const Case refused[] = {
        {"P5\n0 10 255\n", 0, 10},                // width 0
        {"P5\n1729 1 255\n", 1729, 1},            // wider than the head
        {"P5\n100 0 255\n", 100, 0},              // no rows
        {"P5\nabc 10 255\n", 10, 10},             // not a number
        {"P5\n10 x10 255\n", 10, 10},
        {"P5\n10\t10 255\n", 10, 10},             // not one blank
        {"P5\n10 10 255\n", 10, 9},               // data shorter than announced
        {"P5\n99999999999 1 255\n", 8, 1},        // too many digits
        {std::string(300, 'P') + "\n8 1 255\n", 8, 1},  // no first line end
    };
    for (const Case& c : refused) {
        page(c.w, c.h, [](int, int) { return 0; }, c.header);
        EXPECT_EQ(pgm_to_pbm(pgm, pbm), -1) << c.header;
        EXPECT_FALSE(fs::exists(pbm)) << c.header;
    }
    // The common layout with the maximum grey value on a line of its own is read too.
    page(8, 2, [](int, int) { return 0; }, "P5\n8 2\n255\n");
    EXPECT_EQ(pgm_to_pbm(pgm, pbm), 0);
    EXPECT_EQ(file_text(pbm).size(), std::string("P4\n1728 00002\n").size() + 432);
}

TEST_F(Raster, ASecondPageWaitsUntilTheFirstIsTakenAndAppearsWhole) {
    page(1728, 4, [](int, int) { return 0; });
    ASSERT_EQ(pgm_to_pbm(pgm, pbm), 0);
    std::string first = file_text(pbm);
    page(1728, 7, [](int, int) { return 255; });
    std::atomic<bool> done{false};
    std::thread second([&] {
        pgm_to_pbm(pgm, pbm);
        done = true;
    });
    std::this_thread::sleep_for(milliseconds(300));
    EXPECT_FALSE(done);
    EXPECT_EQ(file_text(pbm), first);  // not overwritten
    fs::remove(pbm);                    // the print engine takes it
    ASSERT_TRUE(wait_for([&] { return done.load(); }));
    second.join();
    EXPECT_EQ(row(6, 7), std::string(216, '\0'));
    // Nothing else is left in the folder: the temporary name was renamed.
    size_t others = 0;
    for (auto& e : fs::directory_iterator(dir.path))
        if (e.path().filename() != "imge.pbm" && e.path().filename() != "printjob-1.pgm") ++others;
    EXPECT_EQ(others, 0u);
}

// ---- discovery -----------------------------------------------------------------------------
std::vector<uint8_t> request_with_signature_at(size_t at, uint8_t first = 'x') {
    std::vector<uint8_t> r(24, 0);
    r[0] = first;
    std::memcpy(r.data() + at, DISCOVERY_SIGNATURE, std::strlen(DISCOVERY_SIGNATURE));
    return r;
}

TEST(Discovery, TheSignatureCountsOnlyWithinTheFirstThirteenBytes) {
    auto at0 = request_with_signature_at(0);
    EXPECT_TRUE(is_discovery_request(at0.data(), at0.size()));
    auto at1 = request_with_signature_at(1, 0x41);
    EXPECT_TRUE(is_discovery_request(at1.data(), at1.size()));
    auto at2 = request_with_signature_at(2);
    at2[1] = 'y';
    EXPECT_FALSE(is_discovery_request(at2.data(), at2.size()));
    auto zero_first = request_with_signature_at(1, 0);
    EXPECT_FALSE(is_discovery_request(zero_first.data(), zero_first.size()));
    EXPECT_FALSE(is_discovery_request(at0.data(), 11));  // cut inside the signature
    EXPECT_TRUE(is_discovery_request(at0.data(), 12));
}

TEST(Discovery, AnswerLayoutAndHostNames) {
    TempFolder dir;
    host_paths.oem_config = dir.str("oem_config.cfg");
    host_paths.serial_number = dir.str("serial_number.cfg");
    host_paths.hostname_conf = dir.str("hostname.conf");
    put_file(host_paths.oem_config,
             "[PrinterInfo]\nprinterName=KVX8-LONG-PRINTER-NAME\nfirmwareVersion=01.05.00.00\n"
             "[WifiInfo]\nssid=net\nipAddress=192.168.1.100\n");
    put_file(host_paths.serial_number, "[Serial Number]\nconfigSN=123456\n");
    auto req = request_with_signature_at(0);
    req[16] = 0xDE, req[17] = 0xAD, req[18] = 0xBE, req[19] = 0xEF;
    uint8_t a[DISCOVERY_SIZE];
    build_discovery_answer(req.data(), req.size(), read_printer_identity(), a);
    auto field = [&](size_t at, size_t n) { return std::string(reinterpret_cast<char*>(a + at), n); };
    EXPECT_EQ(field(0, 16), std::string("TELMARON-KVX") + std::string(4, '\0'));
    EXPECT_EQ(field(16, 4), "\xDE\xAD\xBE\xEF");
    EXPECT_EQ(field(20, 8), std::string("\0\0\0\x02\0\0\0\x03", 8));
    EXPECT_EQ(field(28, 16), "KVX8-LONG-PRINTE");  // cut to its field
    EXPECT_EQ(field(44, 16), std::string("01.05.00.00") + std::string(5, '\0'));
    EXPECT_EQ(field(60, 16), std::string(16, '\0'));
    EXPECT_EQ(field(76, 16), std::string("H-123456") + std::string(8, '\0'));
    EXPECT_EQ(field(92, 4), "\xC0\xA8\x01\x64");
    EXPECT_EQ(field(96, 160), std::string(160, '\0'));

    put_file(host_paths.hostname_conf, "a-very-long-host-name\nsecond line\n");
    build_discovery_answer(req.data(), 13, read_printer_identity(), a);
    EXPECT_EQ(field(76, 16), std::string("a-very-long-hos") + '\0');
    EXPECT_EQ(field(16, 4), std::string(4, '\0'));  // a short request has no bytes 16..19
    put_file(host_paths.hostname_conf, "");
    build_discovery_answer(req.data(), req.size(), read_printer_identity(), a);
    EXPECT_EQ(field(76, 8), "H-123456");
}

TEST(Discovery, AddressTextThatIsNoAddressGivesZeros) {
    uint8_t out[4];
    ipStr2uc("10.0.255.7", out);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 4), std::string("\x0a\x00\xff\x07", 4));
    for (const char* bad : {"", "192.168.1", "192.168.1.256", "1.2.3.4.5", "a.b.c.d", "1..2.3", "1.2.3.4x",
                            "1234.1.1.1"}) {
        std::memset(out, 0x55, 4);
        ipStr2uc(bad, out);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 4), std::string(4, '\0')) << bad;
    }
    std::memset(out, 0x55, 4);
    ipStr2uc(nullptr, out);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 4), std::string(4, '\0'));
}

// ---- response pipe -------------------------------------------------------------------------
TEST(ResponsePipe, AnAnswerIsCutTo127BytesAndASecondWaitsForTheFirst) {
    int p[2];
    ASSERT_EQ(pipe(p), 0);
    std::string text(300, 'r');
    ASSERT_EQ(write(p[1], text.data(), text.size()), 300);
    close(p[1]);
    char answer[HOST_RESP_SIZE];
    EXPECT_EQ(read_pipe_answer(p[0], answer), 127u);
    EXPECT_EQ(answer[127], '\0');
    close(p[0]);

    clear_host_resp();
    post_host_resp("first", 5);
    std::atomic<bool> posted{false};
    std::thread second([&] {
        post_host_resp("second", 6);
        posted = true;
    });
    std::this_thread::sleep_for(milliseconds(200));
    EXPECT_FALSE(posted);
    uint8_t block[HOST_RESP_SIZE];
    ASSERT_TRUE(take_host_resp(block));
    EXPECT_STREQ(reinterpret_cast<char*>(block), "first");
    ASSERT_TRUE(wait_for([&] { return posted.load(); }));
    second.join();
    ASSERT_TRUE(take_host_resp(block));
    EXPECT_STREQ(reinterpret_cast<char*>(block), "second");
    EXPECT_EQ(std::string(reinterpret_cast<char*>(block) + 7, HOST_RESP_SIZE - 7), std::string(HOST_RESP_SIZE - 7, '\0'));
    EXPECT_FALSE(take_host_resp(block));
}

// ---- serial module line --------------------------------------------------------------------
TEST(SerialLine, SpeedTimeOutAndRawMode) {
    EXPECT_EQ(nscbt_speed(57600), static_cast<speed_t>(B57600));
    EXPECT_EQ(nscbt_speed(230400), static_cast<speed_t>(B230400));
    EXPECT_EQ(nscbt_speed(460800), static_cast<speed_t>(B460800));
    EXPECT_EQ(nscbt_speed(9600), static_cast<speed_t>(B115200));
    EXPECT_EQ(nscbt_speed(0), static_cast<speed_t>(B115200));

    int master = -1, slave = -1;
    char name[64];
    ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
    ASSERT_EQ(setup_serial_line(name, 460800, 10), 0);
    termios t{};
    ASSERT_EQ(tcgetattr(slave, &t), 0);
    EXPECT_EQ(cfgetispeed(&t), static_cast<speed_t>(B460800));
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B460800));
    EXPECT_EQ(t.c_cc[VMIN], 0);
    EXPECT_EQ(t.c_cc[VTIME], 10);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    ASSERT_EQ(setup_serial_line(name, 9600, 999), 0);
    ASSERT_EQ(tcgetattr(slave, &t), 0);
    EXPECT_EQ(cfgetispeed(&t), static_cast<speed_t>(B115200));
    EXPECT_EQ(t.c_cc[VTIME], 255);  // the most a line can wait
    EXPECT_EQ(setup_serial_line("/nonexistent/tty", 115200, 10), -1);
    close(slave);
    close(master);
}
}  // namespace
