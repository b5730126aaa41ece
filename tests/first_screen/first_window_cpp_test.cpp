// The README's C++ host, compiled unchanged, run to its end offscreen.
#include <cstdio>

#include "quit_soon.h"
#include "first_window.cpp"
