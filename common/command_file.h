// Command files: 7 bytes (STX, letter, d0..d3, ETX) at "/tmp/command_intake/command-%c". The same
// 7 bytes are the frame that engine_watch sends to the slave. Removal by engine_watch is the
// acknowledgement.
#pragma once

#include <array>
#include <cstdint>
#include <string>

inline constexpr uint8_t STX = 0x02;
inline constexpr uint8_t ETX = 0x03;
inline constexpr const char* COMMAND_INTAKE = "/tmp/command_intake";

using CommandFrame = std::array<uint8_t, 7>;

CommandFrame command_frame(char letter, const std::array<uint8_t, 4>& data);

// "<folder>/command-<letter>"
std::string command_file_path(const std::string& folder, char letter);

// The waiting writer (engine_cmd): creates the folder with the fixed "mkdir <folder>" line when it
// is missing, waits (20 ms polls) while a file for the same letter exists, then writes the 7 bytes
// in one write. Returns false when the file could not be written (the command is dropped).
// With wait_for_previous false a pending file of the same letter is replaced instead.
bool write_command_file_waiting(const std::string& folder, const CommandFrame& frame, bool wait_for_previous = true);

// The immediate writer (dot_feeder, host_link): opens "/tmp/command_intake/command-%c" "w" at once
// and writes STX, letter, four zero bytes, ETX. A file that cannot be created drops the command.
bool write_command_file_now(char letter);
