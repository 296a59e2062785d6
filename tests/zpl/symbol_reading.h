// Reading a page back as a scanner and a reader would: every symbol decoded with the zxing-cpp
// Python binding (zbarimg for the linear symbols as a second opinion), text through tesseract.
#pragma once

#include "render_test_support.h"

#include <string>
#include <vector>

struct ReadSymbol {
    std::string format;      // "Code128", "QRCode", "DataMatrix", ...
    std::string identifier;  // symbology identifier ("]C1" for GS1-128)
    std::string text;        // control bytes as \xNN
};

// The symbols found in the box of the page (the whole page when the box is empty), with `border`
// white dots around it, each dot drawn `scale` times.
std::vector<ReadSymbol> read_symbols(const DotImage& img, const std::string& folder, InkBox box = {}, int scale = 1);
// The texts of the symbols of one format.
std::vector<std::string> texts_of(const std::vector<ReadSymbol>& symbols, const std::string& format);
// zbarimg's readings of the box, one a line.
std::string zbar_read(const DotImage& img, const std::string& folder, InkBox box = {});
// What tesseract reads in the box (enlarged three times), blanks and line ends taken out.
std::string ocr(const DotImage& img, const std::string& folder, InkBox box, const std::string& letters = "");
// The box grown by `by` dots on every side (kept on the page).
InkBox grown(const DotImage& img, InkBox box, int by);
