// veltra_interp's scanner: one input is one job of the service language, run through the scanner
// and every handler it reaches (set-up commands, TAR_ENABLE, the archive check of ESC 9 B1 B1, the
// slave firmware form) with a fresh state every time. Key files, the archive, the package and its
// backup live in the fuzz root; no other program is run and no wait takes time.
#include "fuzz_support.h"

#include "veltra_job.h"
#include "veltra_state.h"

#include "files.h"
#include "image_builder.h"
#include "render_symbols.h"

#include <cstdint>
#include <cstdio>
#include <string>

namespace {
std::string root, images, triggers, job;

const char* const PAPER = "[Paper]\nconfigContrast=5\nconfigMarkSeek=0\n";
const char* const NETWORK = "[NetworkConfig]\nLANAddressMethod=DHCP\nconfigPort=6101\n";
const char* const IMAGE = "[Image]\nconfigEmulation=ZPL\nconfigFontFamily=Liberation Mono\n";
const char* const OEM = "[CompanyInfo]\ncompanyUSBManufactuer=Maker\n[PrinterInfo]\nprinterName=KVX8\n"
                        "firmwareVersion=01.05.00.00\nslaveVersion=01.10.00.00\n";
const char* const SERIAL = "[Serial Number]\nconfigSN=10000001\n[MANUFACTURE_DATE]\nMF_DATE=2024-05-17\n";

std::string in_root(const char* name) { return root + "/" + name; }
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    root = fuzz_dir("veltra");
    images = fuzz_dir("veltra/dot_feeder_intake");
    triggers = fuzz_dir("veltra/imstart_intake");
    fuzz_dir("veltra/engine_intake");
    fuzz_dir("veltra/contrast");
    write_file_whole(in_root("contrast/7.cfg"), PAPER);
    PATH_TO_DOTIMAGE_FILES = images;
    IMSTART_INTAKE_FOLDER = triggers;
    IMSTART_TRIGGER_FILENAME = "imstart";
    PATH_TO_BARCODE_SVG = in_root("barcode.svg");
    PAPER_CONFIG_FILEPATH = in_root("paper_config.cfg");
    nameBuff = images + "/dotimage-zzzzzz.pbm";
    job = in_root("engine_intake/printjob-1");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The files a job may change start as the device has them.
    write_file_whole(in_root("paper_config.cfg"), PAPER);
    write_file_whole(in_root("network_config.cfg"), NETWORK);
    write_file_whole(in_root("image_config.cfg"), IMAGE);
    write_file_whole(in_root("oem_config.cfg"), OEM);
    write_file_whole(in_root("serial_number.cfg"), SERIAL);
    write_file_whole(in_root("return.dat"), "00000000000000.00.00.00");
    fuzz_dir("veltra/package");

    VeltraState s;
    VeltraFiles& f = s.files;
    f.engine_intake = in_root("engine_intake");
    f.return_dat = in_root("return.dat");
    f.oem_config = in_root("oem_config.cfg");
    f.serial_number = in_root("serial_number.cfg");
    f.paper_config = in_root("paper_config.cfg");
    f.network_config = in_root("network_config.cfg");
    f.image_config = in_root("image_config.cfg");
    f.label_config = in_root("label_config.cfg");
    f.headlife = in_root("liferecode");
    f.emulation_list = in_root("emulation_list");
    f.contrast_presets = in_root("contrast");
    f.contrast_staging = in_root("paper_staging.cfg");
    f.archive = in_root("rfs.tgz");
    f.package = in_root("package");
    f.backup = in_root("backup");
    f.extract_root = in_root("extracted");
    f.slave_firmware_folder = in_root("slave_firmware");
    f.slave_firmware = in_root("SAM3_FIRMWARE");
    f.ackfile = in_root("ackfile");
    f.data_port = in_root("data_port");
    s.shell = [](const std::string&) { return 0; };
    s.program = [](const std::vector<std::string>&) { return 0; };  // no extraction
    s.sleep = [](long) {};
    s.echo = nullptr;
    s.ack_timeout_ms = 0;
    s.answer_timeout_ms = 0;
    s.data_port_timeout_ms = 0;

    write_file_whole(job, std::string(reinterpret_cast<const char*>(data), size));
    veltra_process_job(s, job);
    // An identity line arms the page for every later job: a second job takes that path too.
    if (s.print_out_enable_flag && !s.parked) {
        fuzz_empty_dir(images);
        fuzz_empty_dir(triggers);
        write_file_whole(job, "second job");
        veltra_process_job(s, job);
    }
    discard_render_state();
    fuzz_empty_dir(images);
    fuzz_empty_dir(triggers);
    std::remove(f.archive.c_str());
    return 0;
}
