// The shared job intake and input ring of the interpreters.
#include "input_ring.h"
#include "job_intake.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {
struct Folder {
    std::string path;
    Folder() {
        char tmpl[] = "/tmp/intake_test.XXXXXX";
        path = mkdtemp(tmpl);
    }
    ~Folder() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
    std::string write(const std::string& name, const std::string& text, time_t mtime = 0) const {
        std::string p = path + "/" + name;
        int fd = open(p.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        EXPECT_EQ(::write(fd, text.data(), text.size()), ssize_t(text.size()));
        close(fd);
        if (mtime) {
            struct timespec t[2] = {{mtime, 0}, {mtime, 0}};
            utimensat(AT_FDCWD, p.c_str(), t, 0);
        }
        return p;
    }
};

// Takes files as an interpreter does: records the name and removes the file.
struct Recorder {
    std::vector<std::string> names;
    JobIntake::Take take() {
        return [this](const std::string& path) {
            names.push_back(path.substr(path.rfind('/') + 1));
            unlink(path.c_str());
        };
    }
};

// Waits (bounded) until the recorder holds n names.
void wait_for(JobIntake& intake, Recorder& r, size_t n) {
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (r.names.size() < n && std::chrono::steady_clock::now() < until) intake.wait_and_take(200);
}
}  // namespace

TEST(JobIntake, JobsWaitingAtStartAreTakenOldestFirstThenNewOnesAsTheyClose) {
    Folder f;
    f.write("printjob-3", "c", 1000);
    f.write("printjob-1", "a", 3000);
    f.write("printjob-2", "b", 2000);
    mkdir((f.path + "/sub").c_str(), 0755);
    // A job still being written when the interpreter starts is left to its writer.
    std::string open_path = f.path + "/printjob-4";
    int writer = open(open_path.c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(writer, 0);
    Recorder r;
    JobIntake intake(f.path, r.take());
    ASSERT_TRUE(intake.start());
    EXPECT_EQ(r.names, (std::vector<std::string>{"printjob-3", "printjob-2", "printjob-1"}));

    EXPECT_EQ(::write(writer, "d", 1), 1);
    close(writer);  // its close event brings it
    wait_for(intake, r, 4);
    ASSERT_EQ(r.names.size(), 4u);
    EXPECT_EQ(r.names[3], "printjob-4");

    // A file moved in from elsewhere is a job too.
    Folder other;
    std::string moved = other.write("job", "e");
    ASSERT_EQ(rename(moved.c_str(), (f.path + "/printjob-5").c_str()), 0);
    wait_for(intake, r, 5);
    ASSERT_EQ(r.names.size(), 5u);
    EXPECT_EQ(r.names[4], "printjob-5");
    EXPECT_EQ(intake.wait_and_take(50), 0) << "each job is taken once";
}

TEST(JobIntake, MissingFolderIsCreated) {
    Folder f;
    Recorder r;
    JobIntake intake(f.path + "/engine_intake", r.take());
    ASSERT_TRUE(intake.start());
    struct stat st {};
    EXPECT_EQ(stat((f.path + "/engine_intake").c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
}

TEST(InputRing, ReaderSleepsUntilBytesArriveAndWriterUntilRoomIsMade) {
    InputRing ring(52427, 0x40000);
    EXPECT_FALSE(ring.wait_readable(std::chrono::milliseconds(20)));

    std::thread late_writer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        const uint8_t b[] = {'x'};
        ring.put(b, 1);
    });
    EXPECT_TRUE(ring.wait_readable(std::chrono::seconds(20)));
    EXPECT_EQ(ring.get(), 'x');
    late_writer.join();

    // A writer of three rings' worth of bytes waits for room and loses nothing.
    std::vector<uint8_t> job(3 * InputRing::SIZE);
    for (size_t i = 0; i < job.size(); ++i) job[i] = uint8_t(i * 7 + i / 1000);
    std::atomic<bool> done{false};
    std::thread writer([&] {
        ring.put(job.data(), job.size());
        done = true;
    });
    size_t got = 0;
    bool same = true;
    while (got < job.size()) {
        ring.wait_readable();
        EXPECT_GE(ring.free_space(), 52427u - InputRing::CHUNK) << "never filled past the reserve";
        for (int c; (c = ring.get()) >= 0; ++got) same = same && got < job.size() && uint8_t(c) == job[got];
    }
    writer.join();
    EXPECT_TRUE(done);
    EXPECT_TRUE(same);
    EXPECT_EQ(got, job.size());
}

TEST(InputRing, AWriterWakesTheReaderWithoutBytes) {
    InputRing ring(52427, 0x40000);
    std::thread empty_job([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        ring.wake_reader();
    });
    EXPECT_TRUE(ring.wait_readable(std::chrono::seconds(20))) << "woken before the limit";
    EXPECT_TRUE(ring.empty());
    empty_job.join();
    EXPECT_FALSE(ring.wait_readable(std::chrono::milliseconds(20))) << "once";
    ring.wake_reader();  // before the reader waits: its next wait returns at once
    EXPECT_TRUE(ring.wait_readable(std::chrono::milliseconds(20)));
}

TEST(InputRing, AbortDropsWhatIsUnread) {
    InputRing ring(5241, 26214);
    const uint8_t b[] = {1, 2, 3};
    ring.put(b, 3);
    EXPECT_EQ(ring.unread(), 3u);
    ring.drop_unread();
    EXPECT_TRUE(ring.empty());
    EXPECT_EQ(ring.get(), -1);
    EXPECT_EQ(ring.free_space(), InputRing::SIZE);
}
