#include "command_file.h"

#include "run.h"

#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

CommandFrame command_frame(char letter, const std::array<uint8_t, 4>& data) {
    return {STX, static_cast<uint8_t>(letter), data[0], data[1], data[2], data[3], ETX};
}

std::string command_file_path(const std::string& folder, char letter) {
    return folder + "/command-" + letter;
}

namespace {
bool write_frame(const std::string& path, const CommandFrame& frame) {
    FILE* f = std::fopen(path.c_str(), "w");
    if (!f) return false;
    bool ok = std::fwrite(frame.data(), 1, frame.size(), f) == frame.size();
    ok = (std::fflush(f) == 0) && ok;
    return (std::fclose(f) == 0) && ok;
}
}  // namespace

bool write_command_file_waiting(const std::string& folder, const CommandFrame& frame, bool wait_for_previous) {
    struct stat st {};
    if (stat(folder.c_str(), &st) != 0) run_shell("mkdir " + folder);
    std::string path = command_file_path(folder, static_cast<char>(frame[1]));
    while (wait_for_previous && access(path.c_str(), F_OK) == 0) sleep_ms(20);
    return write_frame(path, frame);
}

bool write_command_file_now(char letter) {
    return write_frame(command_file_path(COMMAND_INTAKE, letter), command_frame(letter, {0, 0, 0, 0}));
}
