// Set-up mode and the setting commands of the service language: identity lines, head-life counter,
// paper sensing, Wi-Fi mode, contrast and factory defaults.
#include "veltra_handlers.h"

#include "image_builder.h"
#include "keyfile.h"
#include "settings.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
bool exists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

// The factory set, copied back in this order.
const char* const FACTORY_COPIES[] = {
    "cp /home/factoryDefaults/networkConfig/network_config.cfg /networkConfig/",
    "cp -r /home/factoryDefaults/Wireless/* /etc/Wireless/",
    "cp /home/factoryDefaults/networkConfig/wpa_supplicant.conf /etc/",
    "php /home/access_point_ssid.php",
    "cp /home/factoryDefaults/hexdump_config.cfg /home/",
    "cp /home/factoryDefaults/escpos_emu.cfg /home/",
    "cp /home/factoryDefaults/image_config.cfg /imageConfig/",
    "cp /home/factoryDefaults/bluetooth/blueTooth.cfg /btConfig/",
    ". /home/bluez_update_config.sh",
    "cp /home/factoryDefaults/bluetooth/main.conf /etc/bluetooth/main.conf",
    "cp /home/factoryDefaults/inch_device_config.cfg /home/",
    "cp /home/factoryDefaults/mm_device_config.cfg /home/",
    "cp /home/factoryDefaults/paper_config.cfg /home/",
    "cp /home/factoryDefaults/inch_mark_config.cfg /home/",
    "cp /home/factoryDefaults/mm_mark_config.cfg /home/",
    "cp /home/factoryDefaults/device_config_units.cfg /home/",
    "cp /home/factoryDefaults/default_language.cfg /home/",
    "cp /home/factoryDefaults/selectedLanguage.cfg /home/",
    "sync",
};
}  // namespace

void veltra_draw_item(VeltraState& s, const std::string& label, int value_offset, const std::string& value) {
    if (s.draw && recording_cairo_context) {
        set_font_description("Liberation Mono", 8, 0, 1.0, 1.0);
        fill_pango_layout(s.x_loc, s.y_loc, label.c_str());
        if (!value.empty()) fill_pango_layout(s.x_loc + value_offset, s.y_loc, value.c_str());
    }
    s.y_loc += 30;
}

void veltra_enter_setup(VeltraState& s, const VeltraMatch&, const VeltraJob&) {
    if (check_printing_not_busy(s)) {
        s.SETUP_ENABLE_FLAG = 1;
        dbg("setup mode on\n");
    } else {
        veltra_report(s, "setup mode refused: the printer is busy");
    }
}

void veltra_leave_setup(VeltraState& s, const VeltraMatch&, const VeltraJob&) {
    s.SETUP_ENABLE_FLAG = 0;
    dbg("setup mode off\n");
}

void veltra_identity_line(VeltraState& s, const VeltraMatch& m, const VeltraJob&) {
    if (s.echo) std::fprintf(s.echo, "LINE: %02x\n", m.arg);
    read_identity(s);
    struct Item {
        int n;
        const char* label;
        int offset;
        const std::string* value;
    };
    const Item items[] = {
        {0x02, "model:", 90, &s.printer_model},      {0x03, "company:", 110, &s.manufacture_INFO},
        {0x04, "S/N:", 60, &s.manufacture_SN},       {0x05, "date:", 70, &s.manufacture_DATE},
        {0x12, "firmwareVersion:", 230, &s.firmwareVersion}, {0x14, "slaveVersion:", 190, &s.slaveVersion},
    };
    for (const Item& item : items) {
        if (item.n != m.arg) continue;
        veltra_draw_item(s, item.label, item.offset, *item.value);
        s.print_out_enable_flag = 1;
    }
}

void veltra_clear_head_life(VeltraState& s, const VeltraMatch&, const VeltraJob&) {
    unlink(s.files.headlife.c_str());
    int fd = open(s.files.headlife.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0 || write(fd, "0", 1) != 1) veltra_report(s, "%s: %s", s.files.headlife.c_str(), std::strerror(errno));
    if (fd >= 0) close(fd);
    s.shell("sync");
}

void veltra_paper_sensing(VeltraState& s, const VeltraMatch& m, const VeltraJob&) {
    // Changing the paper mode restarts the print engine (Y): never under a page being printed.
    if (!check_printing_not_busy(s)) {
        veltra_report(s, "paper sensing mode %d refused: the printer is busy", m.arg);
        return;
    }
    veltra_set_key(s, s.files.paper_config, "Paper", "configMarkSeek", m.arg);
    for (const char* line : {"/root/engine_cmd C", "/root/engine_cmd M", "/root/engine_cmd P", "/root/engine_cmd K",
                             "/root/engine_cmd E", "/root/engine_cmd Y"})
        s.shell(line);
}

void veltra_wifi_mode(VeltraState& s, const VeltraMatch& m, const VeltraJob&) {
    s.shell("killall host_link");
    if (m.arg == 1) {
        veltra_set_key(s, s.files.network_config, "NetworkConfig", "LANAddressMethod", "AccessPoint");
        s.shell("/home/access_point_wifi.sh");
    } else if (m.arg == 2) {
        veltra_set_key(s, s.files.network_config, "NetworkConfig", "LANAddressMethod", "DHCP");
        s.shell("/home/udhcp_wifi.sh");
    }
    s.shell("/root/host_link > /dev/null 2>/dev/null &");
}

void veltra_contrast(VeltraState& s, const VeltraMatch& m, const VeltraJob&) {
    std::string preset = s.files.contrast_presets + "/" + std::to_string(m.arg) + ".cfg";
    if (!exists(preset)) {
        veltra_report(s, "contrast %d: no preset %s", m.arg, preset.c_str());
        return;
    }
    s.shell("killall dot_feeder && killall dot_feeder_battery\n");
    std::string why;
    if (!copy_file_whole(preset, s.files.contrast_staging, why) ||
        !move_file(s.files.contrast_staging, s.files.paper_config, why))
        veltra_report(s, "contrast %d: %s", m.arg, why.c_str());
    s.shell("/root/burn_builder");
    s.shell("/root/engine_cmd Y");
    s.sleep(50);
    s.shell("/root/engine_cmd R 1");
}

void veltra_factory_defaults(VeltraState& s, const VeltraMatch&, const VeltraJob&) {
    for (const char* line : FACTORY_COPIES) s.shell(line);
    for (const char* line : {"/root/engine_cmd C", "/root/engine_cmd M", "/root/engine_cmd P", "/root/engine_cmd E",
                             "/root/burn_builder", "/root/engine_cmd Y"})
        s.shell(line);
    s.sleep(50);
    s.shell("/root/engine_cmd R 1");
}

void veltra_accept(VeltraState&, const VeltraMatch&, const VeltraJob&) {}
