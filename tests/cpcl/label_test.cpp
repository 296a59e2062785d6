// The label life cycle: the header, PRINT, copies and counters, the line reader's rules.
#include "cpcl_commands.h"
#include "cpcl_test_support.h"

#include "image_builder.h"

TEST_F(CpclTest, Smoke) {
    DotImage img = label(one_label({"TEXT 4 0 30 40 HELLO", "BOX 10 10 300 200 3"}));
    EXPECT_EQ(img.width, 1728);
    EXPECT_EQ(img.height, 400);
    InkBox b = img.ink();
    std::printf("ink %d %d %d %d\n", b.left, b.top, b.right, b.bottom);
    std::printf("%s\n", ocr_line(img, dir.path, img.ink_in(20, 30, 290, 190)).c_str());
}
