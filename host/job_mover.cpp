#include "job_mover.h"

#include "host_state.h"
#include "job_files.h"
#include "run.h"
#include "host_spawn.h"
#include "settings.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// Holds the job while the abort input is active; the first step marks the abort once.
void wait_while_abort() {
    bool first = true;
    while (get_abort()) {
        if (first && run_index == 1) {
            host_run_shell("touch /tmp/run_index.txt");
            run_index = 0;
        }
        first = false;
        sleep_ms(10);
    }
    run_index = 1;
}
}  // namespace

int move_job_file(const std::string& intake, const char* name, const std::string& dest_folder) {
    if (!valid_entry_name(name)) return 0;
    std::string path = intake + "/" + name;
    if (path.size() > JOB_PATH_MAX) return 0;
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return 0;
    if (st.st_size <= host_settings.MINIMUM_FILE_SIZE) {
        unlink(path.c_str());
        return 0;
    }
    dbg("The file %s was Created\n", path.c_str());
    host_run_shell("/root/engine_cmd B 1");
    chmod(path.c_str(), 0666);
    wait_while_abort();
    if (Hexconfig == 1 && !host_settings.PATH_TO_JOB_REPRINT.empty()) {
        const std::string& reprint = host_settings.PATH_TO_JOB_REPRINT;
        if (empty_folder_tree(reprint) != 0) dbg("Failed to remove file in %s \n", reprint.c_str());
        if (copy_file(path, reprint + "/" + name) != 0) dbg("Failed to copy file: %s\n", path.c_str());
    }
    if (move_into_folder(path, dest_folder, name) != 0) {
        dbg("Failed to move file: %s\n", path.c_str());
        return -1;
    }
    return 1;
}

void* move_to_emulation_intake_pthrd(void*) {
    name_thread("job_mover");
    const std::string& intake = host_settings.PATH_TO_JOB_INTAKE;
    int fd = inotify_init1(IN_CLOEXEC);
    if (fd < 0) {
        std::perror("Couldn't initialize inotify");
        return nullptr;
    }
    if (inotify_add_watch(fd, intake.c_str(), IN_CLOSE_WRITE) < 0) {
        dbg("Couldn't add watch to %s\n", intake.c_str());
        close(fd);
        return nullptr;
    }
    dbg("Watching:: %s\n", intake.c_str());
    constexpr size_t BUF_LEN = 1024 * (sizeof(struct inotify_event) + 16);
    alignas(struct inotify_event) static char buffer[BUF_LEN];
    for (;;) {
        ssize_t length = read(fd, buffer, BUF_LEN);
        if (length < 0) {
            if (errno == EINTR) continue;
            std::perror("read");
            sleep_ms(100);
            continue;
        }
        for (ssize_t i = 0; i < length;) {
            auto* event = reinterpret_cast<struct inotify_event*>(buffer + i);
            i += static_cast<ssize_t>(sizeof(struct inotify_event) + event->len);
            if (event->len == 0) continue;
            if (event->mask & IN_ISDIR) {
                dbg("The directory %s was Created.\n", event->name);
                continue;
            }
            move_job_file(intake, event->name, ENGINE_INTAKE_LINK);
        }
    }
}
