// The host's control messages: modes, packages, sequence, status and clear requests, the status
// string and the abort input.
#include "emulation.h"
#include "host_spawn.h"
#include "host_state.h"
#include "host_test_support.h"
#include "recognisers.h"
#include "shell_runner.h"
#include "status.h"
#include "usb_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {
std::mutex commands_mutex;
std::vector<std::string> commands;

std::vector<std::string> commands_run() {
    std::lock_guard<std::mutex> lock(commands_mutex);
    return commands;
}

class Protocol : public ::testing::Test {
protected:
    TempFolder dir;
    void SetUp() override {
        driver_print_flag = 1;
        reset_status_string();
        clear_abort_delay();
        {
            std::lock_guard<std::mutex> lock(commands_mutex);
            commands.clear();
        }
        host_command_hook = [](const std::string& c) {
            std::lock_guard<std::mutex> lock(commands_mutex);
            commands.push_back(c);
            return 0;
        };
        clear_request_pause_ms = 0;
        host_paths.engine_intake = dir.str("engine_intake");
        host_paths.command_intake = dir.str("command_intake");
        host_paths.check_im = dir.str("check_im");
        fs::create_directories(host_paths.engine_intake);
        fs::create_directories(host_paths.command_intake);
    }
    void TearDown() override {
        host_command_hook = nullptr;
        clear_request_pause_ms = 500;
        driver_print_flag = 1;
        clear_abort_delay();
    }
    // Status string as engine_watch would leave it.
    void status_file(const std::string& s) {
        put_file(dir.str("return.dat"), s);
        ASSERT_TRUE(refresh_status_string(dir.str("return.dat")));
    }
};

const Bytes PACKET_ON = {0x1F, 'D', 'P', 'T'};
const Bytes PLAIN_ON = {0x1F, 'P', 'P', 'T'};

Bytes payload(size_t n, uint8_t first = 'a') {
    Bytes p(n);
    for (size_t i = 0; i < n; ++i) p[i] = static_cast<uint8_t>(first + i % 26);
    return p;
}

Bytes slice(const Bytes& b, size_t from, size_t to) { return Bytes(b.begin() + static_cast<long>(from), b.begin() + static_cast<long>(to)); }
}  // namespace

TEST_F(Protocol, ModeSwitchesAnswerAndOnlyAsAWholeRead) {
    RecordingLink r;
    EXPECT_EQ(r.offer(PACKET_ON), ReadVerdict::end_of_read);
    EXPECT_EQ(r.take(), bytes("0"));
    EXPECT_EQ(driver_print_flag, 0);
    EXPECT_EQ(r.offer(PLAIN_ON), ReadVerdict::end_of_read);
    EXPECT_EQ(r.take(), bytes("1"));
    EXPECT_EQ(driver_print_flag, 1);

    Bytes longer = PACKET_ON;
    longer.push_back('x');
    EXPECT_EQ(r.offer(longer), ReadVerdict::data);  // five bytes: print data
    EXPECT_EQ(driver_print_flag, 1);
    EXPECT_TRUE(r.take().empty());
}

TEST_F(Protocol, AfterPacketModeOnEveryReadMustBeAPackage) {
    RecordingLink r;
    r.offer(PACKET_ON);
    r.take();
    EXPECT_EQ(r.offer(bytes("plain text")), ReadVerdict::package_rejected);  // no header
    EXPECT_TRUE(r.take().empty());
    Bytes p = package(0x0201, bytes("^XA^XZ"));
    EXPECT_EQ(r.offer(p), ReadVerdict::package_complete);
    EXPECT_EQ(Bytes(r.link.payload(), r.link.payload() + r.link.payload_length()), bytes("^XA^XZ"));
    Bytes answer = r.take();
    ASSERT_EQ(answer.size(), 4u);
    EXPECT_EQ(answer[0], 0x01);  // the serial number as it came
    EXPECT_EQ(answer[1], 0x02);
}

TEST_F(Protocol, APackageOfOneHundredBytesInOneReadOrTwoAndTheLengthError) {
    Bytes p = package(7, payload(100));
    ASSERT_EQ(p.size(), 106u);
    {
        RecordingLink r;
        r.offer(PACKET_ON);
        r.take();
        EXPECT_EQ(r.offer(p), ReadVerdict::package_complete);
        EXPECT_EQ(r.link.payload_length(), 100u);
        EXPECT_EQ(r.take().size(), 4u);
    }
    {
        RecordingLink r;
        EXPECT_EQ(check_package(r.link, p.data(), 60), LONG_PACK);
        EXPECT_TRUE(r.answers.empty());  // answered only when complete
        EXPECT_EQ(check_package(r.link, p.data() + 60, 46), PACK_PRINT);
        EXPECT_EQ(Bytes(r.link.payload(), r.link.payload() + r.link.payload_length()), payload(100));
        EXPECT_EQ(r.take().size(), 4u);
    }
    {
        RecordingLink r;
        EXPECT_EQ(check_package(r.link, p.data(), 103), DATA_LEN_ERROR);
        EXPECT_FALSE(r.link.in_progress);
        EXPECT_EQ(check_package(r.link, p.data() + 103, 3), NO_PACK_HEAD);  // the rest has no header
        EXPECT_TRUE(r.answers.empty());
        // The state is clean: the next package is taken.
        EXPECT_EQ(check_package(r.link, p.data(), p.size()), PACK_PRINT);
    }
}

TEST_F(Protocol, APackageThatCannotFitTheBufferIsALengthErrorAndNothingIsKept) {
    RecordingLink r;
    // Largest package: 9210 bytes of payload, 9216 with the header.
    Bytes biggest = package(1, payload(REASSEMBLY_BUFFER_SIZE - PACKAGE_HEADER_SIZE));
    EXPECT_EQ(check_package(r.link, biggest.data(), 4000), LONG_PACK);
    EXPECT_EQ(check_package(r.link, biggest.data() + 4000, 4000), LONG_PACK);
    EXPECT_EQ(check_package(r.link, biggest.data() + 8000, biggest.size() - 8000), PACK_PRINT);
    EXPECT_EQ(r.link.payload_length(), REASSEMBLY_BUFFER_SIZE - PACKAGE_HEADER_SIZE);

    // One byte more, and the largest length the header can declare: refused at the header.
    for (size_t n : {REASSEMBLY_BUFFER_SIZE - PACKAGE_HEADER_SIZE + 1, size_t{65535}}) {
        Bytes big = package(2, payload(n));
        EXPECT_EQ(check_package(r.link, big.data(), 1024), DATA_LEN_ERROR) << n;
        EXPECT_FALSE(r.link.in_progress);
        EXPECT_EQ(r.link.length, 0u);
        // The following reads of that package are no packages either.
        EXPECT_EQ(check_package(r.link, big.data() + 1024, 1024), NO_PACK_HEAD);
    }
    // Short reads that start like a header.
    const uint8_t head_only[] = {0x1F, 0x48, 0x01};
    EXPECT_EQ(check_package(r.link, head_only, sizeof head_only), DATA_LEN_ERROR);
    const uint8_t one[] = {0x1F};
    EXPECT_EQ(check_package(r.link, one, 1), NO_PACK_HEAD);
}

TEST_F(Protocol, TheSamePackageTwiceIsAnsweredTwiceAndKeptOnce) {
    RecordingLink r;
    r.offer(PACKET_ON);
    r.take();
    Bytes p = package(0x0305, bytes("labels"));
    EXPECT_EQ(r.offer(p), ReadVerdict::package_complete);
    Bytes first = r.take();
    EXPECT_EQ(r.offer(p), ReadVerdict::package_repeated);
    Bytes second = r.take();
    ASSERT_EQ(first.size(), 4u);
    EXPECT_EQ(first, second);
    // A serial number of zero is the one accepted at start: such a first package is a repeat.
    RecordingLink fresh;
    EXPECT_EQ(fresh.offer(package(0, bytes("x"))), ReadVerdict::package_repeated);
}

TEST_F(Protocol, SequenceQueryAnswersTheLastAcceptedSerialNumberOfItsInterface) {
    RecordingLink usb, net;
    usb.offer(PACKET_ON);
    usb.take();
    const Bytes query = {0x1F, 0x51};
    EXPECT_EQ(usb.offer(query), ReadVerdict::end_of_read);
    EXPECT_EQ(usb.take(), (Bytes{0, 0}));
    usb.offer(package(0x1234, bytes("a")));
    usb.take();
    net.offer(package(0x0909, bytes("b")));
    net.take();
    usb.offer(query);
    EXPECT_EQ(usb.take(), (Bytes{0x34, 0x12}));
    net.offer(query);
    EXPECT_EQ(net.take(), (Bytes{0x09, 0x09}));

    driver_print_flag = 1;
    EXPECT_EQ(usb.offer(query), ReadVerdict::data);  // plain mode: two bytes of data
}

TEST_F(Protocol, ReassemblyIsKeptPerInterface) {
    RecordingLink usb, net;
    usb.offer(PACKET_ON);
    Bytes a = package(1, payload(100, 'a'));
    Bytes b = package(2, payload(50, 'A'));
    EXPECT_EQ(usb.offer(slice(a, 0, 60)), ReadVerdict::package_more);
    // Another interface sends a whole package meanwhile.
    EXPECT_EQ(net.offer(b), ReadVerdict::package_complete);
    EXPECT_EQ(Bytes(net.link.payload(), net.link.payload() + net.link.payload_length()), payload(50, 'A'));
    EXPECT_EQ(usb.offer(slice(a, 60, 106)), ReadVerdict::package_complete);
    EXPECT_EQ(Bytes(usb.link.payload(), usb.link.payload() + usb.link.payload_length()), payload(100, 'a'));
}

TEST_F(Protocol, StatusAndPrinterInformationAtStart) {
    RecordingLink r;
    Bytes request = {0, 0, 0, 0, 0, 0, 0x1F, 0x52, 0x5F, 1};
    EXPECT_EQ(r.offer(request), ReadVerdict::request_answered);
    EXPECT_EQ(r.take(), bytes("000005000025"));
    request[9] = 0;
    EXPECT_EQ(r.offer(request), ReadVerdict::request_answered);
    EXPECT_EQ(r.take(), bytes("01.05.00.00"));
    request[9] = 2;  // no such selector: data
    EXPECT_EQ(r.offer(request), ReadVerdict::data);
    EXPECT_TRUE(r.take().empty());
    request.push_back(1);  // eleven bytes: data
    EXPECT_EQ(r.offer(request), ReadVerdict::data);
}

TEST_F(Protocol, InPacketModeAStatusRequestIsAPackageFirst) {
    status_file("010104500127ABCDEFGHIJK");
    RecordingLink r;
    r.offer(PACKET_ON);
    r.take();
    Bytes request = package(0x0A0B, {0x1F, 0x52, 0x5F, 1});
    ASSERT_EQ(request.size(), 10u);
    EXPECT_EQ(r.offer(request), ReadVerdict::request_answered);
    Bytes a = r.take();
    ASSERT_EQ(a.size(), 16u);
    // Package answer: serial, status bits (characters 0..4 and 9), temperature (10..11).
    EXPECT_EQ(a[0], 0x0B);
    EXPECT_EQ(a[1], 0x0A);
    EXPECT_EQ(a[2], 2 + 8 + 32);  // "01010": 2^1 + 2^3; character 9 "1": 32
    EXPECT_EQ(a[3], 27);
    EXPECT_EQ(Bytes(a.begin() + 4, a.end()), bytes("010104500127"));
}

TEST_F(Protocol, PackageAnswerBits) {
    uint8_t out[4];
    const uint8_t serial[2] = {9, 8};
    status_file("101010000142xxxxxxxxxxx");
    package_answer(serial, out);
    EXPECT_EQ(out[0], 9);
    EXPECT_EQ(out[1], 8);
    EXPECT_EQ(out[2], 1 + 4 + 16 + 32);  // characters 0, 2, 4 and 9
    EXPECT_EQ(out[3], 42);
    status_file("00000000000000.00.00.00");
    package_answer(serial, out);
    EXPECT_EQ(out[2], 0);
    EXPECT_EQ(out[3], 0);
}

TEST_F(Protocol, RepeatedStatusRequestAnsweredOnlyWhereTheReaderGoesOn) {
    RecordingLink usb, rfcomm;
    rfcomm.link.requests_after_repeat = true;
    usb.offer(PACKET_ON);
    usb.take();
    Bytes request = package(5, {0x1F, 0x52, 0x5F, 1});
    for (RecordingLink* r : {&usb, &rfcomm}) {
        r->offer(request);
        EXPECT_EQ(r->take().size(), 16u);
    }
    EXPECT_EQ(usb.offer(request), ReadVerdict::package_repeated);
    EXPECT_EQ(usb.take().size(), 4u);  // the package answer only
    EXPECT_EQ(rfcomm.offer(request), ReadVerdict::request_answered);
    EXPECT_EQ(rfcomm.take().size(), 16u);
}

TEST_F(Protocol, ClearRequestResetsTheSlaveAndEmptiesTheEngineIntake) {
    put_file(host_paths.engine_intake + "/printjob-1", "waiting");
    put_file(host_paths.engine_intake + "/printjob-2", "waiting too");
    put_file(dir.str("outside"), "stays");
    RecordingLink r;
    const Bytes clear = {0x1F, 0x08, 'C', 'L', 'R'};
    EXPECT_EQ(r.offer(clear), ReadVerdict::request_answered);
    EXPECT_TRUE(r.take().empty());  // plain mode: no answer
    EXPECT_EQ(commands_run(), (std::vector<std::string>{"/root/engine_cmd X", "/root/engine_cmd S 1"}));
    EXPECT_TRUE(fs::is_empty(host_paths.engine_intake));
    EXPECT_TRUE(fs::exists(dir.str("outside")));

    // Packet mode: an eleven-byte package; any other eleven-byte package is answered "0" and is data.
    r.offer(PACKET_ON);
    r.take();
    put_file(host_paths.engine_intake + "/printjob-3", "waiting");
    EXPECT_EQ(r.offer(package(3, clear)), ReadVerdict::request_answered);
    Bytes a = r.take();
    ASSERT_EQ(a.size(), 5u);
    EXPECT_EQ(a[4], '1');
    EXPECT_TRUE(fs::is_empty(host_paths.engine_intake));
    EXPECT_EQ(r.offer(package(4, bytes("12345"))), ReadVerdict::package_complete);
    a = r.take();
    ASSERT_EQ(a.size(), 5u);
    EXPECT_EQ(a[4], '0');
}

TEST_F(Protocol, StatusStringIsTakenWholeOrNotAtAll) {
    std::string path = dir.str("return.dat");
    EXPECT_FALSE(refresh_status_string(dir.str("missing")));
    EXPECT_EQ(status_string(), INITIAL_STATUS_STRING);
    put_file(path, "10100450000127");  // cut short
    EXPECT_FALSE(refresh_status_string(path));
    put_file(path, "");
    EXPECT_FALSE(refresh_status_string(path));
    EXPECT_EQ(status_string(), INITIAL_STATUS_STRING);
    put_file(path, "00100450000227ABCDEFGHI\n");
    EXPECT_TRUE(refresh_status_string(path));
    EXPECT_EQ(status_string(), "00100450000227ABCDEFGHI");
    put_file(path, "");
    refresh_status_string(path);
    EXPECT_EQ(status_string(), "00100450000227ABCDEFGHI");  // the last good copy
}

TEST_F(Protocol, AStatusFileReplacedByRenameIsNeverSeenTorn) {
    std::string path = dir.str("return.dat");
    const std::string a(23, 'a'), b(23, 'b');
    put_file(path, a);
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        for (int i = 0; !stop; ++i) {
            std::string tmp = path + ".tmp";
            put_file(tmp, i % 2 ? a : b);
            std::rename(tmp.c_str(), path.c_str());
        }
    });
    int torn = 0;
    for (int i = 0; i < 20000; ++i) {
        refresh_status_string(path);
        std::string s = status_string();
        if (s != a && s != b) ++torn;
    }
    stop = true;
    writer.join();
    EXPECT_EQ(torn, 0);
}

TEST_F(Protocol, ErrorCodeReadsZeroOneDuringAnAbortAndForTheDelayAfter) {
    RecordingLink r;
    Bytes request = {0, 0, 0, 0, 0, 0, 0x1F, 0x52, 0x5F, 1};
    set_abort_delay(-1);  // an abort lasts
    r.offer(request);
    EXPECT_EQ(r.take(), bytes("000005001025"));
    set_abort_delay(1000);  // after it
    r.offer(request);
    EXPECT_EQ(r.take(), bytes("000005001025"));
    for (int i = 0; i < 500 && abort_delay_active(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    r.offer(request);
    EXPECT_EQ(r.take(), bytes("000005000025"));
    EXPECT_EQ(status_string(), INITIAL_STATUS_STRING);  // the kept string itself never changes
}

TEST(AbortDebounce, ThreeEqualReadingsInARowAndThePauses) {
    AbortDebounce d;
    int flag = 0;
    // At start the first "0" already counts as the third.
    ASSERT_TRUE(d.wants_pin());
    flag = d.reading('0', flag);
    EXPECT_EQ(flag, 1);
    // 21 periods without reading.
    int skipped = 0;
    while (!d.wants_pin()) ++skipped;
    EXPECT_EQ(skipped, 21);
    flag = d.reading('1', flag);
    flag = d.reading('1', flag);
    EXPECT_EQ(flag, 1);
    EXPECT_TRUE(d.wants_pin());
    flag = d.reading('1', flag);
    EXPECT_EQ(flag, 0);
    EXPECT_FALSE(d.wants_pin());  // one period of pause
    EXPECT_TRUE(d.wants_pin());
    // Later, two "0" are not enough; a "1" between starts the count again.
    flag = d.reading('0', flag);
    flag = d.reading('0', flag);
    flag = d.reading('1', flag);
    flag = d.reading('0', flag);
    flag = d.reading('0', flag);
    EXPECT_EQ(flag, 0);
    flag = d.reading('0', flag);
    EXPECT_EQ(flag, 1);
    // An unreadable pin counts as "1" (not active).
    AbortDebounce e;
    EXPECT_EQ(e.reading('1', 0), 0);
    EXPECT_EQ(e.reading('?', 0), 0);
    EXPECT_EQ(e.reading('0', 0), 0);  // the start's head start is gone after a "1"
}

TEST_F(Protocol, AbortHandlerResetsTheSlaveOnceAndMarksStartAndEnd) {
    abort_command_pause_ms = 5;
    abort_delay_ms = 300;
    set_abort_flag(0);
    status_file("000005003025ABCDEFGHIJK");  // error code 03: the slave may be reset
    std::atomic<bool> stop{false};
    std::thread handler([&] { check_abort_loop(stop); });
    auto wait_for = [](auto pred) {
        for (int i = 0; i < 500 && !pred(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return pred();
    };
    // The first pass after start only creates the mark.
    EXPECT_TRUE(wait_for([&] { return fs::exists(host_paths.check_im); }));
    EXPECT_TRUE(commands_run().empty());

    set_abort_flag(1);
    EXPECT_TRUE(wait_for([] { return commands_run().size() >= 4; }));
    std::vector<std::string> c = commands_run();
    ASSERT_GE(c.size(), 4u);
    EXPECT_EQ(c[0], "/root/engine_cmd A");
    EXPECT_EQ(c[1], "/bin/sh -c \"$0\" \"$@\" & /home/abort_deal.sh " + current_emulation() + " s");
    EXPECT_EQ(c[2], "/root/engine_cmd X");
    EXPECT_EQ(c[3], "/root/engine_cmd S 1");
    for (char letter : {'A', 'Q', 'T'}) {
        std::string f = host_paths.command_intake + "/command-" + letter;
        // (The handler writes them again every 80 ms: a whole one is 7 bytes.)
        std::string text;
        EXPECT_TRUE(wait_for([&] { return (text = file_text(f)).size() == 7; })) << letter;
        EXPECT_EQ(text, std::string({'\x02', letter, 0, 0, 0, 0, '\x03'}));
    }
    EXPECT_TRUE(abort_delay_active());
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(commands_run().size(), 4u);  // the slave is reset once per abort

    set_abort_flag(0);
    EXPECT_TRUE(wait_for([] { return commands_run().size() >= 5; }));
    EXPECT_NE(commands_run().back().find("/home/abort_deal.sh"), std::string::npos);
    EXPECT_EQ(commands_run().back().substr(commands_run().back().size() - 2), " e");
    EXPECT_TRUE(abort_delay_active());
    EXPECT_TRUE(wait_for([] { return !abort_delay_active(); }));

    stop = true;
    set_abort_flag(0);
    handler.join();
    abort_command_pause_ms = 80;
    abort_delay_ms = ABORT_DELAY_MS;
}

namespace {
// The reads the USB reader gets in the next test, one entry a read; an empty read when they run out.
std::vector<Bytes> usb_reads;
ssize_t next_usb_read(int, void* buf, size_t n) {
    if (usb_reads.empty()) return 0;
    Bytes r = usb_reads.front();
    usb_reads.erase(usb_reads.begin());
    size_t len = std::min(n, r.size());
    std::memcpy(buf, r.data(), len);
    return ssize_t(len);
}
}  // namespace

// A control message right behind a job's data ends the burst with the job file still open (the
// job may go on). Once the host is quiet the job ends: its file is closed and the next data are a
// job of their own.
TEST_F(Protocol, AJobFollowedByAControlMessageEndsWhenTheHostIsQuiet) {
    set_emulation("ZPL");  // streaming: job files go to the engine intake as they close
    auto saved_read = usb_read;
    usb_read = next_usb_read;
    posted_shell_hook = [](const char*) {};
    auto files = [&] {
        std::vector<std::string> texts;
        for (const auto& e : fs::directory_iterator(host_paths.engine_intake)) texts.push_back(file_text(e.path()));
        std::sort(texts.begin(), texts.end());
        return texts;
    };

    UsbReader r;
    usb_reads = {bytes("^XA^FDone^FS^XZ"), PLAIN_ON};
    read_while_data(r);
    EXPECT_TRUE(r.job.is_open());
    usb_reader_quiet(r);
    EXPECT_FALSE(r.job.is_open());
    EXPECT_EQ(files(), std::vector<std::string>{"^XA^FDone^FS^XZ"});

    usb_reads = {bytes("^XA^FDtwo^FS^XZ")};
    read_while_data(r);
    EXPECT_FALSE(r.job.is_open());
    EXPECT_EQ(files(), (std::vector<std::string>{"^XA^FDone^FS^XZ", "^XA^FDtwo^FS^XZ"}));

    usb_read = saved_read;
    posted_shell_hook = nullptr;
}
