// Reading dot images into the line ring.
#pragma once

#include <cstdint>
#include <string>

namespace engine {

// Rows the engine takes from an image: its height, cut to 2240 rows with mark_seek 2, to the rows
// its raster really holds and to the ring (6496 rows). 0 when the file cannot be opened (after
// `retries` further tries 100 ms apart) or its header is not a dot image header.
int get_pbm_file_lines(const std::string& path, int mark_seek, int retries, bool announce);

// Reads `rows` rows of the image into dst (216 bytes a row). An image narrower than the head is
// placed at the left with blank dots after it; a wider one is cut at the head's width. Returns
// the rows read.
int read_pbm_file(uint8_t* dst, const std::string& path, int rows, int retries);

}  // namespace engine
