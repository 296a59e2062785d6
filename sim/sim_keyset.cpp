// sim_keyset FILE GROUP KEY VALUE: sets one key of a key file (the file is rewritten whole and
// "sync" is run), for the virtual printer's stand-ins and tests.
#include "keyfile.h"

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: sim_keyset FILE GROUP KEY VALUE\n");
        return 2;
    }
    return key_file_set_string(argv[1], argv[2], argv[3], argv[4]) ? 0 : 1;
}
