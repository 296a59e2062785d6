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

// ---- dot image hand-off ----------------------------------------------------------------------
extern std::string nameBuff;    // the last dot image this process created
extern int newpbm;              // 1 when an image was started since init_get_newpbm last asked
extern std::atomic<int> currentContrast;
extern int global_number_of_copies;
extern struct timespec start, stop;
extern double elapsedTime;

// Rows of a dot image the print engine takes at most.
inline constexpr int MAX_PAGE_ROWS = 6496;

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
