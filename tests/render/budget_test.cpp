// What one page may cost: drawings that cannot reach the page are not recorded, every page has
// the same budget of area, picture copies and symbol elements, and text keeps to sizes the font
// engine takes.
#include "dot_image.h"
#include "image_builder.h"
#include "render_shapes.h"
#include "render_test_support.h"

#include <cairo.h>

#include <cmath>

class Budget : public RenderTest {
protected:
    DotImage render() {
        render_image_as_dotimage();
        new_render_state();
        return take_image();
    }
    std::string full_page_png() {
        cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, HEAD_DOTS, MAX_PAGE_ROWS);
        cairo_t* cr = cairo_create(s);
        cairo_paint(cr);
        cairo_destroy(cr);
        std::string path = dir.path + "/page.png";
        cairo_surface_write_to_png(s, path.c_str());
        cairo_surface_destroy(s);
        return path;
    }
};

TEST_F(Budget, DrawingsThatCannotReachThePageAreNotRecorded) {
    EXPECT_FALSE(page_may_draw(5 * HEAD_DOTS, 0, 5 * HEAD_DOTS + 100, 100)) << "right of the page";
    EXPECT_FALSE(page_may_draw(0, -3 * MAX_PAGE_ROWS, 100, -2 * MAX_PAGE_ROWS)) << "above it";
    EXPECT_FALSE(page_may_draw(0, 0, NAN, 10)) << "not a size";
    EXPECT_TRUE(page_may_draw(-10, -10, 10, 10)) << "reaching into it";
    EXPECT_TRUE(page_may_draw(-HEAD_DOTS + 1, 0, -HEAD_DOTS + 2, 10)) << "a margin's width left of it";
    // The transform in force counts: the same box moved far away by a translation.
    cairo_save(recording_cairo_context);
    cairo_translate(recording_cairo_context, 1e6, 0);
    EXPECT_FALSE(page_may_draw(0, 0, 100, 100));
    draw_rectangle_fill(0, 0, 100, 100, 1);
    cairo_restore(recording_cairo_context);
    draw_rectangle_fill(10, 10, 20, 20, 1);
    DotImage img = render();
    EXPECT_EQ(img.ink().left, 10);
    EXPECT_EQ(img.ink().width(), 20);
}

TEST_F(Budget, EveryPageHasTheSameAreaBudget) {
    // Sixteen page-sized bars, then nothing more of that page: a small box after them is left out.
    for (int i = 0; i < int(PAGE_AREA_BUDGET); ++i) draw_rectangle_fill(0, 0, HEAD_DOTS, MAX_PAGE_ROWS, 1);
    EXPECT_TRUE(page_budget_left());
    draw_rectangle_fill(0, 0, HEAD_DOTS, MAX_PAGE_ROWS, 1);
    EXPECT_FALSE(page_budget_left());
    EXPECT_FALSE(page_may_draw(0, 0, 1, 1));
    render();
    // The next page starts with the whole budget, and a page that is dropped gives it back too.
    EXPECT_TRUE(page_may_draw(0, 0, HEAD_DOTS, MAX_PAGE_ROWS));
    draw_line(0, 0.5, 100, 0.5, 1);
    DotImage next = render();
    EXPECT_EQ(next.ink().width(), 100);
    for (int i = 0; i <= int(PAGE_AREA_BUDGET); ++i) draw_rectangle_fill(0, 0, HEAD_DOTS, MAX_PAGE_ROWS, 1);
    EXPECT_FALSE(page_budget_left());
    discard_render_state();
    new_render_state();
    EXPECT_TRUE(page_budget_left());
}

TEST_F(Budget, PictureCopiesAndSymbolElementsHaveTheirOwnBudgets) {
    std::string page = full_page_png();
    for (int i = 0; i < int(PAGE_PICTURE_BUDGET); ++i) EXPECT_EQ(render_and_place_png(0, 0, page.c_str()), MAX_PAGE_ROWS);
    EXPECT_TRUE(page_budget_left());
    // Refused before it is decoded; the height still counts for a line-print layout.
    EXPECT_EQ(render_and_place_png(0, 0, page.c_str()), MAX_PAGE_ROWS);
    EXPECT_FALSE(page_budget_left());
    DotImage img = render();
    EXPECT_EQ(img.ink().height(), MAX_PAGE_ROWS);

    EXPECT_TRUE(page_may_draw(0, 0, 10, 10, 0, PAGE_ELEMENT_BUDGET - 1));
    EXPECT_TRUE(page_may_draw(0, 0, 10, 10));
    EXPECT_FALSE(page_may_draw(0, 0, 10, 10)) << "one element too many";
}

TEST_F(Budget, PicturesAreKeptAsOneBitMasks) {
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 20, 2);
    cairo_t* cr = cairo_create(s);
    cairo_set_source_rgba(cr, 0.2, 0.9, 0.1, 0.6);  // more than half opaque: ink
    cairo_rectangle(cr, 0, 0, 10, 1);
    cairo_fill(cr);
    cairo_set_source_rgba(cr, 0, 0, 0, 0.4);  // less: none
    cairo_rectangle(cr, 10, 0, 10, 1);
    cairo_fill(cr);
    cairo_destroy(cr);
    cairo_surface_t* mask = ink_mask(s);
    ASSERT_EQ(cairo_image_surface_get_format(mask), CAIRO_FORMAT_A1);
    std::vector<uint8_t> rows = a1_rows_msb_first(mask, 3);
    ASSERT_EQ(rows.size(), 6u);
    EXPECT_EQ(rows[0], 0xFF);
    EXPECT_EQ(rows[1], 0xC0);
    EXPECT_EQ(rows[2], 0x00);
    EXPECT_EQ(rows[3], 0x00) << "the transparent row";
    cairo_surface_destroy(mask);
    cairo_surface_destroy(s);

    std::string png;
    ASSERT_TRUE(ink_png(rows, 20, 2, png));
    EXPECT_EQ(png.compare(1, 3, "PNG"), 0);
    EXPECT_EQ(png[24], 1) << "one bit a dot";
    EXPECT_EQ(png[25], 3) << "palette with a transparent entry";
    EXPECT_FALSE(ink_png(rows, 20, 3, png)) << "fewer rows than the height";
}

TEST_F(Budget, StretchedTextStaysWithinWhatTheFontEngineTakes) {
    // 4 points stretched 32000 / 5 times across: the font engine refused the size and cairo lost
    // the font it had made for it.
    set_font_description("Liberation Mono", 4, 0, 6400, 0.1);
    double em = 4 * PRINTHEAD_DPI / 72.0;
    EXPECT_LE(pango_xscale * em, 16384.01);
    EXPECT_DOUBLE_EQ(pango_yscale, 0.1);
    fill_pango_layout(0, 0, "XY");
    set_font_description("Liberation Mono", 4, 0, -1e9, INFINITY);
    EXPECT_GE(pango_xscale * em, -16384.01);
    EXPECT_DOUBLE_EQ(pango_yscale, 1) << "not a stretch";
    set_font_description("Liberation Mono", 12, 0, 1, 1);
    fill_pango_layout(10, 10, "OK");
    DotImage img = render();
    EXPECT_FALSE(img.ink_in(0, 0, 200, 100).empty);
}
