// Stored raster images: the graphics print buffer "/tmp/graphic_tmp" and the NV graphics files
// "/home/nv_graphics/<key code 1><key code 2>" (both decimal). Layout of a stored file:
//   0  2  width in dots, little-endian
//   2  2  height in rows
//   4  2  padded row width in dots (a multiple of 32)
//   6  .. rows top to bottom: the host's (width + 7) / 8 bytes bit-reversed (leftmost dot in
//         bit 0), then zero bytes up to a multiple of 4
#pragma once

#include "escpos_state.h"

#include <string>

namespace escpos {

// What is kept of a host image of width x height: at most the paper's width and at most
// OUTPUT_IMAGE_BYTES of padded rows (the rest of the host's data is read and dropped).
struct StoredLayout {
    long width = 0, height = 0;
    int row_bytes = 0;     // data bytes of a kept row
    int padded_bytes = 0;  // with the padding
};
StoredLayout stored_layout(long width, long height);

// Reads an image of width x height from the input (rows of (width + 7) / 8 bytes) and stores it at
// `path`. A file that cannot be created still has its data read; false then.
bool store_raster_image(EscposState& st, const std::string& path, long width, long height);
// Paints the stored image at `path` at the fill position and print position; the canvas reaches
// below it. A missing file, or one whose header does not describe exactly its size, prints
// nothing (false). `height` gets the rows printed.
bool print_raster_image(EscposState& st, const std::string& path, int* height);

}  // namespace escpos
