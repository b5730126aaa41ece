/* A member of an interface, as _objects._Type fills it from the type information (name, id,
 * invoke kinds, parameters per kind, whether it is a read without arguments), and keyword
 * arguments placed in its declared order. */
#ifndef DESK_EXT_MEMBER_H
#define DESK_EXT_MEMBER_H

#include "module.h"

typedef struct Member {
  PyObject_HEAD
  PyObject* name;
  int id;
  int kinds;        /* desk_invoke_kind bits */
  PyObject* params; /* dict: invoke kind -> [(lower-case name, optional, by_ref)] */
  char read;        /* a property read that needs no argument */
  /* keyword -> its position, for calls of kind `kw_kind`: found once per spelling */
  PyObject* kw_positions;
  int kw_kind;
} Member;

extern PyTypeObject MemberType;

/* Positional arguments, then keywords (`kwnames` a tuple whose values follow the positional
 * ones in `args`, or a dict `kwargs`), in declared order with gaps Missing, into `out` (borrowed
 * references). `*out` is `space` when `cap` is enough, else memory to PyMem_Free. Returns the
 * count, or -1 with a DeskError (448) set. */
Py_ssize_t member_place(Member* m, int kind, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                        PyObject* kwargs, PyObject** space, Py_ssize_t cap, PyObject*** out);

#endif
