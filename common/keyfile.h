// Key files: INI-style settings files in the GLib key-file syntax.
//
// Reading never fails loudly: a missing file, group or key reads as an absent (empty) string
// or 0, exactly like the typed GLib getters without an error argument. Writing rewrites the
// whole file (comments and order kept) and then runs "sync" so the flash file system commits.
#pragma once

#include <glib.h>

#include <string>

class KeyFile {
public:
    KeyFile();
    explicit KeyFile(const std::string& path);  // load(path)
    ~KeyFile();
    KeyFile(const KeyFile&) = delete;
    KeyFile& operator=(const KeyFile&) = delete;

    // Loads with the keep-comments flag; a failure leaves an empty key file and returns false.
    bool load(const std::string& path);

    bool has(const char* group, const char* key) const;
    // Absent string: "". Absent or malformed numbers: 0 ("203.5" is 0 for the integer reader).
    std::string get_string(const char* group, const char* key) const;
    int get_int(const char* group, const char* key) const;
    double get_double(const char* group, const char* key) const;

    void set_string(const char* group, const char* key, const std::string& value);
    void set_int(const char* group, const char* key, int value);
    void set_value(const char* group, const char* key, const std::string& raw);

    std::string to_data() const;
    // Truncates and writes the whole text, then runs "sync". A target that cannot be opened
    // is left as it was; returns false then.
    bool save(const std::string& path) const;

    GKeyFile* raw() const { return kf_; }

private:
    GKeyFile* kf_;
};

// One-shot readers for a single key.
std::string key_string(const std::string& path, const char* group, const char* key);
int key_int(const std::string& path, const char* group, const char* key);
double key_double(const std::string& path, const char* group, const char* key);

// Load, set one value, save (and sync): the writing routine of the programs.
bool key_file_set_string(const std::string& path, const char* group, const char* key, const std::string& value);
bool key_file_set_int(const std::string& path, const char* group, const char* key, int value);
