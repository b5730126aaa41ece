// Type information in its C form (desk_interface_info, desk_typelib_info), built from the
// library's own tables once and kept while the library is loaded; hosts never free it.
#pragma once

#include "desk/desk_c.h"
#include "desk/dispatch.h"

namespace desk::capi {

// The C form of an interface (built on first use; throws when memory runs out).
const desk_interface_info* InterfaceOf(const InterfaceInfo& i);

}  // namespace desk::capi
