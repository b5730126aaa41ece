// C entry points of libVarbelTreeview.so, for hosts that load it with dlopen.
//
//   VarbelTreeview_CreateObject(clsid, &obj, message, size)
//     Creates a public creatable class by its identifier, braces form, any letter case
//     ("{D5CA163D-6878-4BD8-A144-A5E85A414594}" for VarbelTreeviewControl). Returns 0 and a
//     new object with one reference that the caller releases, or an error number (429 for an
//     unknown class or one that hosts may not create) with a text in `message`.
//   VarbelTreeview_TypeLib()
//     The type library: classes, interfaces in order, members with ids, kinds and parameters,
//     and the event interface with ids and help texts.
//
// The same for hosts in any language, through the C interface of desk/desk_c.h:
// VarbelTreeview_DeskApi, VarbelTreeview_DeskCreate and VarbelTreeview_DeskTypeLib.
#pragma once

#include <cstddef>
#include <cstdint>

#include "desk/desk_c.h"
#include "desk/dispatch.h"
#include "desk/export.h"

extern "C" {
DESK_EXPORT int32_t VarbelTreeview_CreateObject(const char* clsid, desk::Object** out, char* message, size_t size);
DESK_EXPORT const desk::TypeLibInfo* VarbelTreeview_TypeLib();
DESK_C_API const desk_api* VarbelTreeview_DeskApi(uint32_t version, desk_error* err);
DESK_C_API int32_t VarbelTreeview_DeskCreate(const char* clsid, desk_object** out, desk_error* err);
DESK_C_API const desk_typelib_info* VarbelTreeview_DeskTypeLib(void);
}
