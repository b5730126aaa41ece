// The README's C host (built as C by the target first_window_c), compiled here unchanged as
// C++ beside Qt's start-up hook, run to its end offscreen.
#include <cstdio>

#include "quit_soon.h"
#include "first_window.c"
