// ZPL graphics and stored objects: downloaded bitmaps (~DG, ^GF) in their three encodings, the
// stored-object files (graphics, formats, pictures) and the commands that place, save, recall and
// delete them.
//
// Stored objects are files named from the object name "d:NAME.EXT": device R keeps them in the RAM
// folders, every other device in the flash folders. Names are checked before any file is touched:
// no "/", no "..", no control bytes, at most MAX_OBJECT_NAME bytes.
#pragma once

#include "settings.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

extern std::string PATH_TO_FORMATS, PATH_TO_GRAPHICS, PATH_TO_RAM_FORMATS, PATH_TO_RAM_GRAPHICS;
extern std::string PATH_TO_LOGOS;  // pictures: "<folder>/<name up to its first dot>.png"

inline constexpr size_t MAX_OBJECT_NAME = 64;
inline constexpr size_t MAX_OBJECT_PATH = 149;
// A graphic holds at most this many bitmap bytes (more than a whole page of the head) and rows of
// at most MAX_GRAPHIC_ROW_BYTES.
inline constexpr long MAX_GRAPHIC_BYTES = 2L * 1024 * 1024;
inline constexpr int MAX_GRAPHIC_ROW_BYTES = 1024;
inline constexpr int MAX_GRAPHIC_FACTOR = 10;  // ^XG magnification
inline constexpr size_t MAX_FORMAT_BYTES = 1024 * 1024;

enum class ObjectKind { None, Format, Graphic, Picture };

struct StoredObject {
    char device = 'R';
    std::string name;  // after the device and colon
    ObjectKind kind = ObjectKind::None;
    std::string path;  // empty for kind None
};

// Splits "d:NAME.EXT" (a name without a colon is on device R) and finds its file. False when the
// name is refused; a valid name of no known kind gives true with kind None and no path.
bool parse_object_name(const char* text, StoredObject& obj);

// The four object folders of globalDefines.cfg (the device's folders when a key is missing).
void init_object_folders(const GlobalDefines& g);

// A bitmap: rows() rows of row_bytes bytes, most significant bit leftmost, 1 = ink.
struct GraphicBitmap {
    long total = 0;
    int row_bytes = 0;
    std::vector<uint8_t> bits;  // `total` bytes
    long rows() const { return row_bytes > 0 ? total / row_bytes : 0; }
};

// Reads a stored graphic file. Bytes the file does not have are 0. False when the file cannot be
// opened or its header is out of range.
bool load_graphic_file(const std::string& path, GraphicBitmap& g);
// Stamps the bitmap with its top-left corner at (x, y), magnified by whole factors.
void place_graphic(const GraphicBitmap& g, int x, int y, int fx, int fy);

void dgdata();           // ~DG download graphic
void graphic_field();    // ^GF graphic field
void recall_grphic();    // ^XG
void image_load();       // ^IL
void image_move();       // ^IM
void image_save();       // ^IS
void del_object();       // ^ID
void download_format();  // ^DF
void recall_format();    // ^XF

// Stored formats. A label that recalls a format (^XF) fills its numbered fields with ^FN n ^FD;
// at the end of that label the format's commands are replayed with the stored fields in place.
bool format_recalled();   // this label recalled a format and has not replayed it yet
bool format_replaying();  // the commands being read come from a recalled format
// At the end of a label: starts the replay of the recalled format (true: the label goes on with
// it), or ends a replay that has finished (false).
bool start_format_replay();
// A fresh process: no format recalled, none being replayed.
void reset_format_replay();
