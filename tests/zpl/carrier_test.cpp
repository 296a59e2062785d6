#include "zpl_test_support.h"
