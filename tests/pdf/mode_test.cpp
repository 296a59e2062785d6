// The mode request (found in the first twelve read steps, removed in process, kept for later
// jobs) and the type tests of the automatic mode; the start-up letter tables.
#include "pdf_test_support.h"

namespace {
ModeRequest find(const std::string& bytes) {
    return find_mode_request(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}
const std::string PS_PLAIN = "%!PS\n/Helvetica findfont 20 scalefont setfont 72 720 moveto (Hi) show showpage\n";
}  // namespace

class PdfMode : public PdfTest {};

TEST_F(PdfMode, RequestSearch) {
    ModeRequest r = find(BYTES("\x1B\x1B\x0A%PDF-1.5"));
    EXPECT_TRUE(r.found);
    EXPECT_EQ(r.offset, 0u);
    EXPECT_EQ(r.mode_byte, 0x0A);
    EXPECT_TRUE(r.followed);
    r = find(BYTES("ab\x1B\x1B\x0B"));
    EXPECT_TRUE(r.found);
    EXPECT_EQ(r.offset, 2u);
    EXPECT_FALSE(r.followed) << "the mode byte is the last byte";
    r = find(BYTES("\x1BX\x1B\x1B\x0C" "data"));  // ESC and another byte use one step
    EXPECT_TRUE(r.found);
    EXPECT_EQ(r.offset, 2u);
    EXPECT_EQ(r.mode_byte, 0x0C);
    EXPECT_TRUE(find(std::string(11, 'x') + BYTES("\x1B\x1B\x09z")).found) << "twelfth step";
    EXPECT_FALSE(find(std::string(12, 'x') + BYTES("\x1B\x1B\x09z")).found) << "thirteenth step";
    EXPECT_FALSE(find(BYTES("\x1B\x1B")).found) << "no mode byte";
    EXPECT_FALSE(find(BYTES("abc\x1B")).found);
    EXPECT_FALSE(find("").found);
}

TEST_F(PdfMode, RequestIsRemovedAndStaysForLaterJobs) {
    s.defaultEmulation = "PDF";
    // The same three bytes further on belong to the document and stay.
    std::string body = PS_PLAIN + BYTES("% \x1B\x1B\x0B kept\n");
    std::string path = job(BYTES("\x1B\x1B\x0B") + body);
    EXPECT_EQ(choose_render_mode(s, path), RenderMode::postscript);
    EXPECT_EQ(file_bytes(path), body);
    EXPECT_EQ(s.defaultEmulation, "POSTSCRIPT");
    // A later job without a request: still PostScript, even a PDF.
    std::string pdf = make_pdf(dir.path + "/doc.pdf", {"ONE"});
    EXPECT_EQ(choose_render_mode(s, pdf), RenderMode::postscript);

    // A request that is all the job holds changes the mode and stays in the file.
    path = job(BYTES("\x1B\x1B\x0A"));
    EXPECT_EQ(choose_render_mode(s, path), RenderMode::pdf);
    EXPECT_EQ(file_bytes(path), BYTES("\x1B\x1B\x0A"));
    EXPECT_EQ(s.defaultEmulation, "PDF");

    path = job(BYTES("\x1B\x1B\x0C") + "picture");
    EXPECT_EQ(choose_render_mode(s, path), RenderMode::picture);
    EXPECT_EQ(s.defaultEmulation, "IMAGE");
    EXPECT_EQ(file_bytes(path), "picture");
}

TEST_F(PdfMode, AutomaticModePicksByContent) {
    s.defaultEmulation = "AUTOIMAGE";
    std::string pdf = make_pdf(dir.path + "/doc.pdf", {"ONE"});
    std::string ps = make_postscript(dir.path + "/doc.ps", "ONE");
    std::string png = make_png(dir.path + "/pic.png", 16, 16, [](int, int) { return 128; }, [](int, int) { return 255; });
    EXPECT_EQ(choose_render_mode(s, pdf), RenderMode::pdf);
    EXPECT_TRUE(file_contains(ps, "EndResource")) << "cairo's PostScript carries resources";
    EXPECT_EQ(choose_render_mode(s, ps), RenderMode::postscript);
    EXPECT_EQ(choose_render_mode(s, png), RenderMode::picture);
    // A PostScript program without resources: it starts with "%!", which no picture does.
    EXPECT_EQ(choose_render_mode(s, job(PS_PLAIN)), RenderMode::postscript);
    // "%!" somewhere in the middle counts only after a request byte other than 0x09..0x0C.
    EXPECT_EQ(choose_render_mode(s, job("data %! more")), RenderMode::picture);
    EXPECT_EQ(choose_render_mode(s, job(BYTES("\x1B\x1B\x20") + "data %! more")), RenderMode::postscript);
    EXPECT_EQ(s.defaultEmulation, "AUTOIMAGE");
    EXPECT_EQ(choose_render_mode(s, job(BYTES("\x1B\x1B\x09") + "data %! more")), RenderMode::picture);
    // A mode name that is none of the four decides by content too.
    s.defaultEmulation = "ZPL";
    EXPECT_EQ(choose_render_mode(s, pdf), RenderMode::pdf);
    EXPECT_EQ(choose_render_mode(s, png), RenderMode::picture);
}

TEST_F(PdfMode, ContentTestsFindTextAcrossChunks) {
    std::string path = dir.path + "/big";
    std::string big(65536 - 3, 'x');
    write_text_file(path, big + "EndResource" + big);
    EXPECT_TRUE(file_contains(path, "EndResource"));
    EXPECT_FALSE(file_contains(path, "%PDF"));
    EXPECT_FALSE(file_contains(dir.path + "/missing", "x"));
}

TEST_F(PdfMode, DefaultEmulationAndStartTables) {
    write_text_file(s.paths.image_config, "[Image]\nconfigEmulation=" + std::string(40, 'P') + "\n");
    load_default_emulation(s);
    EXPECT_EQ(s.defaultEmulation, std::string(32, 'P'));
    std::string logos;
    for (int i = 0; i < 14; ++i) logos += "logo" + std::to_string(i) + ".png\n";
    write_text_file(s.paths.logo_list, logos);
    write_text_file(s.paths.font_names, "Liberation Mono\n" + std::string(300, 'F') + "\nDejaVu Sans");
    rebuild_start_tables(s);
    std::string table = read_text_file(s.paths.logo_web_table);
    EXPECT_EQ(table.substr(0, 28), "A=logo0.png\nB=logo1.png\nC=lo");
    EXPECT_NE(table.find("L=logo11.png\n"), std::string::npos);
    EXPECT_EQ(table.find("logo12"), std::string::npos) << "twelve logos at most";
    EXPECT_EQ(read_text_file(s.paths.font_web_table),
              "A=Liberation Mono\nB=" + std::string(255, 'F') + "\nC=DejaVu Sans");
}
