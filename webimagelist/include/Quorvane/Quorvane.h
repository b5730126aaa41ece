// The library's entry points: creation by class identifier and its type library.
// Only ucMain is creatable; httpImages and httpImage answer 429. The C interface of
// desk/desk_c.h: Quorvane_DeskApi, Quorvane_DeskCreate and Quorvane_DeskTypeLib.
#pragma once

#include <cstddef>
#include <cstdint>

#include "desk/desk_c.h"
#include "desk/dispatch.h"
#include "desk/export.h"

namespace Quorvane {
inline constexpr const char* kLibraryId = "{74924FA6-9510-4339-8B5D-F6C5283BC11B}";
}

extern "C" {
DESK_EXPORT int32_t Quorvane_CreateObject(const char* clsid, desk::Object** out, char* message, size_t size);
DESK_EXPORT const desk::TypeLibInfo* Quorvane_TypeLib();
DESK_C_API const desk_api* Quorvane_DeskApi(uint32_t version, desk_error* err);
DESK_C_API int32_t Quorvane_DeskCreate(const char* clsid, desk_object** out, desk_error* err);
DESK_C_API const desk_typelib_info* Quorvane_DeskTypeLib(void);
}
