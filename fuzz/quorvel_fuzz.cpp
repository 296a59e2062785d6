// quorvel_interp's scanner: one input is one job, scanned from start to end with every command
// family (text, pitches, barcodes, raster graphics and their continuations, logos), with a fresh
// interpreter state every time. Pages, logos and the logo table go to the fuzz root.
#include "fuzz_support.h"

#include "image_builder.h"
#include "quorvel.h"
#include "render_symbols.h"

#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>

namespace {
std::string images, triggers, logos, source;
QuorvelState configured;  // the settings files read once; every input starts from a copy

// Stands in for the print engine: a job with several pages (or contrast commands) waits for each
// dot image (and contrast trigger) to be taken before it writes the next. It keeps its own copies
// of the folder names: it runs until the process is gone.
void take_pages(std::string images, std::string triggers) {
    int fd = inotify_init1(IN_CLOEXEC);
    inotify_add_watch(fd, images.c_str(), IN_CLOSE_WRITE | IN_MOVED_TO);
    inotify_add_watch(fd, triggers.c_str(), IN_CLOSE_WRITE | IN_MOVED_TO);
    alignas(struct inotify_event) char buf[4096];
    for (;;) {
        struct pollfd p {fd, POLLIN, 0};
        poll(&p, 1, 50);
        if (p.revents & POLLIN) (void)!read(fd, buf, sizeof buf);
        fuzz_empty_dir(images);
        fuzz_empty_dir(triggers);
    }
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    images = fuzz_dir("dot_feeder_intake");
    triggers = fuzz_dir("imstart_intake");
    logos = fuzz_dir("logos");
    PATH_TO_DOTIMAGE_FILES = images;
    IMSTART_INTAKE_FOLDER = triggers;
    IMSTART_TRIGGER_FILENAME = "imstart";
    PATH_TO_BARCODE_SVG = fuzz_root() + "/barcode.svg";
    PAPER_CONFIG_FILEPATH = fuzz_root() + "/paper_config.cfg";
    nameBuff = images + "/dotimage-zzzzzz.pbm";
    if (const char* src = std::getenv("PRINTER_SOURCE_DIR")) source = src;
    init_rendering_system();
    text_get_layout_dimensions("fonts loaded once, before the first input", 0);
    std::thread(take_pages, images, triggers).detach();

    QuorvelState& q = configured;
    q.paths.font_map = source + "/rootfs/home/quorvel_font_map.cfg";
    q.paths.font_names = source + "/rootfs/imageConfig/font_list";
    q.paths.font_web_table = "";
    q.paths.image_config = fuzz_root() + "/no_image_config.cfg";
    q.paths.logo_list = fuzz_root() + "/logo_list";
    q.paths.logos = logos;
    q.paths.logos_web = fuzz_dir("logosWeb");
    q.paths.header_pbm = logos + "/header.pbm";
    q.paths.footer_pbm = logos + "/footer.pbm";
    q.shell = [](const char*) { return 0; };
    load_font_map(q);
    load_font_table(q);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    QuorvelState q = configured;
    load_logo_table(q);  // as the inputs before left it
    process_job_bytes(q, data, size);
    return 0;
}
