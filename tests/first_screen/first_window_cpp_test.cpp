// The README's C++ host, compiled unchanged, run to its end offscreen.
#include "quit_soon.h"

#define main host_main
#include "first_window.cpp"
#undef main

int main(int argc, char** argv) { return Verdict(host_main(argc, argv)); }
