// Raster pages on TCP port 9100 (Wi-Fi mode): a greyscale page as a binary PGM file becomes a dot
// image in the print engine's intake, with no interpreter involved.
//
// Accepted layout: a first line (the magic number line, skipped); the width in decimal digits, one
// blank, the height in decimal digits; then either a blank and the rest of that line (the maximum
// grey value, not used) or a line end and a line holding the maximum grey value; then width x
// height bytes of grey, rows top to bottom, 0 black. Width 1..1728, height 1..99999, and the pixel
// data complete; any other page is refused (and logged) instead of printed.
//
// The page is centred on the 1728-dot head (left margin (1728 - width) / 16 bytes, the rest right);
// a pixel darker than the threshold prints. The threshold follows the page's mean grey m: m - 20
// above 240, m - 25 above 200, m - 35 above 50, else m itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

inline constexpr int RASTER_PORT = 9100;
inline constexpr int RASTER_HEAD_WIDTH = 1728;
inline constexpr int RASTER_MAX_HEIGHT = 99999;  // the dot image header holds five digits

struct PgmPage {
    int width = 0;
    int height = 0;
    long data_offset = 0;  // where the pixels begin
};

// Parses the header at the start of the file; false with the reason when the page is refused.
bool parse_pgm_header(FILE* f, PgmPage& page, std::string& why);
int raster_threshold(int mean);
// Left and right margins in bytes for a page of this width.
void raster_margins(int width, int& left, int& right);

// Converts the PGM file into a dot image at pbm_path. The image is written under a temporary name
// in the same folder and renamed into place (still open, so the print engine's close event names
// the finished file) once the previous image of that name has been taken; a long wait for that is
// reported. Returns 0, or -1 when the page is refused or cannot be written (the reason is logged).
int pgm_to_pbm(const std::string& pgm_path, const std::string& pbm_path);

// Waits until path does not exist; reports every report_s seconds while it does. wait_ms < 0:
// without limit. Returns true when it is gone.
bool wait_until_gone(const std::string& path, long wait_ms, int report_s = 10);

// The raster port server (read_WIFI_CUPS_pthrd); never returns.
void read_WIFI_CUPS();
void* read_WIFI_CUPS_pthrd(void*);
