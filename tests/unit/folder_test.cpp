// Reading folders: a failed read is told from the end of the folder.
#include "folder.h"

#include "../support/failing_readdir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {
struct Folder {
    std::string path;
    Folder() {
        char tmpl[] = "/tmp/folder_test.XXXXXX";
        path = mkdtemp(tmpl);
    }
    ~Folder() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
    std::string at(const std::string& name) const { return path + "/" + name; }
    void file(const std::string& name) const {
        int fd = open(at(name).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0) << name;
        close(fd);
    }
    void dir(const std::string& name) const { ASSERT_EQ(mkdir(at(name).c_str(), 0755), 0) << name; }
    bool has(const std::string& name) const {
        struct stat st {};
        return lstat(at(name).c_str(), &st) == 0;
    }
};

std::vector<std::string> names_in(const std::string& folder, int* result = nullptr) {
    std::vector<std::string> names;
    int r = for_each_entry(folder, [&](int, const char* name) {
        names.emplace_back(name);
        return true;
    });
    if (result) *result = r;
    std::sort(names.begin(), names.end());
    return names;
}
}  // namespace

TEST(FolderReading, EveryEntryOnceWithoutDotsAndStopsWhenAsked) {
    Folder f;
    f.file("a");
    f.file(".hidden");
    f.dir("sub");
    int r = -2;
    EXPECT_EQ(names_in(f.path, &r), (std::vector<std::string>{".hidden", "a", "sub"}));
    EXPECT_EQ(r, 0);

    int seen = 0;
    EXPECT_EQ(for_each_entry(f.path, [&](int, const char*) { return ++seen < 2; }), 0);
    EXPECT_EQ(seen, 2) << "stopped after the second entry";

    errno = 0;
    EXPECT_EQ(for_each_entry(f.at("missing"), [](int, const char*) { return true; }), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(for_each_entry(f.at("a"), [](int, const char*) { return true; }), -1) << "a file is no folder";
    EXPECT_EQ(errno, ENOTDIR);
}

TEST(FolderReading, ReadFailingPartWayIsReportedWithWhatWasRead) {
    Folder f;
    for (const char* n : {"a", "b", "c", "d"}) f.file(n);
    FailingReaddir failing(1, EOVERFLOW);
    int r = 0;
    EXPECT_EQ(names_in(f.path, &r).size(), 1u);
    EXPECT_EQ(r, -1);
    EXPECT_EQ(errno, EOVERFLOW);

    testing::internal::CaptureStderr();
    report_folder_error("tester", f.path);
    std::string said = testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find("tester: cannot read folder " + f.path), std::string::npos) << said;
    EXPECT_NE(said.find(std::strerror(EOVERFLOW)), std::string::npos) << said;
}

TEST(FolderEmptyingShared, FilesOnlyKeepsFoldersAndTheKeptNameAndFailsOnABadRead) {
    Folder f;
    f.file("a");
    f.file("b");
    f.file("keep");
    f.dir("sub");
    f.file("sub/inner");
    ASSERT_EQ(symlink(f.at("sub").c_str(), f.at("link").c_str()), 0);
    EXPECT_EQ(remove_folder_files(f.path, "keep"), 3);  // a, b and the link itself
    EXPECT_FALSE(f.has("a"));
    EXPECT_FALSE(f.has("link"));
    EXPECT_TRUE(f.has("keep"));
    EXPECT_TRUE(f.has("sub/inner"));

    for (const char* n : {"x", "y", "z"}) f.file(n);
    {
        FailingReaddir failing(0, EIO);
        EXPECT_EQ(remove_folder_files(f.path), -1) << "a folder not read is not reported emptied";
        EXPECT_EQ(errno, EIO);
    }
    EXPECT_TRUE(f.has("x") && f.has("y") && f.has("z"));
    EXPECT_EQ(remove_folder_files(f.path), 4);
}

TEST(FolderEmptyingShared, TreeRemovedWithoutFollowingLinksAndABadReadFails) {
    Folder outside;
    outside.file("precious");
    Folder f;
    f.dir("a");
    f.dir("a/b");
    f.file("a/b/deep");
    f.file("top");
    ASSERT_EQ(symlink(outside.path.c_str(), f.at("a/link").c_str()), 0);
    EXPECT_EQ(remove_folder_contents(f.path), 0);
    EXPECT_TRUE(names_in(f.path).empty());
    EXPECT_TRUE(outside.has("precious"));

    f.dir("a");
    f.file("a/one");
    f.file("a/two");
    {
        FailingReaddir failing(1, EOVERFLOW);
        EXPECT_EQ(remove_folder_contents(f.path), -1);
        EXPECT_EQ(errno, EOVERFLOW);
    }
    EXPECT_TRUE(f.has("a")) << "a sub-folder not read whole is not removed";

    ASSERT_EQ(symlink(outside.path.c_str(), f.at("to_outside").c_str()), 0);
    EXPECT_EQ(remove_folder_contents(f.at("to_outside")), -1) << "a link is not a folder to empty";
    EXPECT_TRUE(outside.has("precious"));
}
