// Barcodes (1B "Z" with the human-readable line, 1B "z" without): one type digit, the number of
// data bytes, the bar height in dots, then the data. The symbol is centred across the head at the
// cursor with modules of QUORVEL_BARCODE_MODULE dots; the cursor moves below it.
#include "quorvel.h"

#include "image_builder.h"
#include "render_symbols.h"

#include <zint.h>

#include <cmath>

int barcode_symbology(int type, std::string& data) {
    switch (type) {
    case '1': return BARCODE_CODE39;
    case '3': return BARCODE_C25INTER;
    case '4': return data.size() == 7 ? BARCODE_UPCE : BARCODE_UPCA;
    case '5':
        // Codabar needs its start and stop characters; data sent without them gets A ... A.
        if (!data.empty() && !(data[0] >= 'A' && data[0] <= 'D') && !(data[0] >= 'a' && data[0] <= 'd'))
            data = "A" + data + "A";
        return BARCODE_CODABAR;
    default: break;
    }
    if (!data.empty()) {
        auto first = static_cast<unsigned char>(data[0]);
        if (first >= 0x87 && first <= 0x89) {  // code set byte
            data.erase(0, 1);
            return first == 0x88 ? BARCODE_CODE128B : BARCODE_CODE128;
        }
    }
    return BARCODE_CODE128;
}

void barcode(QuorvelState& q, QuorvelInput& in, int type, int count, int height, bool text) {
    std::string data;
    for (int i = 0; i < count; ++i) {
        int c = in.next();
        if (c < 0) return;  // the job ended inside the data: nothing to print
        data.push_back(static_cast<char>(c));
    }
    int symbology = barcode_symbology(type, data);
    if (data.empty()) return;
    end_pending_line(q);
    int bars = height > 0 ? height : QUORVEL_BARCODE_HEIGHT;
    make_room(q, bars + 40);  // bars and the human-readable line
    double y = std::ceil(q.boundingBox_y);
    const int m = QUORVEL_BARCODE_MODULE;
    // Bars of `bars` dots: the symbol is asked for at scale m with height 2 * bars / m.
    if (generate_barcode_symbol(symbology, m, 2.0 * bars / m, m, data.data(), int(data.size()), text ? 1 : 0) != 0) {
        release_barcode();
        return;
    }
    // Line-print placement centres the symbol across the head at boundingBox_y.
    uint8_t line_print = global_line_print_enabled_flag;
    int spacing = currentLineSpacing;
    global_line_print_enabled_flag = 1;
    currentLineSpacing = 0;
    ::boundingBox_y = y;
    double h = render_and_place_barcode(0, int(y));
    global_line_print_enabled_flag = line_print;
    currentLineSpacing = spacing;
    release_barcode();
    q.boundingBox_y = y + h + q.currentLineSpacing;
}
