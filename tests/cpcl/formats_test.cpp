// Stored formats: DEFINE-FORMAT keeps the rest of its job in the formats folder, USE-FORMAT fills
// its placeholders with the lines that follow; names are checked and nothing outside the folder is
// read or written.
#include "cpcl_commands.h"
#include "cpcl_test_support.h"

#include "image_builder.h"

#include <filesystem>

namespace fs = std::filesystem;

using Formats = CpclTest;

namespace {
const char* const SHIPPING_FORMAT =
    "! 0 203 203 300 1\r\n"
    "TEXT 4 0 30 20 \\\\\r\n"
    "TEXT 4 0 30 90 \\\\\r\n"
    "BARCODE 128 1 1 60 30 170 \\\\\r\n"
    "PRINT\r\n";

std::string text_at(const DotImage& img, const std::string& folder, int y0, int y1) {
    InkBox box = img.ink_in(0, y0, img.width, y1);
    return box.empty ? "" : ocr_line(img, folder, grown(box, 2), 2);
}

// Every file below a folder.
std::vector<std::string> files_below(const std::string& folder) {
    std::vector<std::string> out;
    std::error_code ec;
    for (const auto& e : fs::recursive_directory_iterator(folder, ec))
        if (e.is_regular_file()) out.push_back(e.path().string());
    std::sort(out.begin(), out.end());
    return out;
}
}  // namespace

TEST_F(Formats, DefineThenUseFillsThePlaceholdersInOrder) {
    run_jobs({std::string("! DF ship.fmt\r\n") + SHIPPING_FORMAT, "! UF ship.fmt\r\nACME\r\n  PARCELS  \r\nAB-1234\r\n"});
    EXPECT_EQ(read_text_file(formats + "/ship.fmt"), SHIPPING_FORMAT) << "the rest of the job, as sent";
    std::vector<DotImage> pages = printed();
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_EQ(text_at(pages[0], dir.path, 10, 80), "ACME");
    EXPECT_EQ(text_at(pages[0], dir.path, 80, 160), "PARCELS") << "data lines are trimmed";
    InkBox bars = grown(pages[0].ink_in(0, 160, 1728, 240), 4);
    EXPECT_EQ(zbar(pages[0], dir.path, &bars), "AB-1234");
}

TEST_F(Formats, UseFormatTwiceAndWithTooFewLines) {
    run_jobs({std::string("! DEFINE-FORMAT ship.fmt\r\n") + SHIPPING_FORMAT, "! USE-FORMAT ship.fmt\r\nONE\r\nTWO\r\nX1\r\n",
              "! UF ship.fmt\r\nTHREE\r\n"});
    std::vector<DotImage> pages = printed();
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_EQ(text_at(pages[0], dir.path, 10, 80), "ONE");
    EXPECT_EQ(text_at(pages[1], dir.path, 10, 80), "THREE");
    EXPECT_TRUE(pages[1].ink_in(0, 80, 1728, 160).empty) << "placeholders without data stay blank";
}

TEST_F(Formats, AFormatSurvivesARestart) {
    run(std::string("! DF keep.fmt\r\n") + SHIPPING_FORMAT);
    EXPECT_TRUE(printed().empty()) << "storing prints nothing";
    restart();  // a new interpreter: nothing of the old one but the folder
    run("! UF keep.fmt\r\nAFTER\r\nRESTART\r\nR-1\r\n");
    std::vector<DotImage> pages = printed();
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_EQ(text_at(pages[0], dir.path, 10, 80), "AFTER");
}

TEST_F(Formats, NamesThatLeaveTheFolderAreRefused) {
    std::vector<std::string> before = files_below(dir.path);
    for (const char* name : {"../escape", "../../etc/passwd", "/tmp/abs", ".hidden", "..", "a/b", "x\"y",
                             "name;rm", "012345678901234567890123456789012"}) {
        run(std::string("! DF ") + name + "\r\n! 0 203 203 100 1\r\nTEXT 4 0 0 0 \\\\\r\nPRINT\r\n");
        EXPECT_TRUE(printed().empty()) << name << ": the format's bytes are not printed either";
        run(std::string("! UF ") + name + "\r\nDATA\r\n");
        EXPECT_TRUE(printed().empty()) << name;
    }
    EXPECT_EQ(files_below(dir.path), before) << "nothing written anywhere";
    EXPECT_FALSE(fs::exists(formats)) << "not even the formats folder";
    EXPECT_TRUE(cpcl::valid_format_name("LABEL_1-a.fmt"));
    EXPECT_TRUE(cpcl::valid_format_name("01234567890123456789012345678901"));
    EXPECT_FALSE(cpcl::valid_format_name(""));
}

TEST_F(Formats, MissingFormatAndFormatsUsingThemselves) {
    run("! UF nothing.fmt\r\nDATA\r\n");
    EXPECT_TRUE(printed().empty());
    // A format that uses itself stops after a few rounds.
    run("! DF loop.fmt\r\n! UF loop.fmt\r\n");
    run("! UF loop.fmt\r\n");
    EXPECT_TRUE(printed().empty());
    // The interpreter still works.
    EXPECT_EQ(label(one_label({"BOX 10 10 20 20 2"}, 100)).ink().left, 10);
}

TEST_F(Formats, TheStoredTextStopsAtTheEndOfItsJob) {
    // Two jobs in the ring at once: the next one is not part of the format.
    feed(std::string("! DF ship.fmt\r\n") + SHIPPING_FORMAT);
    feed("! UF ship.fmt\r\nNEXT\r\nJOB\r\nN-1\r\n");
    cpcl::run_until_end(*s);
    EXPECT_EQ(read_text_file(formats + "/ship.fmt"), SHIPPING_FORMAT);
    EXPECT_EQ(printed().size(), 1u);
}

TEST_F(Formats, FillingIsLiteral) {
    EXPECT_EQ(cpcl::fill_format("A \\\\ B \\\\ C\r\n", "1\r\n2\r\n"), "A 1 B 2 C\r\n");
    EXPECT_EQ(cpcl::fill_format("\\\\|\\\\", "x\\\\y\n$(reboot)\n"), "x\\\\y|$(reboot)")
        << "data is put in as it is, never read as a placeholder or a command";
    EXPECT_EQ(cpcl::fill_format("\\\\", "\"quoted\" 'text'\n"), "\"quoted\" 'text'");
    EXPECT_EQ(cpcl::fill_format("no placeholders", "a\nb\n"), "no placeholders");
}
