// Drawing primitives and pictures, measured in the dot image.
#include "image_builder.h"
#include "render_shapes.h"
#include "render_test_support.h"

#include <cairo.h>

class Shapes : public RenderTest {
protected:
    DotImage render() {
        render_image_as_dotimage();
        new_render_state();
        return take_image();
    }
    // Writes a w x h PNG whose left half is opaque and right half transparent.
    std::string half_png(int w, int h) {
        cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
        cairo_t* cr = cairo_create(s);
        cairo_set_source_rgba(cr, 1, 0, 0, 1);  // colour does not matter, only opacity
        cairo_rectangle(cr, 0, 0, w / 2, h);
        cairo_fill(cr);
        cairo_destroy(cr);
        std::string path = dir.path + "/pic.png";
        cairo_surface_write_to_png(s, path.c_str());
        cairo_surface_destroy(s);
        return path;
    }
};

TEST_F(Shapes, OneDotLinesCoverExactlyOneRowOrColumn) {
    draw_line(100, 50.5, 300, 50.5, 1);   // centred on row 50
    draw_line(400.5, 20, 400.5, 120, 1);  // centred on column 400
    DotImage img = render();
    InkBox h = img.ink_in(0, 0, 350, 200), v = img.ink_in(350, 0, 500, 200);
    EXPECT_EQ(h.top, 50);
    EXPECT_EQ(h.height(), 1);
    EXPECT_EQ(h.left, 100);
    EXPECT_EQ(h.width(), 200);
    EXPECT_EQ(v.left, 400);
    EXPECT_EQ(v.width(), 1);
    EXPECT_EQ(v.top, 20);
    EXPECT_EQ(v.height(), 100);
}

TEST_F(Shapes, RectanglesFilledAndOutlined) {
    draw_rectangle_fill(10, 10, 10, 10, 55);  // the width does not matter
    draw_rectangle(101.5, 101.5, 197, 97, 3);  // a 3-dot frame on 100..299 x 100..199
    DotImage img = render();
    InkBox f = img.ink_in(0, 0, 50, 50);
    EXPECT_EQ(f.left, 10);
    EXPECT_EQ(f.top, 10);
    EXPECT_EQ(f.width(), 10);
    EXPECT_EQ(f.height(), 10);
    for (int x = 10; x < 20; ++x)
        for (int y = 10; y < 20; ++y) ASSERT_TRUE(img.dot(x, y)) << x << "," << y;
    InkBox r = img.ink_in(50, 50, 1728, 400);
    EXPECT_EQ(r.left, 100);
    EXPECT_EQ(r.top, 100);
    EXPECT_EQ(r.width(), 200);
    EXPECT_EQ(r.height(), 100);
    EXPECT_TRUE(img.dot(102, 150));
    EXPECT_FALSE(img.dot(103, 150));
    EXPECT_TRUE(img.dot(200, 197));
    EXPECT_FALSE(img.dot(200, 196));
    EXPECT_TRUE(img.ink_in(104, 104, 296, 196).empty);
}

TEST_F(Shapes, RoundRectangleCutsItsCorners) {
    draw_round_rectangle(100, 100, 200, 100, 30, 2);
    DotImage img = render();
    InkBox r = img.ink();
    EXPECT_NEAR(r.left, 99, 1);
    EXPECT_NEAR(r.right, 300, 1);
    EXPECT_NEAR(r.top, 99, 1);
    EXPECT_NEAR(r.bottom, 200, 1);
    EXPECT_TRUE(img.dot(200, 100));                       // middle of the top edge
    EXPECT_TRUE(img.ink_in(98, 98, 108, 108).empty);      // the corner is round
    EXPECT_FALSE(img.ink_in(105, 105, 115, 115).empty);   // the arc passes inside it
}

TEST_F(Shapes, EllipseIsStretchedOnlyItself) {
    draw_ellipse(100, 100, 2, 50, 1);
    draw_rectangle_fill(500, 300, 10, 10, 1);
    DotImage img = render();
    InkBox e = img.ink_in(0, 0, 450, 250);
    EXPECT_NEAR(e.left, 100, 1);
    EXPECT_NEAR(e.right, 300, 1);
    EXPECT_NEAR(e.top, 50, 1);
    EXPECT_NEAR(e.bottom, 150, 1);
    InkBox r = img.ink_in(450, 250, 1728, 400);
    EXPECT_EQ(r.width(), 10);
    EXPECT_EQ(r.height(), 10);
}

TEST_F(Shapes, CircleOutline) {
    draw_circle(200, 200, 50, 4);
    DotImage img = render();
    InkBox c = img.ink();
    EXPECT_NEAR(c.left, 148, 1);
    EXPECT_NEAR(c.right, 251, 1);
    EXPECT_NEAR(c.width(), c.height(), 1);
    EXPECT_FALSE(img.dot(200, 200));
    EXPECT_TRUE(img.dot(150, 200));
}

TEST_F(Shapes, ImpossibleSizesDrawNothingAndKeepThePageUsable) {
    draw_ellipse(100, 100, 0, 50, 1);  // a zero factor would break the context
    draw_ellipse(100, 100, -1, 50, 1);
    draw_circle(100, 100, -5, 1);
    draw_rectangle(10, 10, -5, 10, 1);
    draw_line(0, 0, 1.0 / 0.0, 5, 1);
    ASSERT_EQ(cairo_status(recording_cairo_context), CAIRO_STATUS_SUCCESS);
    draw_rectangle_fill(20, 30, 5, 5, 0);
    DotImage img = render();
    InkBox b = img.ink();
    EXPECT_EQ(b.left, 20);
    EXPECT_EQ(b.top, 30);
    EXPECT_EQ(b.width(), 5);
    EXPECT_EQ(b.height(), 5);
}

TEST_F(Shapes, WholeDotHooks) {
    EXPECT_EQ(gi_add_seg(10, 5, 60, 5, 2), 0);
    EXPECT_EQ(gi_add_box(100, 100, 150, 120, 2), 0);
    EXPECT_EQ(gi_set_invert(), 0);
    DotImage img = render();
    EXPECT_EQ(img.ink_in(0, 0, 90, 90).width(), 50);
    EXPECT_EQ(img.ink_in(0, 0, 90, 90).height(), 2);
    InkBox b = img.ink_in(90, 90, 200, 200);
    EXPECT_EQ(b.left, 99);
    EXPECT_EQ(b.right, 150);
}

TEST_F(Shapes, PicturesAreCentredAndOnlyOpaquePixelsAreInk) {
    std::string path = half_png(200, 40);
    EXPECT_EQ(render_and_place_png(5, 60, path.c_str()), 40);
    EXPECT_EQ(render_and_place_png(5, 200, (dir.path + "/missing.png").c_str()), 0);
    DotImage img = render();
    InkBox p = img.ink();
    EXPECT_EQ(p.left, 1728 / 2 - 100);
    EXPECT_EQ(p.width(), 100);  // the transparent half stays blank
    EXPECT_EQ(p.top, 60);
    EXPECT_EQ(p.height(), 40);
}

TEST_F(Shapes, FullWidthPictureAtTheLeftEdge) {
    std::string path = half_png(1728, 10);
    render_and_place_png(300, 0, path.c_str());
    DotImage img = render();
    EXPECT_EQ(img.ink().left, 0);
    EXPECT_EQ(img.ink().width(), 864);
}

TEST_F(Shapes, ScaleSurfaceKeepsTheAlpha) {
    cairo_surface_t* src = cairo_image_surface_create(CAIRO_FORMAT_A8, 4, 2);
    cairo_t* cr = cairo_create(src);
    cairo_rectangle(cr, 0, 0, 2, 2);
    cairo_fill(cr);
    cairo_destroy(cr);
    cairo_surface_t* big = scale_surface(src, 4, 2, 8, 4);
    ASSERT_NE(big, nullptr);
    EXPECT_EQ(cairo_image_surface_get_width(big), 8);
    EXPECT_EQ(cairo_image_surface_get_height(big), 4);
    cairo_surface_flush(big);
    const unsigned char* px = cairo_image_surface_get_data(big);
    int stride = cairo_image_surface_get_stride(big);
    EXPECT_EQ(px[1 * stride + 1], 255);
    EXPECT_EQ(px[1 * stride + 6], 0);
    EXPECT_EQ(scale_surface(src, 4, 2, 0, 4), nullptr);
    cairo_surface_destroy(big);
    cairo_surface_destroy(src);
}
