#include "fuzz_support.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace fs = std::filesystem;

namespace {
// The root's path for the exit handler: the string returned below is destroyed before it runs.
char root_at_exit[4096];

std::string make_root() {
    const char* tmp = std::getenv("TMPDIR");
    std::string tmpl = std::string(tmp && *tmp ? tmp : "/tmp") + "/printer_fuzz.XXXXXX";
    char* made = mkdtemp(tmpl.data());
    if (!made || std::strlen(made) >= sizeof root_at_exit) std::abort();
    std::strcpy(root_at_exit, made);
    std::atexit([] {
        std::error_code ec;
        fs::remove_all(root_at_exit, ec);
    });
    return made;
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
