// ZPL barcode commands: ^BY defaults, the symbology commands that prepare the pending field, and
// the drawing of a barcode field at ^FD.
#pragma once

#include <cstddef>

// Module widths and bar heights a barcode takes, in dots.
inline constexpr int MAX_MODULE_DOTS = 10;
inline constexpr int MAX_BAR_DOTS = 32000;
// Module widths of 2-D symbols with a module parameter of their own (^BX, ^BO), in dots.
inline constexpr int MAX_MATRIX_MODULE_DOTS = 40;
// A MaxiCode symbol is 1.11 inches wide (and about 1.05 inches high) whatever the module width.
inline constexpr double MAXICODE_WIDTH_INCHES = 1.11;

// ^B followed by the symbology letter c2 (upper case): the command of that letter; unknown
// letters have no effect.
void barcode_command(int c2);

void barcode_defaults();  // ^BY module width, ratio (ignored), height
void barcode_code128();   // ^BC
void barcode_b0();        // ^B0 (Interleaved 2 of 5 with a height factor)
void barcode_codabar();   // ^BK
void barcode_code39();    // ^B3
void barcode_code93();    // ^BA
void barcode_i2of5();     // ^B2
void barcode_ean13();     // ^BE
void barcode_industrial2of5();  // ^BI
void barcode_iata2of5();        // ^BJ
void barcode_ean8();      // ^B8
void barcode_upce();      // ^B9
void barcode_maxicode();  // ^BD
void barcode_addon();     // ^BS
void barcode_upca();      // ^BU
void barcode_qr();        // ^BQ
void barcode_pdf417();    // ^B7
void barcode_datamatrix();  // ^BX
void barcode_aztec();     // ^BO (Aztec; ^B0 is Interleaved 2 of 5 on this printer)

// A fresh process: no EAN form chosen by an earlier command.
void reset_barcode_commands();

// Draws the pending barcode field (field kinds 2 to 5) with the field data; ^FH escapes are
// resolved first.
void draw_barcode_field(const char* data, size_t n);

// Check characters over the character values of ctoi2.
char mod10(const char* data, size_t n);
char mod43(const char* data, size_t n);
