// usb_host: the virtual printer's USB printer gadget and the host at its other end.
//
// The gadget is a pseudo-terminal in raw mode: its terminal side is linked at the gadget's device
// path (PRINTER_GADGET_FILE, /dev/g_printer0), where host_link opens it; its other side is the
// host. Bytes the host writes arrive unchanged at the gadget, bytes host_link writes to the gadget
// are the printer's answers.
//
//   usb_host serve [--link PATH]     create the gadget and serve it in the background; returns
//                                    once the link exists (does nothing when already serving)
//   usb_host send [--stamp FILE] [--chunk N --pause MS] FILE...
//                                    write the files to the gadget as a host would, in one go
//                                    (or in chunks of N bytes MS apart); "-" is standard input.
//                                    --stamp writes the CLOCK_REALTIME time of the last byte
//                                    ("<seconds>.<nanoseconds>") to FILE.
//   usb_host pending                 bytes written by the host that host_link has not read yet
//   usb_host replies                 the printer's answers so far (raw bytes)
//   usb_host stop                    remove the gadget
//   usb_host --name NAME ...         another line of the same kind (the serial Bluetooth module is
//                                    "--name serial_module serve --link /dev/ttyS2")
//
// The daemon keeps its files in /sim/usb_host (/sim/NAME): "socket" (clients fetch the host side of
// the pseudo-terminal from it), "pid", "replies" (every byte host_link wrote to the gadget);
// "sending" exists while a host writes.
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <glib.h>
#include <poll.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {
std::string DIR_PATH = "/sim/usb_host";
std::string SOCKET_PATH, PID_PATH, REPLIES_PATH;
// Exists while "usb_host send" writes (see gadget_steady.cpp).
std::string SENDING_PATH;

void set_paths(const std::string& dir) {
    DIR_PATH = dir;
    SOCKET_PATH = dir + "/socket";
    PID_PATH = dir + "/pid";
    REPLIES_PATH = dir + "/replies";
    SENDING_PATH = dir + "/sending";
}
std::string gadget_link;

std::string gadget_path_from_settings() {
    GKeyFile* kf = g_key_file_new();
    std::string path = "/dev/g_printer0";
    if (g_key_file_load_from_file(kf, "/home/globalDefines.cfg", G_KEY_FILE_NONE, nullptr)) {
        gchar* v = g_key_file_get_string(kf, "Hardware", "PRINTER_GADGET_FILE", nullptr);
        if (v && *v) path = v;
        g_free(v);
    }
    g_key_file_free(kf);
    return path;
}

int fail(const char* what) {
    std::fprintf(stderr, "usb_host: %s: %s\n", what, std::strerror(errno));
    return 1;
}

sockaddr_un socket_address() {
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::snprintf(a.sun_path, sizeof a.sun_path, "%s", SOCKET_PATH.c_str());
    return a;
}

int connect_daemon() {
    int s = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0) return -1;
    sockaddr_un a = socket_address();
    if (connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        close(s);
        return -1;
    }
    return s;
}

// Sends one request letter; 'm' answers with the host-side descriptor, 'p' with a number.
int request(char letter, int* fd_out, long* number_out) {
    int s = connect_daemon();
    if (s < 0) {
        std::fprintf(stderr, "usb_host: the gadget is not served (run \"usb_host serve\")\n");
        return -1;
    }
    if (write(s, &letter, 1) != 1) {
        close(s);
        return -1;
    }
    char buf[64] = {};
    iovec iov{buf, sizeof buf - 1};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))];
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    ssize_t n = recvmsg(s, &msg, MSG_CMSG_CLOEXEC);
    close(s);
    if (n <= 0) return -1;
    if (fd_out) {
        cmsghdr* c = CMSG_FIRSTHDR(&msg);
        if (!c || c->cmsg_type != SCM_RIGHTS) return -1;
        std::memcpy(fd_out, CMSG_DATA(c), sizeof(int));
    }
    if (number_out) *number_out = std::strtol(buf, nullptr, 10);
    return 0;
}

void answer(int client, int master, int terminal) {
    char letter = 0;
    if (read(client, &letter, 1) != 1) return;
    if (letter == 'm') {
        char byte = 'm';
        iovec iov{&byte, 1};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
        msghdr msg{};
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        cmsghdr* c = CMSG_FIRSTHDR(&msg);
        c->cmsg_level = SOL_SOCKET;
        c->cmsg_type = SCM_RIGHTS;
        c->cmsg_len = CMSG_LEN(sizeof(int));
        std::memcpy(CMSG_DATA(c), &master, sizeof(int));
        sendmsg(client, &msg, MSG_NOSIGNAL);
    } else if (letter == 'p') {
        int pending = 0;
        ioctl(terminal, FIONREAD, &pending);
        char buf[32];
        int len = std::snprintf(buf, sizeof buf, "%d", pending);
        send(client, buf, static_cast<size_t>(len), MSG_NOSIGNAL);
    } else if (letter == 'q') {
        send(client, "q", 1, MSG_NOSIGNAL);
        unlink(SOCKET_PATH.c_str());
        unlink(PID_PATH.c_str());
        unlink(gadget_link.c_str());
        std::exit(0);
    }
}

int serve(const std::string& link) {
    int probe = connect_daemon();
    if (probe >= 0) {
        close(probe);
        return 0;  // already serving
    }
    mkdir("/sim", 0755);
    mkdir(DIR_PATH.c_str(), 0755);

    int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return fail("pseudo-terminal");
    const char* name = ptsname(master);
    if (!name) return fail("ptsname");
    std::string terminal_name = name;
    // The daemon keeps the terminal side open too, so the gadget never hangs up between jobs.
    int terminal = open(terminal_name.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (terminal < 0) return fail(terminal_name.c_str());
    termios t{};
    tcgetattr(terminal, &t);
    cfmakeraw(&t);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    if (tcsetattr(terminal, TCSANOW, &t) != 0) return fail("raw mode");

    unlink(SOCKET_PATH.c_str());
    int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un a = socket_address();
    if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(listener, 16) != 0)
        return fail("socket");

    gadget_link = link;
    unlink(link.c_str());
    if (symlink(terminal_name.c_str(), link.c_str()) != 0) return fail(link.c_str());

    int ready[2];
    if (pipe(ready) != 0) return fail("pipe");
    pid_t pid = fork();
    if (pid < 0) return fail("fork");
    if (pid > 0) {
        close(ready[1]);
        char c;
        ssize_t n = read(ready[0], &c, 1);
        return n == 1 ? 0 : 1;
    }
    close(ready[0]);
    setsid();
    int devnull = open("/dev/null", O_RDWR);
    if (devnull >= 0) {
        dup2(devnull, 0);
        dup2(devnull, 1);
        close(devnull);
    }
    signal(SIGPIPE, SIG_IGN);
    if (FILE* f = std::fopen(PID_PATH.c_str(), "w")) {
        std::fprintf(f, "%d\n", static_cast<int>(getpid()));
        std::fclose(f);
    }
    int replies = open(REPLIES_PATH.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
    if (write(ready[1], "r", 1) != 1) _exit(1);
    close(ready[1]);

    for (;;) {
        pollfd p[2] = {{listener, POLLIN, 0}, {master, POLLIN, 0}};
        if (poll(p, 2, -1) < 0) {
            if (errno == EINTR) continue;
            _exit(1);
        }
        if (p[0].revents & POLLIN) {
            int client = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (client >= 0) {
                answer(client, master, terminal);
                close(client);
            }
        }
        if (p[1].revents & POLLIN) {
            char buf[4096];
            ssize_t n = read(master, buf, sizeof buf);
            if (n > 0 && replies >= 0 && write(replies, buf, static_cast<size_t>(n)) < 0) {}
        }
    }
}

bool write_all(int fd, const char* data, size_t len) {
    while (len > 0) {
        ssize_t w = write(fd, data, len);
        if (w < 0) {
            if (errno == EAGAIN) {
                // Full: look again very soon (the printer side has only ~12 KiB queued).
                timespec ts{0, 20000};
                nanosleep(&ts, nullptr);
                continue;
            }
            if (errno == EINTR) continue;
            return false;
        }
        data += w;
        len -= static_cast<size_t>(w);
    }
    return true;
}

bool read_whole(const char* path, std::string& out) {
    int fd = std::strcmp(path, "-") == 0 ? 0 : open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char buf[65536];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
    if (fd != 0) close(fd);
    return n == 0;
}

int send_files(int argc, char** argv) {
    std::string stamp;
    size_t chunk = 0;
    long pause_ms = 0;
    std::vector<const char*> files;
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--stamp") == 0 && i + 1 < argc) stamp = argv[++i];
        else if (std::strcmp(argv[i], "--chunk") == 0 && i + 1 < argc) chunk = std::strtoul(argv[++i], nullptr, 10);
        else if (std::strcmp(argv[i], "--pause") == 0 && i + 1 < argc) pause_ms = std::strtol(argv[++i], nullptr, 10);
        else files.push_back(argv[i]);
    }
    if (files.empty()) {
        std::fprintf(stderr, "usb_host send: no file\n");
        return 2;
    }
    std::string data;
    for (const char* file : files) {
        if (!read_whole(file, data)) {
            std::fprintf(stderr, "usb_host send: cannot read %s\n", file);
            return 1;
        }
    }
    int host = -1;
    if (request('m', &host, nullptr) != 0) return 1;
    // A host on the bus refills the gadget's queue as fast as the printer empties it. The
    // pseudo-terminal holds only about 12 KiB, and a writer that sleeps until the kernel finds
    // room wakes too late to keep up with a fast reader, which would then see a pause the host
    // never made. So the host writes without blocking and looks again every 20 us while the queue
    // is full. While it writes, the mark SENDING_PATH exists (a pause of --pause removes it).
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    auto mark = [](bool on) {
        if (!on) {
            unlink(SENDING_PATH.c_str());
            return;
        }
        int fd = open(SENDING_PATH.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        if (fd >= 0) close(fd);
    };
    int flags = fcntl(host, F_GETFL);
    fcntl(host, F_SETFL, flags | O_NONBLOCK);
    timespec last{};
    bool ok = true;
    size_t step = chunk ? chunk : data.size();
    mark(true);
    for (size_t off = 0; off < data.size() && ok; off += step) {
        size_t len = std::min(step, data.size() - off);
        ok = write_all(host, data.data() + off, len);
        clock_gettime(CLOCK_REALTIME, &last);
        if (ok && pause_ms > 0 && off + len < data.size()) {
            mark(false);
            timespec ts{pause_ms / 1000, (pause_ms % 1000) * 1000000};
            nanosleep(&ts, nullptr);
            mark(true);
        }
    }
    mark(false);
    fcntl(host, F_SETFL, flags);
    if (!ok) return fail("write");
    if (!stamp.empty()) {
        if (FILE* f = std::fopen(stamp.c_str(), "w")) {
            std::fprintf(f, "%lld.%09ld\n", static_cast<long long>(last.tv_sec), last.tv_nsec);
            std::fclose(f);
        }
    }
    return 0;
}

int usage() {
    std::fprintf(stderr,
                 "usage: usb_host [--name NAME] serve [--link PATH] | send [--stamp FILE] [--chunk N --pause MS] FILE... |"
                 " pending | replies | stop\n");
    return 2;
}
}  // namespace

int main(int argc, char** argv) {
    set_paths("/sim/usb_host");
    if (argc >= 3 && std::strcmp(argv[1], "--name") == 0) {
        std::string name = argv[2];
        if (name.empty() || name.find('/') != std::string::npos || name[0] == '.') return usage();
        set_paths("/sim/" + name);
        argc -= 2;
        argv += 2;
    }
    if (argc < 2) return usage();
    std::string cmd = argv[1];
    if (cmd == "serve") {
        std::string link = gadget_path_from_settings();
        if (argc >= 4 && std::strcmp(argv[2], "--link") == 0) link = argv[3];
        return serve(link);
    }
    if (cmd == "send") return send_files(argc - 2, argv + 2);
    if (cmd == "pending") {
        long n = 0;
        if (request('p', nullptr, &n) != 0) return 1;
        std::printf("%ld\n", n);
        return 0;
    }
    if (cmd == "replies") {
        std::string data;
        if (!read_whole(REPLIES_PATH.c_str(), data)) return 1;
        return write_all(1, data.data(), data.size()) ? 0 : 1;
    }
    if (cmd == "stop") {
        long n = 0;
        request('q', nullptr, &n);
        return 0;
    }
    return usage();
}
