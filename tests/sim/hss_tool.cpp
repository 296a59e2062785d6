// Test tool for the simulated slave's ports (runs inside the virtual printer):
//
//   hss_tool image OUT ROWS [dense]   a 1728-dot test image; every fifth row blank unless dense
//   hss_tool make OUT PBM [--rs1 N] [--layout normal|battery] [--end FF|F0|F1|F2] [--burn US]
//                                     the profile word stream of the image, one speed for all rows
//   hss_tool send FILE [--stopblock] [--timeout S]
//                                     sends it as the print engine does: a one-byte read that
//                                     returns 1 before each 4096-byte block
//   hss_tool probe                    the results of two one-byte reads
//   hss_tool take                     waits for a ready byte, sends nothing, reads once more
//   hss_tool frame L D0 D1 D2 D3      a command frame on the command port: "ack|none" and the
//                                     reply in hex ("-" when none)
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {
constexpr size_t BLOCK = 4096;
constexpr int ROW = 216;
using Clock = std::chrono::steady_clock;

std::vector<uint8_t> read_file(const char* path) {
    std::vector<uint8_t> d;
    FILE* f = std::fopen(path, "rb");
    if (!f) return d;
    uint8_t buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) d.insert(d.end(), buf, buf + n);
    std::fclose(f);
    return d;
}

bool write_file(const char* path, const std::vector<uint8_t>& d) {
    FILE* f = std::fopen(path, "wb");
    if (!f) return false;
    bool ok = std::fwrite(d.data(), 1, d.size(), f) == d.size();
    return std::fclose(f) == 0 && ok;
}

std::string opt(int argc, char** argv, const char* name, const char* dflt) {
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], name) == 0) return argv[i + 1];
    return dflt;
}
bool flag(int argc, char** argv, const char* name) {
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], name) == 0) return true;
    return false;
}

int image(const char* out, int rows, bool dense) {
    std::string head = "P4\n1728 " + std::to_string(rows) + "\n";
    std::vector<uint8_t> d(head.begin(), head.end());
    for (int r = 0; r < rows; ++r)
        for (int i = 0; i < ROW; ++i) {
            uint8_t v;
            if (dense) v = uint8_t(((r * 7 + i * 13) | 0x11) & 0xFF);
            else if (r % 5 == 4) v = 0;
            else v = (i / 30) % 2 == r % 2 ? uint8_t((r * 7 + i * 13) & 0xFF) : 0;
            d.push_back(v);
        }
    return write_file(out, d) ? 0 : 1;
}

struct Out {
    std::vector<uint8_t> b;
    void w(int first, int second) {  // (first × 256 + second), little-endian
        b.push_back(uint8_t(second));
        b.push_back(uint8_t(first));
    }
    void v(int value) { w((value >> 8) & 0xFF, value & 0xFF); }
};

void widths(Out& o, bool present, bool battery) {
    (void)battery;  // one clump at most here: the same single word in both layouts
    o.w(present ? ROW : 0, 0);
}

int make(const char* out, const char* pbm, int rs1, bool battery, int end, int burn) {
    std::vector<uint8_t> img = read_file(pbm);
    int w = 0, h = 0, consumed = 0;
    if (std::sscanf(reinterpret_cast<const char*>(img.data()), "P4\n%d %d\n%n", &w, &h, &consumed) != 2 || w != 1728)
        return 1;
    Out o;
    for (int r = 0; r < h; ++r) {
        const uint8_t* row = img.data() + consumed + size_t(r) * ROW;
        bool odd = false, even = false;
        for (int i = 0; i < ROW; ++i) {
            odd = odd || (row[i] & 0xAA);
            even = even || (row[i] & 0x55);
        }
        widths(o, odd, battery);
        widths(o, even, battery);
        o.w(rs1, r == h - 1 ? end : rs1);
        int burns = int(odd) + int(even);
        if (!burns) continue;
        for (int j = 0; j < burns; ++j) {
            o.v(burn);
            o.v(j);
        }
        int banks = battery ? 12 : 4, size = battery ? 18 : 54;
        int databank = 0;
        for (int b = 0; b < banks; ++b)
            for (int i = 0; i < size; ++i)
                if (row[b * size + i]) databank |= 1 << b;
        o.v(databank);
        for (int b = 0; b < banks; ++b) {
            if (!(databank & (1 << b))) continue;
            for (int i = 0; i < size; i += 2) o.w(row[b * size + i], row[b * size + i + 1]);
        }
    }
    return write_file(out, o.b) ? 0 : 1;
}

int open_port(const char* path) { return ::open(path, O_RDWR | O_NOCTTY); }

bool wait_ready(int fd, double timeout_s) {
    auto deadline = Clock::now() + std::chrono::milliseconds(long(timeout_s * 1000));
    uint8_t c;
    for (;;) {
        if (::read(fd, &c, 1) == 1) return true;
        if (Clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

int send(const char* path, bool stopblock, double timeout_s) {
    std::vector<uint8_t> d = read_file(path);
    d.resize((d.size() + BLOCK - 1) / BLOCK * BLOCK, 0);
    int fd = open_port("/dev/slave_hss");
    if (fd < 0) return 1;
    for (size_t i = 0; i < d.size(); i += BLOCK) {
        if (!wait_ready(fd, timeout_s)) {
            std::fprintf(stderr, "no ready signal for block %zu\n", i / BLOCK);
            ::close(fd);
            return 1;
        }
        if (::write(fd, d.data() + i, BLOCK) != ssize_t(BLOCK)) return 1;
    }
    if (stopblock) {
        // Holds the next sheet until the slave is done: a 1, then reads 50 ms apart until 0.
        uint8_t c;
        while (::read(fd, &c, 1) != 1) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        while (::read(fd, &c, 1) == 1) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ::close(fd);
    return 0;
}

long ready_count() {
    FILE* f = std::fopen("/sys/class/gpio/pioB5/value", "r");
    if (!f) return -1;
    int level = 0;
    long count = -1;
    if (std::fscanf(f, "%d %ld", &level, &count) != 2) count = -1;
    std::fclose(f);
    return count;
}

int frame(char letter, const uint8_t d[4]) {
    int fd = open_port("/dev/ttyS1");
    if (fd < 0) return 1;
    long before = ready_count();
    uint8_t f[7] = {0x02, uint8_t(letter), d[0], d[1], d[2], d[3], 0x03};
    if (::write(fd, f, 7) != 7) return 1;
    auto deadline = Clock::now() + std::chrono::milliseconds(500);
    while (ready_count() == before && Clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    bool acked = ready_count() != before;
    std::string hex;
    size_t got = 0;
    while (got < 4) {
        struct pollfd p { fd, POLLIN, 0 };
        if (poll(&p, 1, 100) <= 0) break;
        uint8_t c;
        if (::read(fd, &c, 1) != 1) break;
        char h[4];
        std::snprintf(h, sizeof h, "%02x", c);
        hex += h;
        ++got;
    }
    std::printf("%s %s\n", acked ? "ack" : "none", hex.empty() ? "-" : hex.c_str());
    ::close(fd);
    return 0;
}
}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    std::string cmd = argv[1];
    if (cmd == "image" && argc >= 4) return image(argv[2], std::atoi(argv[3]), argc > 4);
    if (cmd == "make" && argc >= 4) {
        std::string layout = opt(argc, argv, "--layout", "normal");
        return make(argv[2], argv[3], std::atoi(opt(argc, argv, "--rs1", "72").c_str()), layout == "battery",
                    int(std::strtol(opt(argc, argv, "--end", "FF").c_str(), nullptr, 16)),
                    std::atoi(opt(argc, argv, "--burn", "300").c_str()));
    }
    if (cmd == "send" && argc >= 3)
        return send(argv[2], flag(argc, argv, "--stopblock"), std::atof(opt(argc, argv, "--timeout", "30").c_str()));
    if (cmd == "probe") {
        int fd = open_port("/dev/slave_hss");
        if (fd < 0) return 1;
        uint8_t c;
        ssize_t a = ::read(fd, &c, 1);
        ssize_t b = ::read(fd, &c, 1);
        std::printf("%zd %zd\n", a, b);
        ::close(fd);
        return 0;
    }
    if (cmd == "take") {
        int fd = open_port("/dev/slave_hss");
        if (fd < 0) return 1;
        bool ok = wait_ready(fd, 10);
        uint8_t c;
        std::printf("took %zd\n", ::read(fd, &c, 1));
        ::close(fd);
        return ok ? 0 : 1;
    }
    if (cmd == "frame" && argc >= 7) {
        uint8_t d[4];
        for (int i = 0; i < 4; ++i) d[i] = uint8_t(std::strtol(argv[3 + i], nullptr, 16));
        return frame(argv[2][0], d);
    }
    return 2;
}
