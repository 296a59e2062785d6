// jpl_interp: the JPL label interpreter. Job files moved or written into the engine intake become
// dot images for the print engine.
#include "jpl_state.h"
#include "label_process.h"

int main() { return run_label_interpreter(jpl_dialect, jpl_process_data_pthrd); }
