#include "zpl_test_support.h"

#include "image_builder.h"
#include "zpl_input.h"
#include "zpl_label.h"
#include "zpl_lexer.h"
#include "zpl_state.h"

#include <algorithm>
#include <deque>

namespace {
std::deque<std::string> pending_jobs;
std::vector<int>* delivery_log = nullptr;
std::string delivery_images;

bool deliver_next_job() {
    if (pending_jobs.empty()) return false;
    if (delivery_log) delivery_log->push_back(int(dot_images_in(delivery_images).size()));
    std::string next = pending_jobs.front();
    pending_jobs.pop_front();
    EXPECT_EQ(put_data_charbuf(next.c_str()), 0) << next;
    return true;
}
}  // namespace

std::vector<std::string> ZplTest::shell_lines;

void ZplTest::SetUp() {
    RenderTest::SetUp();
    shell_lines.clear();
    zpl_shell = [](const char* line) {
        shell_lines.emplace_back(line);
        return 0;
    };
    zpl_stop_when_dry = true;
    // Every folder of the interpreter below the test's own (stored objects included), the state
    // of a freshly started interpreter with the built-in settings.
    zpl_use_folders_under(dir.path);
    FONTS_LIST_PATH = std::string(PRINTER_SOURCE_DIR) + "/rootfs/usr/share/fontslist";
    write_text_file(PAPER_CONFIG_FILEPATH, "[Paper]\nconfigContrast=5\n");
    zpl_fresh_state();
}

void ZplTest::run_jobs(const std::vector<std::string>& files) {
    pending_jobs.assign(files.begin(), files.end());
    images_when_delivered.clear();
    delivery_log = &images_when_delivered;
    delivery_images = images;
    zpl_refill = deliver_next_job;
    zpl_run_until_dry();
    zpl_refill = nullptr;
    delivery_log = nullptr;
    pending_jobs.clear();
}

void ZplTest::TearDown() {
    label_scale = 1;
    RenderTest::TearDown();
}

void ZplTest::feed(const std::string& bytes) {
    ring_put(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

void ZplTest::run(const std::string& bytes) {
    feed(bytes);
    zpl_run_until_dry();
}

DotImage ZplTest::label(const std::string& zpl) {
    run(zpl);
    return take_image();
}

int ZplTest::count_shell(const std::string& line) const {
    return int(std::count(shell_lines.begin(), shell_lines.end(), line));
}
