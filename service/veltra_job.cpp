// The job cycle of the service language and its page output.
#include "veltra_job.h"

#include "veltra_firmware.h"
#include "veltra_scanner.h"

#include "image_builder.h"
#include "keyfile.h"
#include "settings.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

void veltra_load_settings(VeltraState& s) {
    load_render_image_config(s.files.image_config);
    std::string units = read_units();
    KeyFile form(device_config_path(units.empty() ? "inch" : units));
    double margin = form.get_double("Form", "configLeftMargin");
    currentLeftMargin = units == "mm" ? margin * PRINTHEAD_DPI / 25.4 : margin * PRINTHEAD_DPI;
    currentMarkSeek = key_int(s.files.paper_config, "Paper", "configMarkSeek");
    currentLabelLength = key_int(s.files.label_config, "LabelConfig", "LabelLength");
    label_scale = 1;
    feel_paper_out = 0;
    label_top = 0;
}

void veltra_process_job(VeltraState& s, const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        dbg("intake: %s is gone or not a file; skipped\n", path.c_str());
        return;
    }
    if (s.UPLOAD_TAR_FILE_FLAG) {
        install_archive_job(s, path);
        unlink(path.c_str());
        return;
    }
    s.x_loc = 10;
    s.y_loc = 0;
    clock_gettime(CLOCK_MONOTONIC, &start);
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        std::perror(path.c_str());
        unlink(path.c_str());
        return;
    }
    if (s.draw) {
        discard_render_state();
        new_render_state();
    }
    {
        JobReader reader(fd);
        veltra_scan(s, reader, path);
    }
    close(fd);
    unlink(path.c_str());
    if (s.parked) {
        if (s.draw) discard_render_state();
        return;
    }
    s.shell("sync\n");
    label_length = s.y_loc;
    if (s.print_out_enable_flag && s.draw) {
        set_current_contrast(get_default_contrast());
        render_image_as_dotimage();
    } else {
        s.shell("/root/engine_cmd B 0");
        if (s.draw) discard_render_state();
    }
}
