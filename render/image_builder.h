// The rendering library: one page recording per interpreter process, fonts and text, and the
// rasteriser that turns a finished page into a dot image for the print engine.
//
// Coordinates are print-head dots: x across the head (0 .. PRINTHEAD_DOT_WIDTH - 1), y down the
// paper from the top of the page. The render state lives in process-wide variables and is used by
// one thread only (the interpreter's command thread); nothing here takes a lock except the contrast
// trigger writer, which the job intake thread may call too.
//
// Page cycle:
//   init_rendering_system()             once at start
//   ... draw through recording_cairo_context, set_font_description(), fill_pango_layout() ...
//   render_image_as_dotimage()          page done: rasterise, write, tear the render state down
//   new_render_state()                  before drawing the next page
// or, for a page that is dropped, discard_render_state() + new_render_state().
#pragma once

#include "settings.h"

#include <cairo.h>
#include <pango/pangocairo.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

// ---- constants from /home/globalDefines.cfg (init_render_settings) -------------------------
extern int PRINTHEAD_DOT_WIDTH;     // dots across the head (1728)
extern int PRINTHEAD_DPI;           // 203
extern double MAGIC_CPI_NUMERATOR;  // default font points = MAGIC_CPI_NUMERATOR / currentCPI
extern double IMAGE_PADDING;        // top padding of a line-print page, dots
extern std::string PATH_TO_DOTIMAGE_FILES;  // the print engine's intake folder
extern std::string PATH_TO_DOTIMAGE_TEMP;
extern std::string IMSTART_INTAKE_FOLDER, IMSTART_TRIGGER_FILENAME;

// ---- render state ----------------------------------------------------------------------------
extern cairo_surface_t* recording_surface;   // alpha-only, unbounded recording of the page
extern cairo_t* recording_cairo_context;     // every drawing goes through it
extern PangoFontMap* global_pango_fontmap;   // the process's PangoCairo font map (not owned)
extern PangoContext* global_pango_context;
extern cairo_font_options_t* fontOpts;
extern PangoLayout* global_pango_layout;     // the one layout all text is measured and shown with
extern PangoFontDescription* global_pango_font_description;
extern PangoAttrList* global_pango_text_attribute_list;
extern PangoAttribute* global_pango_text_attribute;  // inserted by update_text_attributes (taken over)

extern double pango_xscale, pango_yscale;  // text stretch, applied when shown and measured
extern PangoRectangle pangoRectangle_ink, pangoRectangle_logical;  // extents of the last measurement
extern uint8_t global_line_print_enabled_flag;  // items flow down the page
extern double boundingBox_y;                    // running position in line-print mode
extern uint8_t global_rotated_text_flag;        // one-shot rotation of the next text shown
extern double text_rotation_angle;              // degrees, clockwise on the page
extern double rotate_barcode;                   // degrees, rotation of the next barcode
extern std::string currentFontFamily;           // configFontFamily
extern double currentCPI;                       // configCPI
extern int currentLineSpacing;                  // configLineSpacing
extern int currentLeftMarginOffset;             // added to x of text in line-print mode

// ---- page inputs (set by the interpreter) --------------------------------------------------
extern int label_length;        // 0 = not set
extern bool label_length_fixed;  // the label length is exact (ZPL ^LL): ink below it is cut
extern int label_scale;         // whole-number magnification (1, or 2 for half resolution)
extern int feel_paper_out;      // extra rows
extern int label_top;           // vertical offset of the recording on the page
extern int label_width;         // kept for the interpreters
extern double currentLeftMargin;  // horizontal offset of the recording on the page, dots
extern int currentMarkSeek;     // paper mode; 3 forces the page length to currentLabelLength
extern int currentLabelLength;
// The page is printed turned by 180 degrees within the first page_turn_width dots of the head
// (ink beyond them is left out); dot for dot, after rasterising.
extern bool page_turned;
extern int page_turn_width;

// ---- dot image hand-off ----------------------------------------------------------------------
extern std::string nameBuff;    // the last dot image this process created
extern int newpbm;              // 1 when an image was started since init_get_newpbm last asked
extern std::atomic<int> currentContrast;
extern int global_number_of_copies;
extern struct timespec start, stop;
extern double elapsedTime;

// Rows of a dot image the print engine takes at most.
inline constexpr int MAX_PAGE_ROWS = 6496;

// ---- what one page may cost ----------------------------------------------------------------------
// The recording covers the largest page with a page's width and length of room on every side (for
// the left margin and the top offset that shift it when it is rasterised); whatever is drawn
// beyond is clipped away at once and costs nothing later.
inline constexpr double RECORDING_X0 = -1728, RECORDING_Y0 = -MAX_PAGE_ROWS;
inline constexpr double RECORDING_WIDTH = 3 * 1728, RECORDING_HEIGHT = 3 * MAX_PAGE_ROWS;
// Rasterising costs about the area each drawing covers, every picture placed is copied into the
// recording, and a symbol costs about the number of its elements (bars, modules, letters). A page
// takes drawings until their areas (within the recording) add up to PAGE_AREA_BUDGET pages, their
// pictures' 1-bit copies to PAGE_PICTURE_BUDGET pages and their elements (one a drawing, one a
// symbol element) to PAGE_ELEMENT_BUDGET; later drawings of that page are left out (reported
// once). A real label uses a small part of each; together they keep every page below a second
// and a few tens of megabytes.
inline constexpr double PAGE_AREA_BUDGET = 16;
inline constexpr double PAGE_PICTURE_BUDGET = 4;
inline constexpr double PAGE_ELEMENT_BUDGET = 20000;
// Whether a drawing whose extents in the recording context's user space are (x0, y0)-(x1, y1) is
// recorded: false when it cannot reach the recorded area or the page's budget would be exceeded
// (then nothing is charged). picture_dots: the dots of a picture it copies into the recording;
// elements: what it counts against the element budget.
bool page_may_draw(double x0, double y0, double x1, double y1, double picture_dots = 0, double elements = 1);
// False once a drawing of this page has been left out for the budget: the caller may skip the
// work of preparing more (encoding a symbol, decoding a picture).
bool page_budget_left();

// ---- settings ----------------------------------------------------------------------------------
// Copies the constants and paths above from globalDefines; missing values get the device's
// defaults (1728 dots, 203 dpi, numerator 120, the standard folders).
void init_render_settings(const GlobalDefines& g);
// configFontFamily, configCPI and configLineSpacing of the image configuration. A missing file
// or a CPI of 0 leaves the defaults (Liberation Mono, 12 cpi, 4 dots).
void load_render_image_config(const std::string& image_config_path);
// configContrast of the paper file PAPER_CONFIG_FILEPATH (the contrast index of each job).
extern std::string PAPER_CONFIG_FILEPATH;
int get_default_contrast();

// ---- render state operations -----------------------------------------------------------------
void init_rendering_system();
void release_rendering_system();
void init_cairo_recording_surface();
void init_layout_context();
void update_layout_context();
void release_layout_context();
void init_font_description();
void create_new_font_descritption();
void update_font_description();
void release_font_description();
void set_font_description(const char* family, int point_size, int bold, double xscale, double yscale);
void init_text_attributes();
void update_text_attributes();
void release_text_attributes();
void enable_global_line_print();
void disable_global_line_print();

// Drops the current page (recording, layout, font, attributes) without printing it.
void discard_render_state();
// Builds the render state of a new page: recording, layout, default font, attributes.
void new_render_state();
// Drops the render state and the process's font caches (for a clean exit).
void release_font_resources();

// ---- test, fuzz and benchmark seams ----------------------------------------------------------
// Everything of the library a fresh process starts with: page inputs, text and barcode state,
// line-print position, contrast and image counters, no picture read before, with a new render
// state. The folders and the font caches stay.
void render_fresh_state();
// Every device path the library writes or reads (dot image intake, contrast trigger, scratch
// barcode file, paper file) moved below root, the folders created: nothing on the machine is
// touched.
void render_use_folders_under(const std::string& root);
// Called with the path of each dot image once it is written and closed (nothing when unset). A
// fuzz target or benchmark that has no print engine takes the image away here, as the engine
// would, so that the next label does not wait for it.
extern void (*dot_image_written)(const std::string& path);
// The same for each contrast trigger.
extern void (*contrast_trigger_written)(const std::string& path);

// ---- text ----------------------------------------------------------------------------------
struct TextSize {
    double width = 0;
    double height = 0;
};
int get_font_height(PangoLayout* layout);  // measures; logical height
int getLineWidth(PangoLayout* layout);     // measures; logical width
// Sets the layout's text to `length` bytes of text (all of it when length is 0) and measures it;
// the size is stretched by pango_xscale / pango_yscale.
TextSize text_get_layout_dimensions(const char* text, int length);
// Shows text with its logical box's top-left corner at (x, y) (line-print mode: at the running
// position). Returns the unscaled logical size measured before the text was set.
TextSize fill_pango_layout(int x, int y, const char* text);

// ---- look-ahead over a scanner's job file ------------------------------------------------------
extern FILE* yyin;  // the generated scanner's input (its own definition wins)
extern int peekedChars;
extern int continueParsing;
void buf_pchar_init();
int buf_pchar();
void buf_achar();

// ---- rasterising and hand-off ------------------------------------------------------------------
// Page height in rows for the current recording and page inputs (1 .. MAX_PAGE_ROWS).
int page_rows();
void render_image_as_dotimage();
// One more copy of the page: rasterised and written like render_image_as_dotimage, the render
// state kept for the next copy.
void render_image_as_dotimage2();
// A new A1 surface of an A8 surface's size: a dot is set where the coverage is at least one half.
cairo_surface_t* a1_from_coverage(cairo_surface_t* a8);
// A new A1 surface width x rows holding the recording scaled by `scale` and shifted by (dx, dy)
// (recording units, before the scale); a dot is ink where at least half of it is covered.
cairo_surface_t* rasterise_recording(cairo_surface_t* recording, int width, int rows, double scale, double dx, double dy);
// Turns an A1 image by 180 degrees within its first `width` dots (the dots beyond become blank).
void turn_a1_half(cairo_surface_t* a1, int width);
void write_dotimage(cairo_surface_t* image);
FILE* create_unique_file_name(const std::string& folder);
uint8_t Reverse8Bits(uint8_t b);
// The rows of an A1 image surface, row_bytes bytes each (at most its stride), most significant bit
// leftmost, 1 = ink: the bit order of dot images and stored graphics.
std::vector<uint8_t> a1_rows_msb_first(cairo_surface_t* a1, int row_bytes);
void start_one_pbm();
int init_get_newpbm();
int get_current_contrast();
void set_current_contrast(int index);
void start_dot_feeder();
// Waits (10 ms polls) until the contrast trigger slot is free, then creates it exclusively with
// the index. Each call writes exactly one trigger, whichever thread calls.
void write_contrast_trigger(int index);
// Scanner-driven page cycle: render_job_scanner (the interpreter's scanner) runs over the job.
extern int (*render_job_scanner)();
extern int line_counter;
void process_new_print_job(const char* path);
// Raster pass-through of a job that holds only ESC # / ESC V raster blocks.
void prepare_graphics_job_for_profiler(const char* path);
