#include "file_watch.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/inotify.h>
#include <thread>
#include <unistd.h>

namespace {
struct TempDir {
    std::string path;
    TempDir() {
        char tmpl[] = "/tmp/file_watch_test.XXXXXX";
        path = mkdtemp(tmpl);
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
};
void touch(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
}
using Clock = std::chrono::steady_clock;
}  // namespace

TEST(FileWatch, WaitEndsWhenTheFileIsRemovedNotAtTheCheckInterval) {
    TempDir d;
    std::string f = d.path + "/profile.bin";
    touch(f);
    std::thread remover([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        unlink(f.c_str());
    });
    auto t0 = Clock::now();
    // A check interval far longer than the test: only the removal's event can end the wait.
    EXPECT_TRUE(wait_while_exists(f, 60000));
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count();
    remover.join();
    EXPECT_GE(ms, 90);
    EXPECT_LT(ms, 30000);
    // A file that is not there: at once.
    EXPECT_TRUE(wait_while_exists(f, 60000));
}

TEST(FileWatch, StopEndsTheWaitAndAFileInAMissingFolderCountsAsGone) {
    TempDir d;
    std::string f = d.path + "/imstart";
    touch(f);
    std::atomic<bool> stop{false};
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        stop = true;
    });
    EXPECT_FALSE(wait_while_exists(f, 20, [&] { return stop.load(); }));
    stopper.join();
    EXPECT_TRUE(wait_while_exists(d.path + "/none/imstart", 10));
}

TEST(FileWatch, FolderWatchWakesOnCloseAfterWriting) {
    TempDir d;
    FolderWatch w(d.path, IN_CLOSE_WRITE);
    ASSERT_TRUE(w.ok());
    EXPECT_FALSE(w.wait(0));
    touch(d.path + "/prosize");
    EXPECT_TRUE(w.wait(5000));
    EXPECT_FALSE(w.wait(0));  // every waiting event was read
    FolderWatch none(d.path + "/missing", IN_CLOSE_WRITE);
    EXPECT_FALSE(none.ok());
    EXPECT_FALSE(none.wait(1));
}
