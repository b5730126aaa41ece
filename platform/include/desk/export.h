// Symbol visibility. The libraries are built with hidden symbols; what a host or a control
// library calls across a library boundary is marked with one of these. Classes with virtual
// functions are marked whole, so that their type information is one across libraries
// (dynamic_cast to desk::Control, catching desk::Error).
#pragma once

#if defined(__GNUC__) || defined(__clang__)
#define DESK_EXPORT __attribute__((visibility("default")))
#else
#define DESK_EXPORT
#endif

// The run-time, libDeskRuntime.
#define DESK_API DESK_EXPORT
// The Qt backend, libDeskQt.
#define DESK_QT_API DESK_EXPORT
