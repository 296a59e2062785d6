// The four field orientations: where the text lands and that it is the same text turned.
#include "image_builder.h"
#include "zpl_label.h"
#include "zpl_test_support.h"

#include <cmath>
#include <vector>

namespace {
using Bitmap = std::vector<std::vector<bool>>;  // [y][x]

Bitmap crop(const DotImage& img, const InkBox& b) {
    Bitmap m(size_t(b.height()), std::vector<bool>(size_t(b.width())));
    for (int y = 0; y < b.height(); ++y)
        for (int x = 0; x < b.width(); ++x) m[y][x] = img.dot(b.left + x, b.top + y);
    return m;
}

// Turned clockwise by quarter turns.
Bitmap turn(const Bitmap& m, int quarters) {
    Bitmap r = m;
    for (int q = 0; q < quarters; ++q) {
        size_t h = r.size(), w = h ? r[0].size() : 0;
        Bitmap t(w, std::vector<bool>(h));
        for (size_t y = 0; y < w; ++y)
            for (size_t x = 0; x < h; ++x) t[y][x] = r[h - 1 - x][y];
        r.swap(t);
    }
    return r;
}

// Share of ink the two bitmaps have in common, at the best shift of up to 2 dots.
double likeness(const Bitmap& a, const Bitmap& b) {
    double best = 0;
    for (int dy = -2; dy <= 2; ++dy)
        for (int dx = -2; dx <= 2; ++dx) {
            long both = 0, either = 0;
            int h = int(std::max(a.size(), b.size())) + 2, w = 0;
            for (auto& row : a) w = std::max(w, int(row.size()));
            for (auto& row : b) w = std::max(w, int(row.size()));
            for (int y = -2; y < h; ++y)
                for (int x = -2; x < w + 2; ++x) {
                    auto at = [](const Bitmap& m, int xx, int yy) {
                        return yy >= 0 && yy < int(m.size()) && xx >= 0 && xx < int(m[yy].size()) && m[yy][xx];
                    };
                    bool pa = at(a, x, y), pb = at(b, x + dx, y + dy);
                    both += pa && pb;
                    either += pa || pb;
                }
            if (either) best = std::max(best, double(both) / either);
        }
    return best;
}
}  // namespace

class Orientation : public ZplTest {
protected:
    TextSize measure(uint8_t o) {
        text.rotate = o;
        set_bit_font('0', 50, 0);
        return text_get_layout_dimensions("Zebra 42", 0);
    }
    DotImage field(char o) { return label(std::string("^XA^FO400,400^A0") + o + ",50,0^FDZebra 42^FS^XZ"); }
};

TEST_F(Orientation, FourTurnsOfTheSameText) {
    TextSize n = measure('N'), r = measure('R'), b = measure('B');
    DotImage in = field('N'), ir = field('R'), ii = field('I'), ib = field('B');
    InkBox bn = in.ink(), br = ir.ink(), bi = ii.ink(), bb = ib.ink();
    const int tol = 2;

    // N: right of and below the origin, within the measured box.
    EXPECT_GE(bn.left, 400 - tol);
    EXPECT_GE(bn.top, 400 - tol);
    EXPECT_LE(bn.right, 400 + int(n.width) + tol);
    EXPECT_LE(bn.bottom, 400 + int(n.height) + tol);
    EXPECT_GT(bn.width(), 2 * bn.height());

    // R (90): origin moved right by 3/2 of the measured height, text runs down from there.
    int xr = 400 + int(std::trunc(r.height * 3 / 2));
    EXPECT_LE(br.right, xr + tol);
    EXPECT_GE(br.left, 400 - tol);
    EXPECT_GE(br.top, 400 - tol);
    EXPECT_GT(br.height(), 2 * br.width());

    // I (180): turned about the far corner of the measured box, so it stays inside that box.
    EXPECT_GE(bi.left, 400 - tol);
    EXPECT_GE(bi.top, 400 - tol);
    EXPECT_LE(bi.right, 400 + int(n.width) + tol);
    EXPECT_LE(bi.bottom, 400 + int(n.height) + tol);

    // B (270): origin moved down by 2/3 of the measured width, text runs up from there.
    int yb = 400 + int(std::trunc(2 * b.width / 3));
    EXPECT_LE(bb.bottom, yb + tol);
    EXPECT_GE(bb.left, 400 - tol);
    EXPECT_GT(bb.height(), 2 * bb.width());

    // The same glyphs, turned: the stretch follows the turned axes.
    Bitmap mn = crop(in, bn);
    EXPECT_GT(likeness(turn(mn, 1), crop(ir, br)), 0.8);
    EXPECT_GT(likeness(turn(mn, 2), crop(ii, bi)), 0.8);
    EXPECT_GT(likeness(turn(mn, 3), crop(ib, bb)), 0.8);
    EXPECT_LT(likeness(mn, crop(ii, bi)), 0.6) << "I is upside down, not the plain text";
}

TEST_F(Orientation, RaisesThePageForTurnedText) {
    DotImage img = label("^XA^FO100,10^A0B,50,0^FDA LONG LINE OF TEXT^FS^XZ");
    EXPECT_LT(img.ink().bottom, img.height) << "text running up from a raised origin is kept";
    EXPECT_GT(img.height, 200);
}
