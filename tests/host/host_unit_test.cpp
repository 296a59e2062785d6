// host_link's job files, emulation list and switch, on temporary folders (no device paths).
#include "emulation.h"
#include "host_state.h"
#include "job_files.h"

#include "../support/failing_readdir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {
struct TempDir {
    fs::path path;
    TempDir() {
        std::string tmpl = (fs::temp_directory_path() / "host_test.XXXXXX").string();
        path = mkdtemp(tmpl.data());
    }
    ~TempDir() { fs::remove_all(path); }
    std::string str(const std::string& sub = "") const { return sub.empty() ? path.string() : (path / sub).string(); }
};

void write_text(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::string read_text(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

EmulationTable table_from(const std::string& text) {
    TempDir d;
    write_text(d.str("list"), text);
    EmulationTable t;
    load_emulation_tables(t, d.str("list"));
    return t;
}
}  // namespace

TEST(EmulationList, ReadsEntriesInFileOrderUntilAnEmptyLine) {
    EmulationTable t = table_from("ESCPOS,escpos_interp,1\nZPL,zpl_interp,2\r\nPDF,pdf_interp,10\n\nCPCL,cpcl_interp,3\n");
    ASSERT_EQ(t.count, 3u);
    EXPECT_STREQ(t.entries[0].name, "ESCPOS");
    EXPECT_STREQ(t.entries[0].program, "escpos_interp");
    EXPECT_EQ(t.entries[1].index, 2);
    EXPECT_STREQ(t.entries[2].name, "PDF");
    EXPECT_EQ(t.entries[2].index, 10);

    EmulationName name;
    EXPECT_TRUE(get_indexed_emulation_name(t, 10, name));
    EXPECT_STREQ(name, "PDF");
    EXPECT_FALSE(get_indexed_emulation_name(t, 3, name));  // behind the empty line
    EXPECT_STREQ(name, "");

    EXPECT_EQ(table_from("").count, 0u);
    EmulationTable missing;
    load_emulation_tables(missing, "/nonexistent/emulation_list");
    EXPECT_EQ(missing.count, 0u);
}

TEST(EmulationList, LongNamesAreCutAndTerminatedAndLongLinesStayOneEntry) {
    std::string name40(40, 'N'), prog40(40, 'p');
    std::string text = name40 + "," + prog40 + ",7\n" + "A,a,1\n";
    EmulationTable t = table_from(text);
    // The first line is longer than the 68-byte line buffer: its index is lost with the cut, so it
    // is no entry, and its tail does not come back as one either.
    ASSERT_EQ(t.count, 1u);
    EXPECT_STREQ(t.entries[0].name, "A");

    std::string name32(32, 'X');
    t = table_from(name32 + "Y,prog,5\n");
    ASSERT_EQ(t.count, 1u);
    EXPECT_EQ(std::string(t.entries[0].name), name32);  // cut to 32 and terminated
    EmulationName out;
    ASSERT_TRUE(get_indexed_emulation_name(t, 5, out));
    EXPECT_EQ(std::string(out), name32);
}

TEST(EmulationList, AtMostFifteenEntriesAndMalformedLinesSkipped) {
    std::string text = "broken line\nNOINDEX,prog,\nBAD,prog,x1\n";
    for (int i = 1; i <= 20; ++i) text += 'E' + std::to_string(i) + ",prog," + std::to_string(i) + "\n";
    EmulationTable t = table_from(text);
    ASSERT_EQ(t.count, 15u);
    EXPECT_STREQ(t.entries[0].name, "E1");
    EXPECT_STREQ(t.entries[14].name, "E15");
}

TEST(EmulationStyle, StreamingPrefixes) {
    for (const char* n : {"ESCPOS", "ZPL", "JPL", "CPCL", "ZPL2", "ESCPOS-GB"}) EXPECT_EQ(emulation_style(n), 1) << n;
    for (const char* n : {"PDF", "VELTRA", "QUORVEL", "ESCPO", "CPC", "", "zpl"}) EXPECT_EQ(emulation_style(n), 0) << n;
}

TEST(EmulationSwitch, OnlyAKnownOtherIndexSwitches) {
    emulation_table = table_from("ESCPOS,escpos_interp,1\nZPL,zpl_interp,2\nPDF,pdf_interp,10\n");
    std::vector<std::string> started;
    start_emulation_hook = [&](const char* n) { started.emplace_back(n); };
    emulation_switch_pause_ms = 0;
    set_emulation("ESCPOS");
    ASSERT_EQ(data_continually, 1);

    const uint8_t same[] = {0x1B, 0x1B, 1, 'x'};
    EXPECT_EQ(check_emulation_switch(same, sizeof same), 0);
    const uint8_t unknown[] = {0x1B, 0x1B, 99, 'x'};
    EXPECT_EQ(check_emulation_switch(unknown, sizeof unknown), 0);
    const uint8_t short_read[] = {0x1B, 0x1B};
    EXPECT_EQ(check_emulation_switch(short_read, sizeof short_read), 0);
    const uint8_t plain[] = {0x1B, 0x40, 10};
    EXPECT_EQ(check_emulation_switch(plain, sizeof plain), 0);
    EXPECT_TRUE(started.empty());
    EXPECT_EQ(current_emulation(), "ESCPOS");

    const uint8_t to_pdf[] = {0x1B, 0x1B, 10, '%', 'P'};
    EXPECT_EQ(check_emulation_switch(to_pdf, sizeof to_pdf), 1);
    ASSERT_EQ(started.size(), 1u);
    EXPECT_EQ(started[0], "PDF");
    EXPECT_EQ(current_emulation(), "PDF");
    EXPECT_EQ(default_emulation(), "PDF");
    EXPECT_EQ(data_continually, 0);  // the style changes with the switch

    start_emulation_hook = nullptr;
    emulation_switch_pause_ms = 1000;
    emulation_table = EmulationTable{};
}

TEST(StreamingJobFiles, TakeTheFirstFreeNumberAndWaitWhileAllTenExist) {
    TempDir d;
    std::string path;
    FILE* f = create_new_date_file(path, d.str().c_str());
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(path, d.str("printjob-1"));
    std::fclose(f);
    write_text(d.str("printjob-2"), "");
    f = create_new_date_file(path, d.str().c_str());
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(path, d.str("printjob-3"));
    std::fclose(f);

    for (int i = 1; i <= 10; ++i) write_text(d.str("printjob-" + std::to_string(i)), "old");
    std::atomic<bool> done{false};
    std::string found;
    std::thread t([&] {
        std::string p;
        FILE* g = create_new_date_file(p, d.str().c_str());
        if (g) std::fclose(g);
        found = p;
        done = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_FALSE(done) << "a name was taken while all ten exist";
    fs::remove(d.str("printjob-7"));
    t.join();
    EXPECT_EQ(found, d.str("printjob-7"));
    EXPECT_EQ(read_text(d.str("printjob-7")), "");
    EXPECT_EQ(read_text(d.str("printjob-6")), "old");

    // The abort input ends the search without a file.
    abort_flag = 1;
    EXPECT_EQ(create_new_date_file(path, d.str().c_str()), nullptr);
    abort_flag = 0;
}

TEST(WholeJobFiles, UniqueNamesInTheJobIntake) {
    TempDir d;
    std::string a, b;
    FILE* fa = create_new_temp_file(a, d.str());
    FILE* fb = create_new_temp_file(b, d.str());
    ASSERT_NE(fa, nullptr);
    ASSERT_NE(fb, nullptr);
    EXPECT_NE(a, b);
    EXPECT_EQ(a.rfind(d.str("printjob-"), 0), 0u);
    EXPECT_EQ(a.size(), d.str("printjob-XXXXXX").size());
    std::fclose(fa);
    std::fclose(fb);
    std::string none;
    EXPECT_EQ(create_new_temp_file(none, ""), nullptr);
    EXPECT_EQ(create_new_temp_file(none, d.str("missing")), nullptr);
    EXPECT_EQ(std::distance(fs::directory_iterator(d.path), fs::directory_iterator()), 2);
}

TEST(FolderEmptying, RefusesUnsafePathsAndNeverFollowsLinks) {
    EXPECT_EQ(empty_folder_tree(""), -1);
    EXPECT_EQ(empty_folder_tree("/"), -1);
    EXPECT_EQ(empty_folder_tree("//"), -1);
    EXPECT_EQ(empty_folder_tree("relative/folder"), -1);

    TempDir d;
    fs::create_directories(d.str("reprint/sub"));
    fs::create_directories(d.str("outside"));
    write_text(d.str("reprint/a"), "a");
    write_text(d.str("reprint/sub/b"), "b");
    write_text(d.str("outside/keep"), "k");
    fs::create_directory_symlink(d.str("outside"), d.str("reprint/link"));
    fs::create_directory_symlink(d.str("outside"), d.str("linked_folder"));

    EXPECT_EQ(empty_folder_tree(d.str("linked_folder")), -1);  // a link is not a folder to empty
    EXPECT_EQ(empty_folder_tree(d.str("reprint") + "/"), 0);
    EXPECT_TRUE(fs::is_directory(d.str("reprint")));
    EXPECT_TRUE(fs::is_empty(d.str("reprint")));
    EXPECT_EQ(read_text(d.str("outside/keep")), "k");

    fs::create_directories(d.str("intake/reprint"));
    fs::create_directories(d.str("intake/other"));
    write_text(d.str("intake/reprint/printjob-1"), "last");
    write_text(d.str("intake/printjob-abc"), "x");
    write_text(d.str("intake/.hidden"), "x");
    EXPECT_EQ(empty_folder_files(d.str("intake"), "reprint"), 2);
    EXPECT_EQ(read_text(d.str("intake/reprint/printjob-1")), "last");
    EXPECT_TRUE(fs::is_directory(d.str("intake/other")));
}

// A folder whose read fails part way (EOVERFLOW on a 32-bit build without large-file support) is
// reported and its emptying fails; it is never taken as emptied.
TEST(FolderEmptying, AFailedReadIsReportedNotTakenAsEmpty) {
    TempDir d;
    fs::create_directories(d.str("intake"));
    fs::create_directories(d.str("reprint/sub"));
    for (const char* n : {"intake/printjob-1", "intake/printjob-2", "intake/printjob-3", "reprint/sub/x"})
        write_text(d.str(n), "x");
    {
        FailingReaddir failing(1, EOVERFLOW);
        testing::internal::CaptureStderr();
        EXPECT_EQ(empty_folder_files(d.str("intake")), -1);
        EXPECT_EQ(empty_folder_tree(d.str("reprint")), -1);
        std::string said = testing::internal::GetCapturedStderr();
        EXPECT_NE(said.find("cannot read folder " + d.str("intake")), std::string::npos) << said;
        EXPECT_NE(said.find("cannot read folder " + d.str("reprint")), std::string::npos) << said;
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(d.str("intake")), fs::directory_iterator()), 2);
    EXPECT_TRUE(fs::exists(d.str("reprint/sub/x")));
    EXPECT_EQ(empty_folder_files(d.str("intake")), 2);
    EXPECT_EQ(empty_folder_tree(d.str("reprint")), 0);
    EXPECT_TRUE(fs::is_empty(d.str("reprint")));
}

TEST(ReprintCopy, TakenFromTheClosedFileAndHoldingOnlyTheLastJob) {
    TempDir d;
    fs::create_directories(d.str("reprint"));
    host_settings.PATH_TO_JOB_REPRINT = d.str("reprint");
    Hexconfig = 1;
    auto job_with = [&](const char* name, const std::string& data, bool streaming, bool continues) {
        JobFile job;
        job.path = d.str(name);
        job.fp = std::fopen(job.path.c_str(), "w+");
        job.streaming = streaming;
        job.continues = continues;
        std::fwrite(data.data(), 1, data.size(), job.fp);
        close_job_file(job);
    };
    write_text(d.str("printjob-1"), "an older job still waiting");
    job_with("printjob-2", "first job", true, false);
    EXPECT_EQ(read_text(d.str("reprint/printjob-1")), "first job");
    job_with("printjob-3", "second job", true, false);
    job_with("printjob-4", " goes on", true, true);  // the next piece of the same job
    EXPECT_EQ(read_text(d.str("reprint/printjob-1")), "second job goes on");
    EXPECT_EQ(std::distance(fs::directory_iterator(d.str("reprint")), fs::directory_iterator()), 1);

    job_with("printjob-XYZ123", "whole job", false, false);  // the job mover copies those
    EXPECT_EQ(read_text(d.str("reprint/printjob-1")), "second job goes on");
    Hexconfig = 0;
    job_with("printjob-5", "not kept", true, false);
    EXPECT_EQ(read_text(d.str("reprint/printjob-1")), "second job goes on");

    // An absent reprint folder key never empties anything else.
    Hexconfig = 1;
    host_settings.PATH_TO_JOB_REPRINT = "";
    job_with("printjob-6", "nowhere", true, false);
    EXPECT_TRUE(fs::exists(d.str("printjob-1")));
    Hexconfig = 0;
}

TEST(MoveIntoFolder, RenamesAndRefusesBadNames) {
    TempDir d;
    fs::create_directories(d.str("jobs"));
    fs::create_directories(d.str("engine"));
    write_text(d.str("jobs/printjob-abc123"), "payload");
    EXPECT_EQ(move_into_folder(d.str("jobs/printjob-abc123"), d.str("engine"), "printjob-abc123"), 0);
    EXPECT_EQ(read_text(d.str("engine/printjob-abc123")), "payload");
    EXPECT_FALSE(fs::exists(d.str("jobs/printjob-abc123")));
    for (const char* bad : {"", ".", "..", "../x", "a/b"}) EXPECT_FALSE(valid_entry_name(bad)) << bad;
    EXPECT_EQ(move_into_folder(d.str("engine/printjob-abc123"), d.str("jobs"), "../escape"), -1);
}

TEST(MoveIntoFolder, AcrossFileSystemsTheFileArrivesWhole) {
    TempDir d;
    struct stat a {}, b {};
    if (stat("/dev/shm", &b) != 0 || stat(d.str().c_str(), &a) != 0 || a.st_dev == b.st_dev)
        GTEST_SKIP() << "no second file system at hand";
    std::string shm_tmpl = "/dev/shm/host_test.XXXXXX";
    fs::path shm = mkdtemp(shm_tmpl.data());
    fs::create_directories(shm / "engine");
    std::string payload(300000, 'z');
    write_text(d.str("printjob-q1w2e3"), payload);
    EXPECT_EQ(move_into_folder(d.str("printjob-q1w2e3"), (shm / "engine").string(), "printjob-q1w2e3"), 0);
    EXPECT_EQ(read_text((shm / "engine/printjob-q1w2e3").string()), payload);
    EXPECT_FALSE(fs::exists(d.str("printjob-q1w2e3")));
    EXPECT_EQ(std::distance(fs::directory_iterator(shm), fs::directory_iterator()), 1);  // no staging left
    fs::remove_all(shm);
}
