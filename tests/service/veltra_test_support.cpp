#include "veltra_test_support.h"

#include "veltra_job.h"

#include "image_builder.h"
#include "run.h"

#include <filesystem>

namespace fs = std::filesystem;

void VeltraTest::SetUp() {
    RenderTest::SetUp();
    root = dir.path + "/root";
    const std::string image = std::string(PRINTER_SOURCE_DIR) + "/rootfs";
    for (const char* d : {"/home", "/home/contrast", "/networkConfig", "/imageConfig", "/headlife", "/tmp/engine_intake",
                          "/package", "/slave_firmware", "/dev"})
        fs::create_directories(root + d);
    for (const char* f : {"/home/paper_config.cfg", "/home/oem_config.cfg", "/home/serial_number.cfg",
                          "/home/label_config.cfg", "/home/emulation_list", "/networkConfig/network_config.cfg",
                          "/imageConfig/image_config.cfg"})
        fs::copy_file(image + f, root + f);
    for (int n = 1; n <= 10; ++n) {
        std::string f = "/home/contrast/" + std::to_string(n) + ".cfg";
        fs::copy_file(image + f, root + f);
    }
    write_text_file(root + "/package/version", "old package\n");

    s = std::make_unique<VeltraState>();
    VeltraFiles& f = s->files;
    for (std::string* p : {&f.engine_intake, &f.return_dat, &f.oem_config, &f.serial_number, &f.paper_config,
                           &f.network_config, &f.image_config, &f.label_config, &f.headlife, &f.emulation_list,
                           &f.contrast_presets, &f.contrast_staging, &f.archive, &f.package, &f.backup,
                           &f.slave_firmware_folder, &f.slave_firmware, &f.ackfile, &f.data_port})
        *p = root + *p;
    f.extract_root = root;
    PAPER_CONFIG_FILEPATH = f.paper_config;
    s->shell = [this](const std::string& line) {
        lines.push_back(line);
        if (on_line) on_line(line);
        return 0;
    };
    run_program = [](const std::vector<std::string>& argv) {
        // tar's listing ("v") is not wanted in the test output.
        std::vector<std::string> quiet = argv;
        if (quiet.size() > 1 && quiet[0] == "tar") quiet[1] = "xpzf";
        return run_argv(quiet);
    };
    s->program = [this](const std::vector<std::string>& argv) {
        programs.push_back(argv);
        return run_program(argv);
    };
    s->sleep = [](long) {};
    echo_ = open_memstream(&echo_data_, &echo_size_);
    s->echo = echo_;
}

void VeltraTest::TearDown() {
    s.reset();
    if (echo_) std::fclose(echo_);
    std::free(echo_data_);
    PAPER_CONFIG_FILEPATH = "/home/paper_config.cfg";
    RenderTest::TearDown();
}

void VeltraTest::job(const std::string& bytes) {
    static int n = 0;
    std::string path = s->files.engine_intake + "/printjob-" + std::to_string(++n);
    write_text_file(path, bytes);
    veltra_process_job(*s, path);
    EXPECT_FALSE(file_exists(path)) << "the job file is deleted";
    last_trigger = take_trigger();  // taken as the print engine takes it
}

void VeltraTest::set_busy(bool busy) {
    write_text_file(s->files.return_dat, busy ? "00010000000000.00.00.00" : "00000000000000.00.00.00");
}

bool VeltraTest::ran(const std::string& line) const { return count(line) > 0; }

int VeltraTest::count(const std::string& line) const {
    int n = 0;
    for (const auto& l : lines) n += l == line;
    return n;
}

std::vector<std::string> VeltraTest::actions(size_t from) const {
    std::vector<std::string> out;
    for (size_t i = from; i < lines.size(); ++i) {
        const std::string& l = lines[i];
        if (l == "sync" || l == "sync\n" || l == "/root/engine_cmd A") continue;
        out.push_back(l);
    }
    return out;
}

std::string VeltraTest::echoed() {
    std::fflush(echo_);
    return std::string(echo_data_ ? echo_data_ : "", echo_size_);
}
