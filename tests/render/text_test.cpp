// Fonts and text: the CPI rule, stretch, one-shot rotation, measuring, line-print flow.
#include "image_builder.h"
#include "render_test_support.h"

#include <cmath>

class Text : public RenderTest {
protected:
    DotImage render() {
        render_image_as_dotimage();
        new_render_state();
        return take_image();
    }
};

TEST_F(Text, DefaultFontFollowsTheCharacterPitch) {
    std::string family = currentFontFamily;
    double cpi = currentCPI;
    currentFontFamily = "  Liberation Mono \t";
    currentCPI = 12;
    init_font_description();
    EXPECT_STREQ(pango_font_description_get_family(global_pango_font_description), "Liberation Mono");
    EXPECT_EQ(pango_font_description_get_size(global_pango_font_description), int(MAGIC_CPI_NUMERATOR / 12 * 1024));
    EXPECT_EQ(int(pango_font_description_get_weight(global_pango_font_description)), 550);

    currentCPI = 0;  // a broken setting must not break the font
    init_font_description();
    EXPECT_GT(pango_font_description_get_size(global_pango_font_description), 0);
    currentFontFamily = family;
    currentCPI = cpi;
}

TEST_F(Text, OnlyBoldOneIsBold) {
    set_font_description("Liberation Mono", 10, 1, 1, 1);
    EXPECT_EQ(pango_font_description_get_weight(global_pango_font_description), PANGO_WEIGHT_BOLD);
    set_font_description("Liberation Mono", 10, 2, 1, 1);
    EXPECT_EQ(pango_font_description_get_weight(global_pango_font_description), PANGO_WEIGHT_NORMAL);
    EXPECT_EQ(pango_font_description_get_size(global_pango_font_description), 10 << 10);
}

TEST_F(Text, MeasuresTheGivenLengthStretched) {
    set_font_description("Liberation Mono", 10, 0, 1, 1);
    TextSize all = text_get_layout_dimensions("ABCDEF", 0);
    TextSize half = text_get_layout_dimensions("ABCDEF", 3);
    EXPECT_GT(all.width, 0);
    EXPECT_NEAR(half.width, all.width / 2, 1.0) << "a monospaced face";
    set_font_description("Liberation Mono", 10, 0, 2, 3);
    TextSize stretched = text_get_layout_dimensions("ABCDEF", 0);
    EXPECT_NEAR(stretched.width, 2 * all.width, 1e-9);
    EXPECT_NEAR(stretched.height, 3 * all.height, 1e-9);
}

TEST_F(Text, ZeroStretchIsShownWithTheSubstitute) {
    set_font_description("Liberation Mono", 20, 0, 0, 0);
    TextSize measured = text_get_layout_dimensions("HHHH", 0);
    EXPECT_EQ(measured.width, 0);
    EXPECT_EQ(measured.height, 0);
    fill_pango_layout(100, 100, "HHHH");
    EXPECT_DOUBLE_EQ(pango_xscale, 1.012345);
    EXPECT_DOUBLE_EQ(pango_yscale, 1.012345);
    DotImage img = render();
    InkBox box = img.ink();
    EXPECT_FALSE(box.empty) << "the text is shown, not squashed to nothing";
    EXPECT_GT(box.width(), 40);
}

TEST_F(Text, StretchAppliesToTheGlyphs) {
    set_font_description("Liberation Mono", 20, 0, 1, 1);
    text_get_layout_dimensions("MMMM", 0);
    fill_pango_layout(100, 100, "MMMM");
    set_font_description("Liberation Mono", 20, 0, 2, 1);
    text_get_layout_dimensions("MMMM", 0);
    TextSize shown = fill_pango_layout(100, 400, "MMMM");
    EXPECT_GT(shown.width, 0) << "unscaled logical size of the text";
    DotImage img = render();
    InkBox plain = img.ink_in(0, 0, 1728, 300), wide = img.ink_in(0, 300, 1728, 700);
    EXPECT_NEAR(double(wide.width()) / plain.width(), 2.0, 0.1);
    EXPECT_NEAR(double(wide.height()), double(plain.height()), 2.0);
    EXPECT_NEAR(plain.left, 100, 6);
    EXPECT_NEAR(wide.left, 100, 12);
}

TEST_F(Text, RotationServesOneTextOnly) {
    set_font_description("Liberation Mono", 20, 0, 1, 1);
    global_rotated_text_flag = 1;
    text_rotation_angle = 90;
    text_get_layout_dimensions("TURNED", 0);
    fill_pango_layout(300, 50, "TURNED");
    EXPECT_EQ(global_rotated_text_flag, 0);
    text_get_layout_dimensions("LEVEL", 0);
    fill_pango_layout(600, 50, "LEVEL");
    DotImage img = render();
    InkBox turned = img.ink_in(0, 0, 450, 1000), level = img.ink_in(450, 0, 1728, 1000);
    EXPECT_GT(turned.height(), 2 * turned.width()) << "runs down the page";
    EXPECT_LE(turned.right, 300) << "turned clockwise about its start point";
    EXPECT_GE(turned.top, 50);
    EXPECT_GT(level.width(), 2 * level.height());
}

TEST_F(Text, LinePrintFlowsDownThePage) {
    enable_global_line_print();
    currentLineSpacing = 4;
    currentLeftMarginOffset = 30;
    set_font_description("Liberation Mono", 20, 0, 1, 1);
    double y0 = boundingBox_y;
    EXPECT_DOUBLE_EQ(y0, IMAGE_PADDING);
    text_get_layout_dimensions("FIRST", 0);
    fill_pango_layout(0, 999, "FIRST");
    int h = pangoRectangle_logical.height;
    EXPECT_DOUBLE_EQ(boundingBox_y, y0 + h / 2 + 4);
    double y1 = boundingBox_y;
    text_get_layout_dimensions("SECOND", 0);
    fill_pango_layout(0, 999, "SECOND");
    disable_global_line_print();
    DotImage img = render();
    EXPECT_DOUBLE_EQ(boundingBox_y, IMAGE_PADDING) << "reset after the page";
    InkBox all = img.ink();
    EXPECT_NEAR(all.left, 30, 5) << "left margin offset";
    // The first text's logical box starts at spacing + padding, the second at spacing + y1.
    InkBox first = img.ink_in(0, 0, 1728, int(4 + y1));
    EXPECT_GE(first.top, int(4 + y0));
    EXPECT_LT(first.top, int(4 + y0) + h / 2);
    EXPECT_LE(all.bottom, int(4 + y1) + h);
    EXPECT_GT(all.bottom, int(4 + y1) + h / 2);
}

TEST_F(Text, TextThatCannotReachThePageIsLeftOut) {
    set_font_description("Liberation Mono", 10, 0, 300, 300);  // glyphs thousands of dots tall
    text_get_layout_dimensions("FAR", 0);
    TextSize far = fill_pango_layout(10, 900000, "FAR");
    EXPECT_GT(far.height, 0) << "still measured";
    double x0, y0, w, h;
    cairo_recording_surface_ink_extents(recording_surface, &x0, &y0, &w, &h);
    EXPECT_EQ(w * h, 0) << "nothing recorded";
    set_font_description("Liberation Mono", 10, 0, 1, 30);
    text_get_layout_dimensions("NEAR", 0);
    fill_pango_layout(10, MAX_PAGE_ROWS - 50, "NEAR");  // reaches past the bottom
    cairo_recording_surface_ink_extents(recording_surface, &x0, &y0, &w, &h);
    EXPECT_GT(w * h, 0) << "text overlapping the page is drawn";
}
