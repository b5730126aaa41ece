/* A method (or a property read with arguments) of one object, ready to call: what
 * `nodes.Add` is before its arguments. Called through vectorcall, so that keywords come as
 * names beside the values, with no dict made. */
#ifndef DESK_EXT_BOUND_H
#define DESK_EXT_BOUND_H

#include "member.h"
#include "object.h"

extern PyTypeObject BoundType;

PyObject* bound_new(DeskObject* obj, Member* m, int kind);

#endif
