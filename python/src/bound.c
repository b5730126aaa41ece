#include "bound.h"

#include <stddef.h>

#include "call.h"

typedef struct Bound {
  PyObject_HEAD
  vectorcallfunc vectorcall;
  DeskObject* obj;
  Member* member;
  int kind;
} Bound;

static PyObject* bound_vectorcall(PyObject* o, PyObject* const* args, size_t nargsf, PyObject* kwnames) {
  Bound* b = (Bound*)o;
  if (ext_check_thread() < 0) return NULL;
  return call_member(b->obj, b->member, b->member->id, b->kind, args, PyVectorcall_NARGS(nargsf), kwnames, NULL);
}

PyObject* bound_new(DeskObject* obj, Member* m, int kind) {
  Bound* b = PyObject_New(Bound, &BoundType);
  if (!b) return NULL;
  b->vectorcall = bound_vectorcall;
  b->obj = (DeskObject*)Py_NewRef((PyObject*)obj);
  b->member = (Member*)Py_NewRef((PyObject*)m);
  b->kind = kind;
  return (PyObject*)b;
}

static void bound_dealloc(PyObject* o) {
  Bound* b = (Bound*)o;
  Py_DECREF(b->obj);
  Py_DECREF(b->member);
  PyObject_Free(o);
}

static PyObject* bound_subscript(PyObject* o, PyObject* key) {
  if (PyTuple_Check(key)) return bound_vectorcall(o, &PyTuple_GET_ITEM(key, 0), (size_t)PyTuple_GET_SIZE(key), NULL);
  return bound_vectorcall(o, &key, 1, NULL);
}

static PyObject* bound_repr(PyObject* o) { return PyUnicode_FromFormat("<desk method %S>", ((Bound*)o)->member->name); }

static PyMappingMethods bound_mapping = {.mp_subscript = bound_subscript};

PyTypeObject BoundType = {
    PyVarObject_HEAD_INIT(NULL, 0)
    .tp_name = "desk._ext.Bound",
    .tp_doc = "A method of one object, ready to call.",
    .tp_basicsize = sizeof(Bound),
    .tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_VECTORCALL,
    .tp_vectorcall_offset = offsetof(Bound, vectorcall),
    .tp_call = PyVectorcall_Call,
    .tp_dealloc = bound_dealloc,
    .tp_as_mapping = &bound_mapping,
    .tp_repr = bound_repr,
};
