#include "fuzz_support.h"

#include <cstdlib>
#include <filesystem>

namespace fs = std::filesystem;

namespace {
std::string make_root() {
    const char* tmp = std::getenv("TMPDIR");
    std::string tmpl = std::string(tmp && *tmp ? tmp : "/tmp") + "/printer_fuzz.XXXXXX";
    char* made = mkdtemp(tmpl.data());
    if (!made) std::abort();
    std::atexit([] {
        std::error_code ec;
        fs::remove_all(fuzz_root(), ec);
    });
    return made;
}
}  // namespace

const std::string& fuzz_root() {
    // Never destroyed: the exit handler that removes the folder runs after static destructors.
    static const std::string& root = *new std::string(make_root());
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
