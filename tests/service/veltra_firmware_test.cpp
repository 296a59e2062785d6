// Firmware transfers of the service language: the archive check, installation with its backup,
// the TAR_ENABLE form, and slave firmware over a pseudo-terminal standing in for the block data
// port.
#include "veltra_test_support.h"

#include "veltra_firmware.h"

#include <zlib.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <sys/stat.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// ---- archives made in the test ---------------------------------------------------------------

struct Member {
    Member(std::string n, char t = '0', std::string d = "", std::string l = "", bool g = false)
        : name(std::move(n)), type(t), data(std::move(d)), link(std::move(l)), gnu(g) {}
    std::string name;
    char type;
    std::string data;
    std::string link;
    bool gnu;  // GNU magic ("ustar  ") instead of POSIX ("ustar", "00")
};

void octal(char* field, size_t width, uint64_t v) { std::snprintf(field, width, "%0*llo", int(width - 1), (unsigned long long)v); }

std::string tar_of(const std::vector<Member>& members, size_t end_blocks = 2) {
    std::string out;
    for (const Member& m : members) {
        char h[512] = {};
        std::memcpy(h, m.name.data(), std::min<size_t>(m.name.size(), 100));
        octal(h + 100, 8, m.type == '5' ? 0755 : 0644);
        octal(h + 108, 8, 0);
        octal(h + 116, 8, 0);
        octal(h + 124, 12, m.data.size());
        octal(h + 136, 12, 1700000000);
        h[156] = m.type;
        std::memcpy(h + 157, m.link.data(), std::min<size_t>(m.link.size(), 100));
        if (m.gnu) std::memcpy(h + 257, "ustar  ", 8);
        else std::memcpy(h + 257, "ustar\0" "00", 8);
        std::memset(h + 148, ' ', 8);
        unsigned sum = 0;
        for (unsigned char c : h) sum += c;
        std::snprintf(h + 148, 8, "%06o", sum);
        out.append(h, 512);
        out += m.data;
        out.append((512 - m.data.size() % 512) % 512, '\0');
    }
    out.append(512 * end_blocks, '\0');
    return out;
}

std::string gzip(const std::string& raw) {
    z_stream zs{};
    deflateInit2(&zs, 6, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&zs, uLong(raw.size())) + 64, '\0');
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(raw.data()));
    zs.avail_in = uInt(raw.size());
    zs.next_out = reinterpret_cast<Bytef*>(out.data());
    zs.avail_out = uInt(out.size());
    deflate(&zs, Z_FINISH);
    out.resize(zs.total_out);
    deflateEnd(&zs);
    return out;
}

std::string pax(const std::string& key, const std::string& value) {
    std::string body = " " + key + "=" + value + "\n";
    size_t len = body.size() + 1;
    if (std::to_string(len).size() + body.size() != len) ++len;
    return std::to_string(len) + body;
}

class ArchiveCheck : public ::testing::Test {
protected:
    TempDir dir;
    std::string path = dir.path + "/rfs.tgz";
    std::string why;
    std::vector<ArchiveMember> members;
    bool check(const std::string& bytes) {
        write_text_file(path, bytes);
        return check_archive(path, why, &members);
    }
    bool refused(const std::vector<Member>& m, const char* reason) {
        bool ok = check(gzip(tar_of(m)));
        EXPECT_NE(why.find(reason), std::string::npos) << "reason: " << why;
        return !ok;
    }
};

TEST_F(ArchiveCheck, AWholeArchiveOfFilesFoldersAndInsideLinksPasses) {
    ASSERT_TRUE(check(gzip(tar_of({{"home/", '5'},
                                   {"home/new.txt", '0', "new file\n"},
                                   {"root/prog", '0', std::string(3000, 'p')},
                                   {"home/link", '2', "", "../root/prog"},
                                   {"home/same", '1', "", "home/new.txt"},
                                   {"./package/etc/x", '0', "x"}}))))
        << why;
    ASSERT_EQ(members.size(), 6u);
    EXPECT_EQ(members[2].size, 3000u);
    EXPECT_EQ(members[3].link, "../root/prog");
    // Zero padding after the compressed stream (as some writers leave it) is accepted.
    EXPECT_TRUE(check(gzip(tar_of({{"a", '0', "a"}})) + std::string(100, '\0'))) << why;
}

TEST_F(ArchiveCheck, AnArchiveMadeByTarPasses) {
    fs::create_directories(dir.path + "/tree/root");
    fs::create_directories(dir.path + "/tree/home/deep/er");
    write_text_file(dir.path + "/tree/root/prog", "#!/bin/sh\n");
    write_text_file(dir.path + "/tree/home/deep/er/" + std::string(120, 'n'), "long name");
    fs::create_symlink("../root/prog", dir.path + "/tree/home/prog");
    ASSERT_EQ(std::system(("tar -C '" + dir.path + "/tree' -czf '" + path + "' root home").c_str()), 0);
    ASSERT_TRUE(check_archive(path, why, &members)) << why;
    bool long_name = false;
    for (const auto& m : members) long_name |= m.name.size() > 100;
    EXPECT_TRUE(long_name) << "a name longer than a header holds";
    ASSERT_EQ(std::system(("tar -C '" + dir.path + "/tree' --format=posix -czf '" + path + "' root home").c_str()), 0);
    EXPECT_TRUE(check_archive(path, why)) << why;
}

TEST_F(ArchiveCheck, BrokenCompressionIsRefused) {
    std::string good = gzip(tar_of({{"home/a", '0', std::string(20000, 'a')}, {"home/b", '0', "b"}}));
    EXPECT_FALSE(check(good.substr(0, good.size() / 2)));
    EXPECT_NE(why.find("truncated"), std::string::npos) << why;
    std::string flipped = good;
    flipped[flipped.size() - 6] ^= 0x55;  // the stored check sum
    EXPECT_FALSE(check(flipped));
    EXPECT_NE(why.find("corrupt"), std::string::npos) << why;
    EXPECT_FALSE(check(good + "trailing"));
    EXPECT_NE(why.find("after the end"), std::string::npos) << why;
    EXPECT_FALSE(check(tar_of({{"home/a", '0', "a"}})));
    EXPECT_EQ(why, "not a gzip file");
    EXPECT_FALSE(check(""));
    EXPECT_FALSE(check(gzip("")));
    EXPECT_NE(why.find("no member"), std::string::npos) << why;
    EXPECT_TRUE(members.empty()) << "a refused archive lists nothing";
}

TEST_F(ArchiveCheck, BrokenTarStreamsAreRefused) {
    std::string tar = tar_of({{"home/a", '0', std::string(2000, 'a')}}, 0);
    EXPECT_FALSE(check(gzip(tar.substr(0, 1024))));
    EXPECT_NE(why.find("ends inside"), std::string::npos) << why;
    EXPECT_FALSE(check(gzip(tar.substr(0, 700))));
    EXPECT_NE(why.find("whole number of blocks"), std::string::npos) << why;
    std::string bad_sum = tar;
    bad_sum[10] ^= 1;
    EXPECT_FALSE(check(gzip(bad_sum)));
    EXPECT_NE(why.find("checksum"), std::string::npos) << why;
    EXPECT_FALSE(check(gzip(std::string(512, 'x'))));
}

TEST_F(ArchiveCheck, MembersThatLeaveTheRootAreRefused) {
    EXPECT_TRUE(refused({{"../etc/passwd", '0', "x"}}, "\"..\""));
    EXPECT_TRUE(refused({{"home/../../etc/passwd", '0', "x"}}, "\"..\""));
    EXPECT_TRUE(refused({{"home/ok", '0', "x"}, {"/etc/passwd", '0', "x"}}, "absolute member name"));
    EXPECT_TRUE(refused({{"home/pw", '2', "", "/etc/passwd"}}, "absolute symbolic link"));
    EXPECT_TRUE(refused({{"home/up", '2', "", "../../etc"}}, "leaving the root"));
    EXPECT_TRUE(refused({{"up", '2', "", "home/../.."}}, "leaving the root"));
    EXPECT_TRUE(refused({{"home/hard", '1', "", "../etc/shadow"}}, "hard link"));
    EXPECT_TRUE(refused({{"home/hard", '1', "", "/etc/shadow"}}, "hard link"));
    EXPECT_TRUE(refused({{"home/nolink", '2', "", ""}}, "without a target"));
}

TEST_F(ArchiveCheck, SpecialFilesAndUnknownTypesAreRefused) {
    EXPECT_TRUE(refused({{"dev/sda", '4'}}, "device node"));
    EXPECT_TRUE(refused({{"dev/tty9", '3'}}, "device node"));
    EXPECT_TRUE(refused({{"tmp/pipe", '6'}}, "FIFO"));
    EXPECT_TRUE(refused({{"home/sparse", 'S', "", "", true}}, "does not install"));
    EXPECT_TRUE(refused({{"home/folder", '5', "data"}}, "carries data"));
}

TEST_F(ArchiveCheck, ExtendedHeadersAreCheckedLikeNames) {
    EXPECT_TRUE(refused({{"././@LongLink", 'L', std::string("../../etc/evil") + '\0', "", true},
                         {"harmless", '0', "x", "", true}},
                        "\"..\""));
    EXPECT_TRUE(refused({{"././@LongLink", 'K', std::string("/etc/shadow") + '\0', "", true},
                         {"home/l", '2', "", "x", true}},
                        "absolute symbolic link"));
    EXPECT_TRUE(refused({{"PaxHeaders/x", 'x', pax("path", "/root/evil")}, {"harmless", '0', "x"}}, "absolute"));
    EXPECT_TRUE(refused({{"PaxHeaders/x", 'x', pax("linkpath", "../../x")}, {"home/l", '2', "", "ok"}},
                        "leaving the root"));
    EXPECT_TRUE(refused({{"PaxHeaders/g", 'g', pax("path", "x")}, {"harmless", '0', "x"}}, "global"));
    EXPECT_TRUE(refused({{"PaxHeaders/x", 'x', pax("GNU.sparse.size", "10")}, {"a", '0', "x"}}, "sparse"));
    EXPECT_TRUE(refused({{"PaxHeaders/x", 'x', "99 path=x\n"}, {"a", '0', "x"}}, "malformed"));
    // A size from an extended header is what the member carries.
    EXPECT_TRUE(check(gzip(tar_of({{"PaxHeaders/x", 'x', pax("size", "5")}, {"a", '0', "12345"}})))) << why;
    EXPECT_TRUE(refused({{"PaxHeaders/x", 'x', pax("path", "home/fine")}}, "extended header"));
}

// ---- installation ------------------------------------------------------------------------------

class VeltraInstall : public VeltraTest {
protected:
    std::string good() {
        return gzip(tar_of({{"home/", '5'},
                            {"home/update_note.txt", '0', "installed\n"},
                            {"root/", '5'},
                            {"root/new_prog", '0', "#!/bin/sh\n"},
                            {"package/", '5'},
                            {"package/version", '0', "new package\n"}}));
    }
    bool stopped_printer() const { return ran("killall host_link") || ran("killall dot_feeder"); }
};

TEST_F(VeltraInstall, AGoodArchiveInTheJobIsInstalledAndThePrinterRestarts) {
    job("\x1b" "9\xb1\xb1 rest of the trigger line\n" + good());
    EXPECT_EQ(read_text_file(at("/home/update_note.txt")), "installed\n");
    EXPECT_TRUE(file_exists(at("/root/new_prog")));
    EXPECT_EQ(read_text_file(at("/package/version")), "new package\n");
    EXPECT_FALSE(file_exists(s->files.backup)) << "the backup goes after a successful extraction";
    EXPECT_FALSE(file_exists(s->files.archive));
    ASSERT_EQ(programs.size(), 1u);
    EXPECT_EQ(programs[0], (std::vector<std::string>{"tar", "xvpzf", s->files.archive, "-C", root}));
    for (const char* l : {"/root/engine_cmd R 2", "killall host_link", "killall dot_feeder", "killall dot_feeder_battery",
                          "modprobe -r g_printer", "killall engine_watch", "/root/engine_watch &", "/root/engine_cmd S 3"})
        EXPECT_TRUE(ran(l)) << l;
    EXPECT_EQ(lines.back(), "reboot");
    EXPECT_TRUE(s->parked);
    EXPECT_FALSE(ran("/root/engine_cmd B 0"));
    for (const auto& l : lines) EXPECT_EQ(l.find("printjob"), std::string::npos) << "no job file name in " << l;
}

TEST_F(VeltraInstall, TheArchiveStartsAfterTheLineOfTheTrigger) {
    job("leading bytes\n\x1b" "9\xb1\xb1\n" + good());
    EXPECT_EQ(read_text_file(at("/home/update_note.txt")), "installed\n");
    EXPECT_EQ(echoed(), "leading bytes\n");
}

TEST_F(VeltraInstall, BadArchivesAreRefusedBeforeAnythingIsTouched) {
    std::string good_archive = good();
    const std::string bad[] = {
        good_archive.substr(0, good_archive.size() - 20),
        gzip(tar_of({{"home/ok", '0', "x"}, {"../escape", '0', "x"}})),
        gzip(tar_of({{"home/pw", '2', "", "/etc/passwd"}})),
        "not an archive at all",
    };
    for (const auto& archive : bad) {
        lines.clear();
        job("\x1b" "9\xb1\xb1\n" + archive);
        EXPECT_NE(s->last_report.find("refused"), std::string::npos) << s->last_report;
        EXPECT_FALSE(stopped_printer());
        EXPECT_FALSE(ran("reboot"));
        EXPECT_FALSE(s->parked);
        EXPECT_TRUE(programs.empty()) << "nothing extracted";
        EXPECT_EQ(read_text_file(at("/package/version")), "old package\n");
        EXPECT_FALSE(file_exists(s->files.backup));
        EXPECT_FALSE(file_exists(s->files.archive));
        EXPECT_FALSE(file_exists(at("/home/ok")));
    }
    // Nothing after the trigger line.
    job("\x1b" "9\xb1\xb1 no line end");
    EXPECT_NE(s->last_report.find("refused"), std::string::npos);
    // The printer goes on taking jobs.
    job(seq::enter_setup + seq::identity(2));
    EXPECT_EQ(image_count(), 1);
}

TEST_F(VeltraInstall, AFailedExtractionRestoresThePackage) {
    // A plain file where the archive needs a folder: tar cannot extract below it.
    write_text_file(at("/home/blocker"), "a file");
    std::string archive = gzip(tar_of({{"package/version", '0', "new package\n"}, {"home/blocker/x", '0', "x"}}));
    job("\x1b" "9\xb1\xb1\n" + archive);
    EXPECT_EQ(read_text_file(at("/package/version")), "old package\n") << "the previous package is back";
    EXPECT_FALSE(file_exists(s->files.backup));
    EXPECT_NE(s->last_report.find("failed"), std::string::npos) << s->last_report;
    EXPECT_FALSE(ran("killall engine_watch")) << "nothing of the installed part runs";
    EXPECT_EQ(lines.back(), "reboot") << "the printer restarts on the restored files";
}

TEST_F(VeltraInstall, AnArchiveWithoutAPackageKeepsTheOldOne) {
    job("\x1b" "9\xb1\xb1\n" + gzip(tar_of({{"home/update_note.txt", '0', "installed\n"}})));
    EXPECT_EQ(read_text_file(at("/home/update_note.txt")), "installed\n");
    EXPECT_EQ(read_text_file(at("/package/version")), "old package\n");
    EXPECT_FALSE(file_exists(s->files.backup));
}

TEST_F(VeltraInstall, TarEnableThenTheArchiveAsTheNextJob) {
    job("TAR_ENABLE");
    ASSERT_EQ(s->UPLOAD_TAR_FILE_FLAG, 1);
    size_t from = lines.size();
    job(good());  // the whole job is the archive
    EXPECT_EQ(s->UPLOAD_TAR_FILE_FLAG, 0);
    EXPECT_EQ(read_text_file(at("/home/update_note.txt")), "installed\n");
    EXPECT_EQ(read_text_file(at("/package/version")), "new package\n");
    std::vector<std::string> expected = {"/root/engine_cmd S 0", "reboot"};
    EXPECT_EQ(actions(from), expected);
    EXPECT_TRUE(s->parked);
}

TEST_F(VeltraInstall, TarEnableThenABadArchiveLeavesThePrinterAsItWas) {
    job("TAR_ENABLE");
    size_t from = lines.size();
    std::string g = good();
    job(g.substr(0, g.size() / 2));
    EXPECT_EQ(s->UPLOAD_TAR_FILE_FLAG, 0);
    EXPECT_NE(s->last_report.find("truncated"), std::string::npos) << s->last_report;
    EXPECT_EQ(actions(from), std::vector<std::string>{});
    EXPECT_FALSE(s->parked);
    job("next job is scanned again");
    EXPECT_NE(echoed().find("next job is scanned again"), std::string::npos);
}

// ---- slave firmware ----------------------------------------------------------------------------

// A pseudo-terminal in place of the block data port; its other side is the slave: it collects the
// image and answers 1 once `expect` bytes have come.
class SlavePort {
public:
    explicit SlavePort(size_t expect) : expect_(expect) {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        grantpt(master_);
        unlockpt(master_);
        char name[128];
        ptsname_r(master_, name, sizeof name);
        path = name;
        // Raw and kept open here, so the updater's opens and closes find it as the device is.
        keep_ = open(name, O_RDWR | O_NOCTTY);
        struct termios t {};
        tcgetattr(keep_, &t);
        cfmakeraw(&t);
        t.c_cc[VMIN] = 0;
        t.c_cc[VTIME] = 0;
        tcsetattr(keep_, TCSANOW, &t);
        fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
        reader_ = std::thread([this] {
            char buf[4096];
            while (!stop_) {
                ssize_t n = read(master_, buf, sizeof buf);
                if (n > 0) {
                    std::lock_guard<std::mutex> hold(mu_);
                    received_.append(buf, size_t(n));
                    if (received_.size() >= expect_ && !answered_) {
                        uint8_t one = 1;
                        answered_ = write(master_, &one, 1) == 1;
                    }
                } else {
                    std::this_thread::sleep_for(std::chrono::milliseconds(2));
                }
            }
        });
    }
    ~SlavePort() {
        stop_ = true;
        reader_.join();
        close(keep_);
        close(master_);
    }
    std::string path;
    std::string received() {
        std::lock_guard<std::mutex> hold(mu_);
        return received_;
    }

private:
    std::mutex mu_;
    std::string received_;
    size_t expect_;
    int master_ = -1, keep_ = -1;
    std::thread reader_;
    std::atomic<bool> stop_{false};
    bool answered_ = false;
};

class VeltraSlaveFirmware : public VeltraTest {
protected:
    // engine_watch's part: the acknowledgement file once the G command has gone out.
    void acknowledging_slave() {
        on_line = [this](const std::string& line) {
            if (line.rfind("/root/engine_cmd G ", 0) == 0) write_text_file(s->files.ackfile, "0\n");
        };
    }
};

TEST_F(VeltraSlaveFirmware, TheJobReachesTheSlaveByteForByte) {
    std::string image = seq::slave_firmware + "version=1.11.0.0 ";
    for (int i = 0; i < 70000; ++i) image += char(i * 7 + (i >> 8));
    SlavePort port(image.size());
    s->files.data_port = port.path;
    acknowledging_slave();
    s->print_out_enable_flag = 1;
    job(image);
    char g[64];
    std::snprintf(g, sizeof g, "/root/engine_cmd G %zx", image.size());
    EXPECT_TRUE(ran(g)) << g;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(port.received().size(), image.size());
    EXPECT_TRUE(port.received() == image) << "the whole job, trigger bytes included";
    EXPECT_FALSE(file_exists(s->files.ackfile));
    EXPECT_EQ(s->print_out_enable_flag, 0);
    EXPECT_EQ(image_count(), 0);
    std::vector<std::string> expected = {"killall dot_feeder && killall dot_feeder_battery\n",
                                         "killall host_link\n",
                                         "modprobe -r g_printer\n",
                                         g,
                                         "/root/engine_cmd D",
                                         "/root/dot_feeder &",
                                         "/root/engine_cmd Y",
                                         "modprobe g_printer",
                                         "/root/host_link > /dev/null 2>/dev/null &",
                                         "/root/engine_cmd B 0"};
    EXPECT_EQ(actions(), expected);
    EXPECT_EQ(echoed(), "") << "the image is not scanned for more sequences";
}

TEST_F(VeltraSlaveFirmware, ASilentSlaveEndsTheWaitAndTheEngineAndHostLinkComeBack) {
    SlavePort port(1);
    s->files.data_port = port.path;
    s->ack_timeout_ms = 300;
    auto t0 = std::chrono::steady_clock::now();
    job(seq::slave_firmware + "image");
    auto waited = std::chrono::steady_clock::now() - t0;
    EXPECT_GE(waited, std::chrono::milliseconds(290));
    EXPECT_LT(waited, std::chrono::seconds(10));
    EXPECT_NE(s->last_report.find("did not acknowledge"), std::string::npos) << s->last_report;
    EXPECT_TRUE(port.received().empty()) << "nothing is sent without the acknowledgement";
    for (const char* l : {"/root/dot_feeder &", "/root/engine_cmd Y", "modprobe g_printer",
                          "/root/host_link > /dev/null 2>/dev/null &"})
        EXPECT_TRUE(ran(l)) << l;
    EXPECT_FALSE(ran("/root/engine_cmd D"));
}

TEST_F(VeltraSlaveFirmware, AnInstalledArchiveSendsTheImageOfTheSlaveFirmwareFolder) {
    std::string image(5000, 'F');
    SlavePort port(image.size());
    s->files.data_port = port.path;
    acknowledging_slave();
    job("\x1b" "9\xb1\xb1\n" + gzip(tar_of({{"slave_firmware/sam3.fw", '0', image}})));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(port.received() == image);
    EXPECT_FALSE(file_exists(s->files.slave_firmware)) << "the image is deleted once sent";
    EXPECT_FALSE(file_exists(s->files.slave_firmware_folder + "/sam3.fw"));
    EXPECT_FALSE(ran("/root/engine_cmd S 3")) << "S 3 only when no slave image was sent";
    EXPECT_EQ(lines.back(), "reboot");
}

}  // namespace
