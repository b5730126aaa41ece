// Symbols of the run-time's internals that its own tests reach, and nothing else: exported
// from a build with the tests (DESK_AUTOTEST_EXPORT), hidden in every other, so that a
// shipped library offers no entry point outside its public headers.
#pragma once

#include "desk/export.h"

#ifdef DESK_AUTOTEST_EXPORT
#define DESK_AUTOTEST_API DESK_EXPORT
#else
#define DESK_AUTOTEST_API
#endif
