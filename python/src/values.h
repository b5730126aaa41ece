/* Python values and C values (desk_value), each way, as _convert makes them on the ctypes path:
 * the same kinds for the same Python types, the same errors. */
#ifndef DESK_EXT_VALUES_H
#define DESK_EXT_VALUES_H

#include "module.h"

/* What must outlive one call: string buffers, by-reference targets, lent host handles and the
 * Python values whose text is lent in place. On the caller's stack; small calls allocate
 * nothing. */
#define KEEP_SPACE 1024
typedef struct Keep {
  _Alignas(16) unsigned char space[KEEP_SPACE];
  size_t used;
  void** blocks; /* allocations beyond `space` */
  Py_ssize_t nblocks;
  desk_object** lent;
  Py_ssize_t nlent;
  PyObject** refs;
  Py_ssize_t nrefs;
} Keep;

void keep_init(Keep* k);
/* Gives back the lent handles, the references and the blocks. */
void keep_done(Keep* k);
/* `bytes` of memory (16-byte aligned) that lives until keep_done; NULL with an exception. */
void* keep_alloc(Keep* k, size_t bytes);

/* `x` as a C value for one call: 0, or -1 with a DeskError set. */
int values_to_c(PyObject* x, desk_value* v, Keep* keep);

/* A value the caller owns, as Python; the C value is given back (cleared) either way. */
PyObject* values_take(desk_value* v);
/* A value the library still owns, as Python. */
PyObject* values_peek(const desk_value* v);

/* A handle as a Python object; `owned`: the handle's reference is handed to the result (and
 * given back when no result can be made). */
PyObject* values_object(desk_object* h, int owned);

/* Text of UTF-16 code units as str; unpaired surrogates pass unchanged. */
PyObject* values_str(const uint16_t* data, int32_t length);

#endif
