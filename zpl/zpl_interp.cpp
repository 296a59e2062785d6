// zpl_interp: the ZPL label interpreter. Job files moved or written into the engine intake become
// dot images for the print engine.
#include "label_process.h"
#include "zpl_lexer.h"

int main() { return run_label_interpreter(zpl_dialect, process_data_pthrd); }
