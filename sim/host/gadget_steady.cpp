// libgadget_steady.so: preloaded into host_link by tests that need a USB host that never pauses.
//
// A real host on the bus refills the gadget faster than the printer's processor empties it, so a
// job sent in one go never shows the printer an empty gadget before its end. The virtual
// printer's gadget is a pseudo-terminal that holds about 12 KiB; on a busy machine the simulated
// host can lose the processor long enough for host_link to empty it and take that for the end of
// the job. With this library preloaded, a read of a terminal that finds nothing while
// "usb_host send" is still sending (its mark /sim/usb_host/sending exists) waits for the data
// instead; once the host has finished, an empty gadget reads as empty again.
#include <cerrno>
#include <dlfcn.h>
#include <poll.h>
#include <unistd.h>

namespace {
using read_fn = ssize_t (*)(int, void*, size_t);

bool host_sending() { return access("/sim/usb_host/sending", F_OK) == 0; }
}  // namespace

extern "C" ssize_t read(int fd, void* buf, size_t count) {
    static read_fn real_read = reinterpret_cast<read_fn>(dlsym(RTLD_NEXT, "read"));
    ssize_t r = real_read(fd, buf, count);
    if (r >= 0 || errno != EAGAIN || !isatty(fd)) return r;
    while (host_sending()) {
        struct pollfd p {fd, POLLIN, 0};
        poll(&p, 1, 5);
        r = real_read(fd, buf, count);
        if (r >= 0 || errno != EAGAIN) return r;
    }
    errno = EAGAIN;
    return -1;
}
