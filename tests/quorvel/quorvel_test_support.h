// A line-printer interpreter in the test process: a fresh state whose files live in a temporary
// folder, jobs scanned from bytes, the fixed command lines recorded instead of run, and helpers
// that read the paper back (barcode decoders, tesseract).
#pragma once

#include "quorvel.h"
#include "render_test_support.h"

#include <string>
#include <vector>

// A string of bytes that may hold NUL.
#define BYTES(literal) std::string(literal, sizeof(literal) - 1)

class QuorvelTest : public RenderTest {
protected:
    QuorvelState q;
    static std::vector<std::string> shell_lines;
    void SetUp() override;
    // Scans the job; returns the dot images written (taken as the print engine takes them).
    std::vector<DotImage> print(const std::string& job);
    // The job's only dot image (the test fails unless there is exactly one).
    DotImage page(const std::string& job);
    int count_shell(const std::string& line) const;
};

// Head-wide raster rows for the graphics commands.
std::string uncompressed_block(const std::vector<std::vector<uint8_t>>& rows, int bytes_per_row);
// Runs of the compressed form for the same rows: repeats of equal bytes, literal stretches between.
std::string compressed_block(const std::vector<std::vector<uint8_t>>& rows, int bytes_per_row);

// The image as a grey map (optionally a part of its rows), enlarged `scale` times, with a white border.
void write_grey_map(const DotImage& img, const std::string& path, int top = 0, int bottom = -1, int scale = 1,
                    int border = 20);
// What zbarimg decodes in the image: "TYPE:data" lines.
std::string decode_barcodes(const DotImage& img, const std::string& folder);
// What tesseract reads in rows top..bottom of the image, blanks and line ends removed.
std::string read_text(const DotImage& img, const std::string& folder, int top = 0, int bottom = -1);
