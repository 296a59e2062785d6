// How tall a page is and where the recording lands on it.
#include "image_builder.h"
#include "render_test_support.h"

namespace {
void fill_rect(double x, double y, double w, double h) {
    cairo_rectangle(recording_cairo_context, x, y, w, h);
    cairo_fill(recording_cairo_context);
}
}  // namespace

class PageHeight : public RenderTest {
protected:
    DotImage render() {
        render_image_as_dotimage();
        new_render_state();
        return take_image();
    }
};

TEST_F(PageHeight, ExactLabelLengthCutsInkBelowIt) {
    fill_rect(0, 700, 100, 200);
    label_length = 800;
    label_length_fixed = true;
    DotImage img = render();
    EXPECT_EQ(img.height, 800);
    EXPECT_TRUE(img.dot(50, 799));
}

TEST_F(PageHeight, LabelLengthWithoutLimitKeepsTheLowestInk) {
    fill_rect(0, 500, 100, 40);
    label_length = 300;  // raised by field origins only
    DotImage img = render();
    EXPECT_EQ(img.height, 540);
    EXPECT_EQ(img.ink().bottom, 539);
}

TEST_F(PageHeight, NoLabelLengthIsAsTallAsTheLowestInk) {
    fill_rect(10, 1000, 10, 10);
    DotImage img = render();
    EXPECT_EQ(img.height, 1010) << "ink starting low on the page is not cut";
    EXPECT_EQ(img.ink().top, 1000);
}

TEST_F(PageHeight, EmptyPageIsOneRow) {
    DotImage img = render();
    EXPECT_EQ(img.height, 1);
}

TEST_F(PageHeight, HeightsAreClampedToWhatTheEngineTakes) {
    label_length = 100000;
    label_length_fixed = true;
    EXPECT_EQ(page_rows(), MAX_PAGE_ROWS);
    label_length = -50;
    EXPECT_EQ(page_rows(), 1);
    label_length = 4000;
    label_scale = 2;
    EXPECT_EQ(page_rows(), MAX_PAGE_ROWS);
    label_scale = 1;
    feel_paper_out = -9000;
    EXPECT_EQ(page_rows(), 1);
    feel_paper_out = 12;
    EXPECT_EQ(page_rows(), 4012);
}

TEST_F(PageHeight, MarkSeekThreeUsesTheConfiguredLabelLength) {
    fill_rect(0, 0, 10, 3000);
    label_length = 500;
    currentMarkSeek = 3;
    currentLabelLength = 1218;
    EXPECT_EQ(page_rows(), 1218);
}

TEST_F(PageHeight, RoomForTheLastTextLineBelowItsInk) {
    set_font_description("Liberation Mono", 12, 0, 1, 1);
    text_get_layout_dimensions("gyp", 0);
    int pad = 2 * (pangoRectangle_logical.height - pangoRectangle_ink.height);
    label_length = 200;
    label_length_fixed = true;
    EXPECT_EQ(page_rows(), 200 + pad);
}

TEST_F(PageHeight, ScaleMarginAndHeadEdges) {
    fill_rect(10, 10, 10, 10);
    label_scale = 2;
    DotImage img = render();
    EXPECT_EQ(img.height, 40);
    InkBox box = img.ink();
    EXPECT_EQ(box.left, 20);
    EXPECT_EQ(box.right, 39);

    label_scale = 1;
    fill_rect(-200, 0, 100, 10);  // left of the head even after the margin
    fill_rect(1650, 0, 78, 10);   // pushed past its right edge by the margin
    fill_rect(0, 20, 10, 10);
    currentLeftMargin = 100;
    img = render();
    box = img.ink();
    EXPECT_EQ(box.left, 100) << "only the square, moved by the margin";
    EXPECT_EQ(box.right, 109);
    EXPECT_EQ(box.top, 20);
}
