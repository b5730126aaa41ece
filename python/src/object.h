/* desk._ext.Object: an object of a control library reached late-bound by member name, the base
 * of desk.Object on this path. Property reads and writes, method lookups, the default member
 * and subscripts are its slots; what is rare (iteration, comparison, repr) the package's class
 * over it adds in Python, shared with the ctypes path. */
#ifndef DESK_EXT_OBJECT_H
#define DESK_EXT_OBJECT_H

#include "member.h"
#include "module.h"

typedef struct DeskObject {
  PyObject_HEAD
  desk_object* h;   /* NULL once released, or for Nothing */
  TypeRecord* rec;  /* its interface's record, once needed */
  PyObject* weakrefs;
} DeskObject;

extern PyTypeObject ObjectBaseType;

/* A new desk.Object holding the handle's reference; NULL on failure (the handle not released). */
PyObject* object_wrap(desk_object* h);

/* The object's type record (read once per object from its interface), or NULL with a DeskError. */
TypeRecord* object_record(DeskObject* self);

/* The member of that name (exact, or in lower case), or NULL with a DeskError (438, an
 * AttributeError too). Borrowed. */
Member* object_member(DeskObject* self, PyObject* name);

#endif
