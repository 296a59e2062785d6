// Dot images: binary PBM ("P4") files, one bit per head dot, most significant bit leftmost,
// 1 = heat. Two header forms are written and both are read: "P4\n%04d %05d\n" and "P4\n%d %d\n".
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

inline constexpr int HEAD_DOTS = 1728;
inline constexpr int BYTES_PER_LINE = 216;
inline constexpr int LINES_PER_INCH = 203;
inline constexpr int MAX_PRINT_LENGTH_INCHES = 32;
inline constexpr size_t PBM_BUFFER_SIZE = size_t(BYTES_PER_LINE) * LINES_PER_INCH * MAX_PRINT_LENGTH_INCHES;  // 1403136
inline constexpr int MAX_IMAGE_ROWS = int(PBM_BUFFER_SIZE / BYTES_PER_LINE);                                  // 6496
inline constexpr int SHEET_MAX_ROWS = 2240;  // cut-sheet paper (configMarkSeek 2)

struct DotImageInfo {
    int width = 0;
    int height = 0;         // as the header says
    size_t header_len = 0;  // bytes before the raster
    size_t raster_len = 0;  // file length less the header
};

// Parses the header at the start of buf. Returns false for anything that is not "P4\n<w> <h>\n".
bool parse_dot_image_header(const uint8_t* buf, size_t len, DotImageInfo& info);

// Opens the file "rb", retrying every 100 ms while it cannot be opened (retries further tries;
// with announce each retry prints "open %s try : %d \n"). Returns nullptr when it never opens.
FILE* open_dot_image(const std::string& path, int retries, bool announce);

// Reads the header of an image file. Returns false when it cannot be opened or parsed.
bool probe_dot_image(const std::string& path, DotImageInfo& info, int retries = 30, bool announce = false);

// Rows of an image that the print engine takes: with mark_seek 2 at most 2240 rows; never more
// than the raster holds, nor more than `room` bytes (the free part of the ring).
int dot_image_rows_to_take(const DotImageInfo& info, int mark_seek, size_t room, int bytes_per_row = BYTES_PER_LINE);

// Reads the raster of an image into dst (room bytes available). Returns the number of rows read
// (0 when the file cannot be opened or parsed).
int read_dot_image(const std::string& path, uint8_t* dst, size_t room, int mark_seek, int retries = 30,
                   bool announce = false);

// Header text: "P4\n%04d %05d\n" (padded) or "P4\n%d %d\n".
std::string dot_image_header(int width, int height, bool padded);

// Writes a complete image (header and height × width/8 bytes) to an open stream.
bool write_dot_image(FILE* f, int width, int height, const uint8_t* raster, bool padded);
bool write_dot_image_file(const std::string& path, int width, int height, const uint8_t* raster, bool padded);

// Bit reversal within each byte: image surfaces hold the leftmost pixel in the least significant
// bit; dot images in the most significant one.
uint8_t reverse8(uint8_t b);
void reverse_bits(uint8_t* bytes, size_t n);
