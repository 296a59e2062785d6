#include "job_files.h"

#include "folder.h"
#include "host_state.h"
#include "run.h"
#include "shell_runner.h"
#include "host_spawn.h"
#include "settings.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace {
std::mutex reprint_mutex;

std::string numbered_name(const char* folder, int n) {
    return std::string(folder) + "/printjob-" + std::to_string(n);
}

bool write_all(int fd, const char* data, size_t len) {
    while (len > 0) {
        ssize_t w = write(fd, data, len);
        if (w < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += w;
        len -= static_cast<size_t>(w);
    }
    return true;
}
}  // namespace

FILE* create_new_date_file(std::string& path, const char* folder) {
    int number = 1;
    path = numbered_name(folder, number);
    while (!abort_flag) {
        int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            FILE* f = fdopen(fd, "w+");
            if (f) return f;
            close(fd);
            unlink(path.c_str());
            errno = ENOMEM;
        }
        if (errno != EEXIST) {
            std::perror("Can't create printjob");
            std::exit(1);
        }
        ++number;
        path = numbered_name(folder, number);
        sleep_ms(5);
        if (number >= STREAMING_JOB_FILES) {
            dbg("It's already %d hex file existence\n", number);
            number = 0;
        }
    }
    path.clear();
    return nullptr;
}

FILE* create_new_temp_file(std::string& path, const std::string& folder) {
    path.clear();
    std::string pattern = folder + "/printjob-XXXXXX";
    if (folder.empty()) {
        std::fprintf(stderr, "%s: %s\n", pattern.c_str(), std::strerror(ENOENT));
        return nullptr;
    }
    std::string name = pattern;
    int fd = mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) {
        std::fprintf(stderr, "%s: %s\n", pattern.c_str(), std::strerror(errno));
        return nullptr;
    }
    FILE* f = fdopen(fd, "w+");
    if (!f) {
        int e = errno;
        close(fd);
        unlink(name.c_str());
        std::fprintf(stderr, "%s: %s\n", pattern.c_str(), std::strerror(e));
        return nullptr;
    }
    path = name;
    return f;
}

bool open_job_file(JobFile& job, bool continues) {
    job.streaming = data_continually != 0;
    job.continues = continues && job.streaming;
    job.count = 0;
    if (job.streaming) {
        job.fp = create_new_date_file(job.path, host_paths.engine_intake.c_str());
        if (job.fp) post_shell_command("/root/engine_cmd B 1");
    } else {
        job.fp = create_new_temp_file(job.path, host_settings.PATH_TO_JOB_INTAKE);
    }
    return job.fp != nullptr;
}

void close_job_file(JobFile& job) {
    if (!job.fp) return;
    std::fflush(job.fp);
    backup_data_file(job);
    close_job_stream(job.fp);
    job.fp = nullptr;
    job.count = 0;
}

void backup_data_file(const JobFile& job) {
    if (Hexconfig != 1 || !job.streaming || !job.fp) return;
    const std::string& reprint = host_settings.PATH_TO_JOB_REPRINT;
    if (reprint.empty()) return;
    std::lock_guard<std::mutex> lock(reprint_mutex);
    mkdir(reprint.c_str(), 0755);
    if (!job.continues && empty_folder_tree(reprint) != 0) dbg("Failed to remove file in %s \n", reprint.c_str());
    if (copy_fd_to_file(fileno(job.fp), reprint + "/printjob-1", job.continues) != 0)
        dbg("Failed to copy file: %s\n", job.path.c_str());
}

int empty_folder_tree(const std::string& folder) {
    std::string f = folder;
    while (f.size() > 1 && f.back() == '/') f.pop_back();
    if (f.empty() || f[0] != '/' || f == "/") return -1;
    struct stat st {};
    if (lstat(f.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return -1;
    if (remove_folder_contents(f) != 0) {
        report_folder_error("host_link", f);
        return -1;
    }
    return 0;
}

int empty_folder_files(const std::string& folder, const char* keep) {
    int removed = remove_folder_files(folder, keep);
    if (removed < 0) report_folder_error("host_link", folder);
    return removed;
}

int copy_fd_to_file(int src_fd, const std::string& dst, bool append) {
    int out = open(dst.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (append ? O_APPEND : O_TRUNC), 0666);
    if (out < 0) return -1;
    char buf[65536];
    off_t off = 0;
    bool ok = true;
    for (;;) {
        ssize_t r = pread(src_fd, buf, sizeof buf, off);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) {
            ok = false;
            break;
        }
        if (r == 0) break;
        if (!write_all(out, buf, static_cast<size_t>(r))) {
            ok = false;
            break;
        }
        off += r;
    }
    if (close(out) != 0) ok = false;
    return ok ? 0 : -1;
}

int copy_file(const std::string& src, const std::string& dst) {
    int in = open(src.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return -1;
    int r = copy_fd_to_file(in, dst, false);
    close(in);
    return r;
}

bool valid_entry_name(const char* name) {
    if (!name || !*name) return false;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) return false;
    return std::strchr(name, '/') == nullptr;
}

int move_into_folder(const std::string& file, const std::string& dest_folder, const char* name) {
    if (!valid_entry_name(name)) return -1;
    std::string dst = dest_folder + "/" + name;
    if (rename(file.c_str(), dst.c_str()) == 0) return 0;
    if (errno != EXDEV) return -1;
    // Another file system: copy next to the folder, then rename in (one moved-in event).
    char real[PATH_MAX];
    if (!realpath(dest_folder.c_str(), real)) return -1;
    std::string folder = real;
    // The staging file lies in the folder's parent ("/" for a folder of the root).
    std::string staging = folder.substr(0, folder.find_last_of('/'));
    staging.append("/.printjob-move-XXXXXX");
    int fd = mkostemp(staging.data(), O_CLOEXEC);
    if (fd < 0) return -1;
    close(fd);
    if (copy_file(file, staging) != 0 || chmod(staging.c_str(), 0666) != 0 ||
        rename(staging.c_str(), (folder + "/" + name).c_str()) != 0) {
        unlink(staging.c_str());
        return -1;
    }
    unlink(file.c_str());
    return 0;
}
