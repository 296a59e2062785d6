// boot_supervisor: one pass at power-up, after engine_watch runs. Empties the hand-over folders,
// refreshes the slave version, sets the host name, starts the print engine, the default
// interpreter and (through the interface script) host_link, records the MAC address of the active
// wireless interface, and brings up IP over USB when the slave did not answer.
#include "boot_steps.h"
#include "folder.h"
#include "keyfile.h"
#include "run.h"
#include "settings.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <net/if.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {
const char* const OEM_CONFIG = "/home/oem_config.cfg";
const char* const SERIAL_NUMBER_CONFIG = "/home/serial_number.cfg";
const char* const SLAVE_VERSION_FILE = "/tmp/slave_version.txt";
const char* const HOSTNAME_FILE = "/etc/hostname";
const char* const WIFI_MAC_FILE = "/home/wifiMAC.cfg";
const char* const BT_MAC_FILE = "/home/btMAC.cfg";
constexpr size_t NAME_MAX_CHARS = 32;

GlobalDefines g;
int SLAVE_FAIL = 0;
std::string defaultEmulation;
std::string configSN, printerName, currentInterface;

// Removes the files directly inside a folder (sub-folders stay), except the entry named keep. A
// folder that is there but cannot be read whole is reported (what it left may print again).
void empty_folder(const char* folder, const char* keep = nullptr) {
    if (remove_folder_files(folder, keep) < 0 && errno != ENOENT) report_folder_error("boot_supervisor", folder);
}

// A fixed command line run through the shell in a process group of its own, not waited for.
pid_t start_shell_group(const char* line) {
    pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        execl("/bin/sh", "sh", "-c", line, static_cast<char*>(nullptr));
        _exit(127);
    }
    return pid;
}

// Ends (if still running) and reaps the requests started by start_shell_group.
void finish_shell_groups(std::vector<pid_t>& pids) {
    for (pid_t pid : pids) {
        if (pid <= 0) continue;
        if (waitpid(pid, nullptr, WNOHANG) == 0) {
            kill(-pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }
    pids.clear();
}

std::string read_head(const char* path, size_t max) {
    std::string s;
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return s;
    s.resize(max);
    ssize_t n = read(fd, s.data(), max);
    close(fd);
    s.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return s;
}

// The slave version: asks engine_watch ("/root/engine_cmd D") and waits about 1.1 s for a
// complete answer, asking again on the fifth wait. A request that cannot even be queued (engine_watch
// not taking command files) is abandoned with the wait, so start-up never hangs on the slave.
void update_slave_version() {
    KeyFile oem(OEM_CONFIG);
    std::string stored = oem.get_string("PrinterInfo", "slaveVersion");
    std::vector<pid_t> requests;
    requests.push_back(start_shell_group("/root/engine_cmd D\n"));
    std::string version;
    int waits = 0;
    for (;;) {
        version = complete_slave_version(read_head(SLAVE_VERSION_FILE, 21));
        if (!version.empty()) break;
        sleep_ms(100);
        ++waits;
        if (waits == 5) requests.push_back(start_shell_group("/root/engine_cmd D\n"));
        if (waits >= 11) {
            SLAVE_FAIL = 1;
            break;
        }
    }
    finish_shell_groups(requests);
    if (SLAVE_FAIL) {
        dbg("slave version: no answer\n");
        return;
    }
    if (stored.compare(0, 21, version, 0, 21) != 0) {
        oem.set_string("PrinterInfo", "slaveVersion", version);
        oem.save(OEM_CONFIG);
    }
}

void update_host_name() {
    std::string host_name = compose_host_name(printerName, configSN);
    if (host_name_matches(read_head(HOSTNAME_FILE, 32), host_name)) return;
    if (FILE* f = std::fopen(HOSTNAME_FILE, "w")) {
        std::fprintf(f, "%s\n", host_name.c_str());
        std::fclose(f);
    }
    sleep_ms(1000);
    run_shell(". /home/bluez_update_config.sh");
    run_shell("php /home/access_point_ssid.php");
}

void record_wifi_mac() {
    std::string stored = key_string(WIFI_MAC_FILE, "MACAddress", "WIFI_ADDR");
    int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (s < 0) return;
    struct ifreq ifr {};
    std::snprintf(ifr.ifr_name, sizeof ifr.ifr_name, "%s", "wlan0");
    int rc = ioctl(s, SIOCGIFHWADDR, &ifr);
    close(s);
    if (rc != 0) return;
    std::string address = format_mac(reinterpret_cast<unsigned char*>(ifr.ifr_hwaddr.sa_data));
    if (address != stored) write_mac_record(WIFI_MAC_FILE, "WIFI_ADDR", address);
}

void record_bt_mac() {
    std::string stored = key_string(BT_MAC_FILE, "MACAddress", "BT_ADDR");
    std::string address;
    if (currentInterface == "BT") {
        run_shell("hcitool dev | grep hci0 > /tmp/bluetooth_mac");
        std::string text = read_head("/tmp/bluetooth_mac", 256);
        address = bluetooth_address_from_line(text);
    } else {
        run_shell("killall host_link");
        sleep_ms(1000);
        run_shell("/root/NSCBT_setup R");
        sleep_ms(3000);
        address = key_string(g.BT_MAC_FILEPATH, "MACAddress", "BT_ADDR");
        run_shell("/root/NSCBT_setup W");
        sleep_ms(3000);
        run_shell("/root/host_link &");
    }
    if (address != stored) write_mac_record(BT_MAC_FILE, "BT_ADDR", address);
}

void record_mac_address() {
    if (currentInterface == "WIFI") record_wifi_mac();
    else if (currentInterface == "BT" || currentInterface == "NSCBT") record_bt_mac();
}
}  // namespace

int main() {
    // 1-2. Hand-over folders left from the previous run; the reprint folder stays.
    empty_folder("/command_intake");
    empty_folder("/engine_intake");
    empty_folder("/emuIntake");
    empty_folder("/jobIntake", "reprint");

    // 3. Settings, serial number, printer name.
    init_global_defines(g);
    g_debug_msg = g.DEBUG_MSG;
    configSN = key_string(SERIAL_NUMBER_CONFIG, "Serial Number", "configSN");
    printerName = key_string(OEM_CONFIG, "PrinterInfo", "printerName");

    // 4. Slave version.
    update_slave_version();

    // 5. Default emulation (at most 32 characters).
    defaultEmulation = key_string(g.IMAGE_CONFIG_FILEPATH, "Image", "configEmulation").substr(0, NAME_MAX_CHARS);

    // 6-7. USB gadget, interface configuration.
    run_shell("php /home/modprobeUSB.php &");
    run_shell("php /home/update_interface_config.php");
    currentInterface = key_string(g.INTERFACE_CONFIG_FILEPATH, "Interface", "configInterface");

    // 8. Host name.
    update_host_name();

    // 9-11. Print engine, default interpreter, host link.
    run_shell("/root/dot_feeder &");
    run_argv({"/home/start_emulation.sh", defaultEmulation});
    run_shell("php /home/interface_launch.php");

    // 12. MAC address of the active wireless interface.
    record_mac_address();

    // 13. No slave: IP over USB for service access.
    if (SLAVE_FAIL) {
        sleep_ms(3000);
        run_shell("php /home/ipoverusbUP.php &");
    }
    return 0;
}
