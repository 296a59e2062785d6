// pdf_interp: documents and pictures. A whole job file holds a PDF document, a PostScript program
// or a picture; PostScript becomes PDF through `ps2pdf`, PDF pages become 1-bit pages through
// `pdftoppm`, pictures are scaled to the head and made grey by `convert` and dithered here
// (Floyd-Steinberg). Every page becomes a dot image as wide as the head; a page or picture taller
// than the print engine takes (6496 rows) becomes several.
//
// The outside tools are run with argument vectors (never a shell) and a time limit; everything
// the interpreter knows lives in one PdfState that a test makes fresh.
#pragma once

#include "settings.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

enum class RenderMode { pdf = 0, postscript = 1, picture = 2 };

struct PdfPaths {
    std::string engine_intake = "/tmp/engine_intake";
    std::string image_file = "/tmp/imagefile";         // the job while it is worked on
    std::string new_pdf = "/tmp/newjob.pdf";           // a PostScript job as PDF
    std::string render_png = "/tmp/imageRender.png";   // a picture as the converter scaled it
    std::string pages = "/tmp/pdf_pages";              // pages as the rasteriser wrote them
    std::string image_config = "/imageConfig/image_config.cfg";
    std::string logo_list = "/imageConfig/logo_list";
    std::string logo_web_table = "/imageConfig/logo_web_table";
    std::string font_names = "/imageConfig/font_list";
    std::string font_web_table = "/imageConfig/font_web_table";
};

struct PdfState {
    PdfPaths paths;
    std::string defaultEmulation = "AUTOIMAGE";  // at most 32 bytes; a job's mode request replaces it
    double PRINTHEAD_DPI = 203;
    int PRINTHEAD_DOT_WIDTH = 1728;
    long tool_limit_ms = 120000;  // an outside tool still running then is stopped
    int pages_per_run = 10;       // pages rendered by one run of the rasteriser
    int (*shell)(const char* line) = nullptr;  // fixed command lines; nullptr: run_shell
    // Figures of the last job.
    int images_in_job = 0;
    double tool_ms = 0;           // time spent in outside tools
    bool tool_timed_out = false;
};

inline constexpr size_t EMULATION_NAME_MAX = 32;
inline constexpr int MAX_PICTURE_ROWS = 20 * 6496;  // rows of one picture that are printed

// ---- settings, start-up tables ------------------------------------------------------------------
void pdf_take_global_defines(PdfState& s, const GlobalDefines& g);
// configEmulation of the image configuration, cut at 32 bytes.
void load_default_emulation(PdfState& s);
// The logo and font letter tables for the web interface.
void rebuild_start_tables(const PdfState& s);

// ---- mode request and type tests (pdf_mode.cpp) -----------------------------------------------
struct ModeRequest {
    bool found = false;
    size_t offset = 0;    // of the first ESC
    int mode_byte = -1;
    bool followed = false;  // at least one byte after the mode byte
};
// Looks for ESC ESC <mode byte> in the first twelve read steps of the job's first bytes.
ModeRequest find_mode_request(const uint8_t* head, size_t n);
// Whether the file holds `needle` anywhere.
bool file_contains(const std::string& path, const std::string& needle);
// Handles a mode request in the job file (the new mode stays for later jobs; the three bytes are
// removed unless they are all the job holds) and decides how the job is rendered.
RenderMode choose_render_mode(PdfState& s, const std::string& job);

// ---- rendering (pdf_job.cpp) ---------------------------------------------------------------------
int pdf_shell(PdfState& s, const char* line);
// Runs an outside tool with the time limit; its time counts into tool_ms.
int run_tool(PdfState& s, const std::vector<std::string>& argv);
// Every page of a PDF file as dot images. Returns the images written.
int render_pdf(PdfState& s, const std::string& pdf);
int render_postscript(PdfState& s, const std::string& ps);
int render_picture(PdfState& s, const std::string& picture);
// One job: taken out of the intake, rendered, removed; "/root/engine_cmd B 0" at the end.
void take_job(PdfState& s, const std::string& path);

// ---- dot images (pdf_dither.cpp) ---------------------------------------------------------------
// Floyd-Steinberg error diffusion, one row at a time: grey 0 (black) .. 255 (white) in, bits out
// (most significant bit leftmost, 1 = ink). A pixel becomes white when its value with the errors
// it received is above 127; its error goes 7/16 right, 3/16 down-left, 5/16 down, 1/16 down-right,
// each share truncated toward zero.
class Ditherer {
public:
    explicit Ditherer(int width);
    void row(const uint8_t* grey, uint8_t* bits);
    int width() const { return width_; }

private:
    int width_;
    std::vector<int32_t> cur_, next_;  // errors received by this row and the next (with guard cells)
};

// Collects head-wide rows and writes them as dot images of at most 6496 rows each.
class DotImageSink {
public:
    explicit DotImageSink(PdfState& s);
    ~DotImageSink();  // writes what is left
    DotImageSink(const DotImageSink&) = delete;
    DotImageSink& operator=(const DotImageSink&) = delete;
    // A row of `bytes` bytes (1 = ink): cut or padded with white to the head width.
    void add_row(const uint8_t* row, size_t bytes);
    void flush();

private:
    PdfState& s_;
    std::vector<uint8_t> rows_;
};

// Writes rows (216 bytes each) as one dot image "P4\n%d %d\n" once the previous one was taken.
bool write_page_image(const uint8_t* rows, int n);
// A 1-bit PBM page from the rasteriser into dot images. Returns the images written.
int pbm_to_dot_images(PdfState& s, const std::string& path);
// A PNG picture (any colour type) made grey, put on white where it is transparent, dithered and
// written as dot images. Returns the images written (0 when it is no PNG).
int png_to_dot_images(PdfState& s, const std::string& path);
