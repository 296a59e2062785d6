// Makes every folder read through for_each_entry (common/folder.h) fail part way, as readdir does
// on a 32-bit build without large-file support (EOVERFLOW) or on a failing disk (EIO): the first
// `good` entries (besides "." and "..") are read, then readdir gives up with `err`.
#pragma once

#include "folder.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>

class FailingReaddir {
public:
    FailingReaddir(int good, int err) {
        state() = {good, err, 0};
        set_readdir_for_tests(&read_one);
    }
    ~FailingReaddir() { set_readdir_for_tests(nullptr); }
    FailingReaddir(const FailingReaddir&) = delete;
    FailingReaddir& operator=(const FailingReaddir&) = delete;

private:
    struct State {
        int good, err, given;
    };
    static State& state() {
        static State s{};
        return s;
    }
    static struct dirent* read_one(DIR* d) {
        State& s = state();
        if (s.given >= s.good) {
            errno = s.err;
            return nullptr;
        }
        struct dirent* e = readdir(d);
        if (e && std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) ++s.given;
        return e;
    }
};
