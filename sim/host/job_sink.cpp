// job_sink: a stand-in interpreter for the virtual printer's tests. It takes job files from the
// engine intake the way the interpreters do (a file closed after writing or moved in), appends
// their bytes to a data file, logs one line per job and removes the job file.
//
//   job_sink [--folder DIR] [--out DIR]
//
// Files in --out (default /sim/job_sink), named after the program (argv[0]'s base name, so copies
// under other names keep separate records):
//   <name>.log    "started <pid>" once the folder is watched, then "<job file name> <size>" per job
//   <name>.data   the bytes of all jobs, in the order taken
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
bool append_file(const std::string& src, FILE* out, long& size) {
    FILE* in = nullptr;
    for (int attempt = 0; attempt < 30 && !in; ++attempt) {
        in = std::fopen(src.c_str(), "rb");
        if (!in) usleep(10000);
    }
    if (!in) return false;
    char buf[65536];
    size_t n;
    size = 0;
    while ((n = std::fread(buf, 1, sizeof buf, in)) > 0) {
        std::fwrite(buf, 1, n, out);
        size += static_cast<long>(n);
    }
    std::fclose(in);
    std::fflush(out);
    return true;
}
}  // namespace

int main(int argc, char** argv) {
    std::string folder = "/tmp/engine_intake";
    std::string out = "/sim/job_sink";
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--folder") == 0) folder = argv[i + 1];
        else if (std::strcmp(argv[i], "--out") == 0) out = argv[i + 1];
    }
    const char* base = std::strrchr(argv[0], '/');
    std::string name = base ? base + 1 : argv[0];
    mkdir("/sim", 0755);
    mkdir(out.c_str(), 0755);
    mkdir(folder.c_str(), 0777);
    FILE* log = std::fopen((out + "/" + name + ".log").c_str(), "a");
    FILE* data = std::fopen((out + "/" + name + ".data").c_str(), "ab");
    if (!log || !data) {
        std::perror("job_sink");
        return 1;
    }
    int fd = inotify_init1(IN_CLOEXEC);
    if (fd < 0 || inotify_add_watch(fd, folder.c_str(), IN_CLOSE_WRITE | IN_MOVED_TO) < 0) {
        std::perror("job_sink: watch");
        return 1;
    }
    std::fprintf(log, "started %d\n", static_cast<int>(getpid()));
    std::fflush(log);
    alignas(inotify_event) char buf[32768];
    for (;;) {
        ssize_t len = read(fd, buf, sizeof buf);
        if (len < 0) {
            if (errno == EINTR) continue;
            return 1;
        }
        for (ssize_t i = 0; i < len;) {
            auto* ev = reinterpret_cast<inotify_event*>(buf + i);
            i += static_cast<ssize_t>(sizeof(inotify_event) + ev->len);
            if (ev->len == 0 || (ev->mask & IN_ISDIR)) continue;
            std::string path = folder + "/" + ev->name;
            long size = 0;
            if (!append_file(path, data, size)) continue;
            unlink(path.c_str());
            std::fprintf(log, "%s %ld\n", ev->name, size);
            std::fflush(log);
        }
    }
}
