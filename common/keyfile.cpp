#include "keyfile.h"

#include "run.h"

#include <cstdio>

KeyFile::KeyFile() : kf_(g_key_file_new()) {}

KeyFile::KeyFile(const std::string& path) : KeyFile() { load(path); }

KeyFile::~KeyFile() { g_key_file_free(kf_); }

bool KeyFile::load(const std::string& path) {
    GError* err = nullptr;
    if (!g_key_file_load_from_file(kf_, path.c_str(), G_KEY_FILE_KEEP_COMMENTS, &err)) {
        g_clear_error(&err);
        g_key_file_free(kf_);
        kf_ = g_key_file_new();
        return false;
    }
    return true;
}

bool KeyFile::has(const char* group, const char* key) const {
    return g_key_file_has_key(kf_, group, key, nullptr);
}

std::string KeyFile::get_string(const char* group, const char* key) const {
    gchar* v = g_key_file_get_string(kf_, group, key, nullptr);
    if (!v) return {};
    std::string s(v);
    g_free(v);
    return s;
}

int KeyFile::get_int(const char* group, const char* key) const {
    return g_key_file_get_integer(kf_, group, key, nullptr);
}

double KeyFile::get_double(const char* group, const char* key) const {
    return g_key_file_get_double(kf_, group, key, nullptr);
}

void KeyFile::set_string(const char* group, const char* key, const std::string& value) {
    g_key_file_set_string(kf_, group, key, value.c_str());
}

void KeyFile::set_int(const char* group, const char* key, int value) {
    g_key_file_set_integer(kf_, group, key, value);
}

void KeyFile::set_value(const char* group, const char* key, const std::string& raw) {
    g_key_file_set_value(kf_, group, key, raw.c_str());
}

std::string KeyFile::to_data() const {
    gsize len = 0;
    gchar* data = g_key_file_to_data(kf_, &len, nullptr);
    std::string s(data ? data : "", data ? len : 0);
    g_free(data);
    return s;
}

bool KeyFile::save(const std::string& path) const {
    std::string text = to_data();
    FILE* f = std::fopen(path.c_str(), "w");
    if (!f) return false;
    bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    ok = (std::fflush(f) == 0) && ok;
    ok = (std::fclose(f) == 0) && ok;
    run_shell("sync");
    return ok;
}

std::string key_string(const std::string& path, const char* group, const char* key) {
    return KeyFile(path).get_string(group, key);
}

int key_int(const std::string& path, const char* group, const char* key) {
    return KeyFile(path).get_int(group, key);
}

double key_double(const std::string& path, const char* group, const char* key) {
    return KeyFile(path).get_double(group, key);
}

bool key_file_set_string(const std::string& path, const char* group, const char* key, const std::string& value) {
    KeyFile kf(path);
    kf.set_string(group, key, value);
    return kf.save(path);
}

bool key_file_set_int(const std::string& path, const char* group, const char* key, int value) {
    KeyFile kf(path);
    kf.set_int(group, key, value);
    return kf.save(path);
}
