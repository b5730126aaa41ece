// The library's entry points of the C interface (desk_c.h).
#include "Quorvane/Quorvane.h"
#include "desk/desk_c_bridge.h"

extern "C" {

DESK_C_API const desk_api* Quorvane_DeskApi(uint32_t version, desk_error* err) { return desk_get_api(version, err); }

DESK_C_API int32_t Quorvane_DeskCreate(const char* clsid, desk_object** out, desk_error* err) {
  return desk::capi::Create(&Quorvane_CreateObject, "Quorvane", clsid, out, err);
}

DESK_C_API const desk_typelib_info* Quorvane_DeskTypeLib(void) { return desk::capi::TypeLib(*Quorvane_TypeLib()); }

}  // extern "C"
