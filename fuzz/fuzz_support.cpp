#include "fuzz_support.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace fs = std::filesystem;

namespace {
// A plain array: the exit handler that removes the root may run after static strings are gone.
char root_path[4096];

void remove_root() {
    std::error_code ec;
    if (root_path[0]) fs::remove_all(root_path, ec);
}

std::string make_root() {
    const char* tmp = std::getenv("TMPDIR");
    std::string tmpl = std::string(tmp && *tmp ? tmp : "/tmp") + "/printer_fuzz.XXXXXX";
    if (tmpl.size() >= sizeof root_path) std::abort();
    std::memcpy(root_path, tmpl.c_str(), tmpl.size() + 1);
    if (!mkdtemp(root_path)) std::abort();
    std::atexit(remove_root);
    return root_path;
}
}  // namespace

const std::string& fuzz_root() {
    static const std::string root = make_root();
    return root;
}

std::string fuzz_dir(const std::string& name) {
    std::string path = fuzz_root() + "/" + name;
    std::error_code ec;
    fs::create_directories(path, ec);
    return path;
}

void fuzz_empty_dir(const std::string& path) {
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(path, ec)) fs::remove_all(e.path(), ec);
}

// fontconfig keeps (and, parsing its configuration, leaks) memory for the life of the process;
// the font caches it hands out are not the parsers' leaks.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
