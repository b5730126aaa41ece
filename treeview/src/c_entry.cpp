// The library's entry points of the C interface (desk_c.h).
#include "VarbelTreeview/VarbelTreeview.h"
#include "desk/desk_c_bridge.h"

extern "C" {

DESK_C_API const desk_api* VarbelTreeview_DeskApi(uint32_t version, desk_error* err) { return desk_get_api(version, err); }

DESK_C_API int32_t VarbelTreeview_DeskCreate(const char* clsid, desk_object** out, desk_error* err) {
  return desk::capi::Create(&VarbelTreeview_CreateObject, "VarbelTreeview", clsid, out, err);
}

DESK_C_API const desk_typelib_info* VarbelTreeview_DeskTypeLib(void) { return desk::capi::TypeLib(*VarbelTreeview_TypeLib()); }

}  // extern "C"
