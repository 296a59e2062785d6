// Code 128 as label hosts write it: the data of a ^BC field with its invocation codes (">" and a
// code character: start and switch subsets, FNC1 to FNC4, and the characters ">", "^", "~" and DEL
// themselves) and its mode (N as written, U for shipping container codes, A choosing subsets, D
// for GS1 data with FNC1), turned into the symbol's code values and the human-readable line.
#pragma once

#include <string>
#include <vector>

struct Code128Symbol {
    std::vector<int> values;  // start character and data, without check character and stop
    std::string text;         // the human-readable line
};

// The symbol of a ^BC field; `mode` is the mode letter (N, U, A or D; anything else is N).
Code128Symbol code128_from_field(const std::string& data, char mode);
// Modules of the whole symbol ("1" bar, "0" space): the values, their check character and stop.
std::string code128_modules(const std::vector<int>& values);
// The text a reader gives back for the values: FNC1 first gives the GS1 prefix "]C1", later ones
// the group separator (0x1D); FNC2 to FNC4 and the subset switches give nothing.
std::string code128_content(const std::vector<int>& values);
// Check digit of the mod 10 with weights 3 and 1 from the right (GS1).
char gs1_check_digit(const std::string& digits);

// GS1 element strings: the length of the application identifier that starts `digits` (2 to 4),
// and the length of its data when it is one of fixed length (0: variable, ended by FNC1).
int gs1_ai_length(const std::string& digits);
int gs1_fixed_data_length(const std::string& ai);
// Data whose FNC1 separators are given as GS (0x1D) bytes, in the bracketed form "[01]...[10]..."
// an encoder takes for GS1 symbols; empty when it does not split into identifiers.
std::string gs1_bracketed(const std::string& data);
