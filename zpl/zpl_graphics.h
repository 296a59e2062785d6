// ZPL shape commands: boxes, circles, diagonal lines and ellipses at the field origin.
#pragma once

void graphic_box();           // ^GB width, height, thickness, colour, rounding
void graphic_circle();        // ^GC diameter, thickness, colour
void graphic_diagonalline();  // ^GD width, height, thickness, colour, orientation
void graphic_ellipse();       // ^GE width, height, thickness, colour

// Largest width, height or thickness a shape command takes, in dots; smaller than 0 becomes 0.
inline constexpr int MAX_SHAPE_DOTS = 32000;
