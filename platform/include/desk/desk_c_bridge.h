// What a control library needs from the run-time to offer the C interface (desk_c.h): its
// <Lib>_DeskCreate and <Lib>_DeskTypeLib entry points are one call each to these.
#pragma once

#include <cstddef>
#include <cstdint>

#include "desk/desk_c.h"
#include "desk/dispatch.h"

namespace desk::capi {

using CreateObjectFn = int32_t (*)(const char* clsid, Object** out, char* message, size_t size);

// Creates through the library's C++ entry point and hands the object out as a handle;
// `source` (the library's name) goes into the error record.
DESK_C_API int32_t Create(CreateObjectFn create, const char* source, const char* clsid, desk_object** out, desk_error* err) noexcept;
// The C form of a type library, built once and kept while the library is loaded.
DESK_C_API const desk_typelib_info* TypeLib(const TypeLibInfo& lib) noexcept;

}  // namespace desk::capi
