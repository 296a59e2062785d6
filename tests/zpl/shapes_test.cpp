// ^GB ^GC ^GD ^GE measured in the dot image.
#include "zpl_label.h"
#include "zpl_test_support.h"

class ZplShapes : public ZplTest {};

TEST_F(ZplShapes, BoxThickerThanItsHeightIsAFilledBar) {
    DotImage img = label("^XA^FO50,40^GB100,10,10^FS^XZ");
    InkBox b = img.ink();
    EXPECT_EQ(b.left, 50);
    EXPECT_EQ(b.top, 40);
    EXPECT_EQ(b.width(), 100);
    EXPECT_EQ(b.height(), 10);
    for (int x = 50; x < 150; ++x)
        for (int y = 40; y < 50; ++y) ASSERT_TRUE(img.dot(x, y)) << x << "," << y;
}

TEST_F(ZplShapes, BoxFrameOuterEdgeOnTheBox) {
    DotImage img = label("^XA^FO100,100^GB200,100,3^FS^XZ");
    InkBox b = img.ink();
    EXPECT_EQ(b.left, 100);
    EXPECT_EQ(b.top, 100);
    EXPECT_EQ(b.width(), 200);
    EXPECT_EQ(b.height(), 100);
    // 3 dots thick on every side, empty inside
    for (int x : {100, 101, 102, 297, 298, 299}) EXPECT_TRUE(img.dot(x, 150)) << x;
    EXPECT_FALSE(img.dot(103, 150));
    EXPECT_FALSE(img.dot(296, 150));
    for (int y : {100, 102, 197, 199}) EXPECT_TRUE(img.dot(200, y)) << y;
    EXPECT_FALSE(img.dot(200, 103));
    EXPECT_TRUE(img.ink_in(103, 103, 297, 197).empty);
}

TEST_F(ZplShapes, BoxWithoutHeightIsALine) {
    DotImage img = label("^XA^FO10,20^GB300,0,4^FS^XZ");
    InkBox b = img.ink();
    EXPECT_EQ(b.left, 10);
    EXPECT_EQ(b.width(), 300);
    EXPECT_NEAR(b.height(), 4, 1);
}

TEST_F(ZplShapes, RoundedBoxStaysInsideItsBox) {
    DotImage img = label("^XA^FO100,100^GB200,100,4,B,8^FS^XZ");
    InkBox b = img.ink();
    EXPECT_NEAR(b.left, 100, 1);
    EXPECT_NEAR(b.right, 299, 1);
    EXPECT_NEAR(b.bottom, 199, 1);
    EXPECT_TRUE(img.ink_in(100, 100, 110, 110).empty) << "corner radius 50";
    EXPECT_TRUE(img.dot(200, 101));
}

TEST_F(ZplShapes, WhiteShapesDrawNothingAndKeepTheFieldOrigin) {
    DotImage img = label("^XA^FO300,200^GB100,100,5,W^GC50,2,w^GE60,30,2,W^GD50,50,2,W"
                         "^GB20,20,20^FS^XZ");
    InkBox b = img.ink();
    EXPECT_EQ(b.left, 300);
    EXPECT_EQ(b.top, 200);
    EXPECT_EQ(b.width(), 20);
}

TEST_F(ZplShapes, ShapeResetsTheFieldOrigin) {
    DotImage img = label("^XA^LH0,0^FO300,200^GB20,20,20^GB10,10,10^FS^XZ");
    EXPECT_TRUE(img.dot(305, 205));
    EXPECT_TRUE(img.dot(5, 5)) << "the second box lands at the label home";
}

TEST_F(ZplShapes, CircleThicknessLimitedToTheRadius) {
    DotImage img = label("^XA^FO100,100^GC100,200^FS^XZ");
    InkBox c = img.ink();
    EXPECT_NEAR(c.left, 100, 1);
    EXPECT_NEAR(c.top, 100, 1);
    EXPECT_NEAR(c.width(), 100, 1);
    EXPECT_NEAR(c.height(), 100, 1);
    EXPECT_TRUE(img.dot(150, 150)) << "a disc";
}

TEST_F(ZplShapes, CircleRing) {
    DotImage img = label("^XA^FO100,100^GC100,6^FS^XZ");
    InkBox c = img.ink();
    EXPECT_NEAR(c.left, 100, 1);
    EXPECT_NEAR(c.right, 199, 1);
    EXPECT_TRUE(img.dot(102, 150));
    EXPECT_FALSE(img.dot(150, 150));
    EXPECT_FALSE(img.dot(108, 150));
}

TEST_F(ZplShapes, EllipseFillsItsBoxAtTheFieldOrigin) {
    DotImage img = label("^XA^FO100,200^GE300,100,4^FS^XZ");
    InkBox e = img.ink();
    EXPECT_NEAR(e.left, 100, 1);
    EXPECT_NEAR(e.right, 399, 1);
    EXPECT_NEAR(e.top, 200, 1);
    EXPECT_NEAR(e.bottom, 299, 1);
    EXPECT_FALSE(img.dot(250, 250));
    EXPECT_TRUE(img.dot(250, 201));
    // the same ellipse further right is the same shape moved
    DotImage moved = label("^XA^FO600,200^GE300,100,4^FS^XZ");
    EXPECT_EQ(moved.ink().left - e.left, 500);
    EXPECT_EQ(moved.ink().width(), e.width());
}

TEST_F(ZplShapes, DiagonalLines) {
    DotImage right = label("^XA^FO100,100^GD100,200,4^FS^XZ");
    InkBox r = right.ink();
    EXPECT_NEAR(r.width(), 104, 4);
    EXPECT_NEAR(r.height(), 202, 3);
    // leaning right: top at the right end, bottom at the left end
    EXPECT_FALSE(right.ink_in(190, 100, 210, 110).empty);
    EXPECT_TRUE(right.ink_in(100, 100, 120, 110).empty);
    DotImage left = label("^XA^FO100,100^GD100,200,4,B,L^FS^XZ");
    EXPECT_FALSE(left.ink_in(98, 98, 110, 110).empty);
    EXPECT_TRUE(left.ink_in(180, 98, 210, 110).empty);
}

TEST_F(ZplShapes, ZeroAndNegativeSizesNeverSpoilTheRestOfTheLabel) {
    DotImage img = label("^XA^FO10,10^GE0,0,0^FS^FO10,10^GE100,0^FS^FO10,10^GE-5,-5,-5^FS"
                         "^FO10,10^GC0,0^FS^FO10,10^GB0,0,0^FS^FO10,10^GB-100,-100,-3^FS"
                         "^FO10,10^GD0,0,0^FS^FO10,10^GB-100,0,-1000000,B,99^FS"
                         "^FO500,600^GB30,30,30^FS^XZ");
    EXPECT_TRUE(img.dot(515, 615)) << "the last field is still drawn";
    InkBox late = img.ink_in(400, 400, 1728, img.height);
    EXPECT_EQ(late.width(), 30);
    EXPECT_EQ(late.height(), 30);
}
