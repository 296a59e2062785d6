// engine_cmd: writes one command file for engine_watch to send to the slave.
//   engine_cmd <letter> [argument] [argument]
#include "command_file.h"
#include "engine_cmd_frame.h"

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    if (argc < 2 || argv[1][0] == '\0') return 0;
    char letter = argv[1][0];
    const char* arg2 = argc > 2 ? argv[2] : nullptr;
    const char* arg3 = argc > 3 ? argv[3] : nullptr;

    EngineCmdSettings s = load_engine_cmd_settings(letter);
    auto frame = engine_cmd_frame(letter, arg2, arg3, s);
    if (!frame) {
        bool known = std::strchr("ABCDEFGHJKMNPQRSTUXYZ", letter) != nullptr;
        if (!known && s.DEBUG_MSG == 1) std::printf("Invalid command %c\n", letter);
        return 0;
    }
    write_command_file_waiting(COMMAND_INTAKE, *frame);
    // The copy of G in /command_intake is for an outside reader that may never take it: it is
    // replaced rather than waited for, or every later G would hang here.
    if (letter == 'G') write_command_file_waiting("/command_intake", *frame, false);
    return 0;
}
