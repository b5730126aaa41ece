// The README's C host (built as C by the target first_window_c), compiled here unchanged as
// C++ beside Qt's start-up hook, run to its end offscreen.
#include "quit_soon.h"

#define main host_main
#include "first_window.c"
#undef main

int main() { return Verdict(host_main()); }
