#include "folder.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {
ReaddirFn readdir_fn = nullptr;
}

void set_readdir_for_tests(ReaddirFn fn) { readdir_fn = fn; }

int for_each_entry_fd(int fd, const std::function<bool(int, const char*)>& each) {
    DIR* d = fdopendir(fd);
    if (!d) {
        int err = errno;
        close(fd);
        errno = err;
        return -1;
    }
    int err = 0;
    for (;;) {
        errno = 0;
        struct dirent* e = readdir_fn ? readdir_fn(d) : readdir(d);
        if (!e) {
            err = errno;  // 0 at the end of the folder
            break;
        }
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
        if (!each(dirfd(d), e->d_name)) break;
    }
    closedir(d);
    if (err != 0) {
        errno = err;
        return -1;
    }
    return 0;
}

int for_each_entry(const std::string& folder, const std::function<bool(int, const char*)>& each) {
    int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return -1;
    return for_each_entry_fd(fd, each);
}

int remove_folder_files(const std::string& folder, const char* keep) {
    int removed = 0;
    int r = for_each_entry(folder, [&](int dfd, const char* name) {
        if (keep && std::strcmp(name, keep) == 0) return true;
        struct stat st {};
        if (fstatat(dfd, name, &st, AT_SYMLINK_NOFOLLOW) != 0 || S_ISDIR(st.st_mode)) return true;
        if (unlinkat(dfd, name, 0) == 0) ++removed;
        return true;
    });
    return r == 0 ? removed : -1;
}

namespace {
// Empties the folder open as fd (taken over); depth is bounded by the tree itself.
int empty_tree_fd(int fd) {
    int dup_fd = fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (dup_fd < 0) {
        int err = errno;
        close(fd);
        errno = err;
        return -1;
    }
    std::vector<std::string> names;
    int r = for_each_entry_fd(fd, [&](int, const char* name) {
        names.emplace_back(name);
        return true;
    });
    int err = r != 0 ? errno : 0;
    for (const auto& name : names) {
        struct stat st {};
        if (fstatat(dup_fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno != ENOENT && !err) err = errno;
            continue;
        }
        if (S_ISDIR(st.st_mode)) {
            int sub = openat(dup_fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (sub < 0 || empty_tree_fd(sub) != 0) {
                if (!err) err = errno;
                continue;
            }
            if (unlinkat(dup_fd, name.c_str(), AT_REMOVEDIR) != 0 && !err) err = errno;
        } else if (unlinkat(dup_fd, name.c_str(), 0) != 0 && errno != ENOENT && !err) {
            err = errno;
        }
    }
    close(dup_fd);
    if (err) {
        errno = err;
        return -1;
    }
    return 0;
}
}  // namespace

int remove_folder_contents(const std::string& folder) {
    int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return -1;
    return empty_tree_fd(fd);
}

void report_folder_error(const char* who, const std::string& folder) {
    std::fprintf(stderr, "%s: cannot read folder %s: %s\n", who, folder.c_str(), std::strerror(errno));
}
