/* Member calls through desk_invoke: arguments converted, by-reference targets taken back into
 * their ByRef objects, the result converted, failures raised. */
#ifndef DESK_EXT_CALL_H
#define DESK_EXT_CALL_H

#include "member.h"
#include "module.h"
#include "object.h"

/* Positional arguments only. */
PyObject* call_invoke(desk_object* h, int32_t id, int32_t kind, PyObject* const* args, Py_ssize_t n);

/* With keywords placed by `m`'s parameters (kwnames: a vectorcall tuple, values after the
 * positional ones; or a dict). */
PyObject* call_member(DeskObject* self, Member* m, int32_t id, int32_t kind, PyObject* const* args,
                      Py_ssize_t nargs, PyObject* kwnames, PyObject* kwargs);

#endif
