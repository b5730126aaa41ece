#include "member.h"

#include <stddef.h>
#include <string.h>

#include <structmember.h>

static PyObject* member_new(PyTypeObject* type, PyObject* args, PyObject* kwds) {
  PyObject* name;
  int id;
  static char* names[] = {"name", "id", NULL};
  if (!PyArg_ParseTupleAndKeywords(args, kwds, "Ui:Member", names, &name, &id)) return NULL;
  PyObject* params = PyDict_New();
  if (!params) return NULL;
  Member* m = (Member*)type->tp_alloc(type, 0);
  if (!m) {
    Py_DECREF(params);
    return NULL;
  }
  m->name = Py_NewRef(name);
  m->id = id;
  m->params = params;
  return (PyObject*)m;
}

static void member_dealloc(PyObject* o) {
  Member* m = (Member*)o;
  Py_XDECREF(m->name);
  Py_XDECREF(m->params);
  Py_XDECREF(m->kw_positions);
  Py_TYPE(o)->tp_free(o);
}

static PyObject* member_repr(PyObject* o) { return PyUnicode_FromFormat("<desk member %R %d>", ((Member*)o)->name, ((Member*)o)->id); }

static PyMemberDef member_fields[] = {
    {"name", T_OBJECT_EX, offsetof(Member, name), 0, "the member's name as declared"},
    {"id", T_INT, offsetof(Member, id), 0, "its member id"},
    {"kinds", T_INT, offsetof(Member, kinds), 0, "its invoke kinds, as bits"},
    {"params", T_OBJECT_EX, offsetof(Member, params), 0, "invoke kind -> [(lower-case name, optional, by_ref)]"},
    {"read", T_BOOL, offsetof(Member, read), 0, "a property read that needs no argument"},
    {NULL, 0, 0, 0, NULL},
};

PyTypeObject MemberType = {
    PyVarObject_HEAD_INIT(NULL, 0)
    .tp_name = "desk._ext.Member",
    .tp_doc = "A member of an interface: name, id, invoke kinds and parameters.",
    .tp_basicsize = sizeof(Member),
    .tp_flags = Py_TPFLAGS_DEFAULT,
    .tp_new = member_new,
    .tp_dealloc = member_dealloc,
    .tp_repr = member_repr,
    .tp_members = member_fields,
};

/* The parameters keywords are placed by: those of `kind`, else of a read, else of a method
 * (the first list that is not empty). 0 with *out borrowed or NULL (none), or -1. */
static int params_for(Member* m, int kind, PyObject** out) {
  const int kinds[3] = {kind, DESK_GET, DESK_METHOD};
  *out = NULL;
  for (int i = 0; i < 3; ++i) {
    PyObject* key = PyLong_FromLong(kinds[i]);
    if (!key) return -1;
    PyObject* p = PyDict_GetItemWithError(m->params, key);
    Py_DECREF(key);
    if (!p && PyErr_Occurred()) return -1;
    if (p && PyList_Check(p) && PyList_GET_SIZE(p) > 0) {
      *out = p;
      return 0;
    }
  }
  return 0;
}

/* The position of a keyword among `params` (letter case ignored): >= 0, -2 when there is none,
 * or -1 with an exception. Each spelling is looked up once per kind of call. */
static Py_ssize_t position(Member* m, int kind, PyObject* params, PyObject* name) {
  if (!m->kw_positions || m->kw_kind != kind) {
    Py_XSETREF(m->kw_positions, PyDict_New());
    if (!m->kw_positions) return -1;
    m->kw_kind = kind;
  }
  PyObject* known = PyDict_GetItemWithError(m->kw_positions, name);
  if (known) return PyLong_AsSsize_t(known);
  if (PyErr_Occurred()) return -1;
  PyObject* lower = PyObject_CallMethod(name, "lower", NULL);
  if (!lower) return -1;
  const Py_ssize_t n = params ? PyList_GET_SIZE(params) : 0;
  Py_ssize_t i = 0;
  for (; i < n; ++i) {
    PyObject* param = PyList_GET_ITEM(params, i);
    if (!PyTuple_Check(param) || PyTuple_GET_SIZE(param) < 1) continue;
    int same = PyObject_RichCompareBool(PyTuple_GET_ITEM(param, 0), lower, Py_EQ);
    if (same < 0) {
      Py_DECREF(lower);
      return -1;
    }
    if (same) break;
  }
  Py_DECREF(lower);
  if (i == n) return -2;
  PyObject* at = PyLong_FromSsize_t(i);
  if (!at || PyDict_SetItem(m->kw_positions, name, at) < 0) {
    Py_XDECREF(at);
    return -1;
  }
  Py_DECREF(at);
  return i;
}

static void named_error(const char* what, PyObject* name, Member* m) {
  PyObject* text = PyUnicode_FromFormat("%s%U", what, name);
  if (!text) return;
  ext_raise_error(DESK_E_NAMED_ARGUMENT, text, m->name);
  Py_DECREF(text);
}

Py_ssize_t member_place(Member* m, int kind, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                        PyObject* kwargs, PyObject** space, Py_ssize_t cap, PyObject*** out) {
  PyObject* params;
  if (params_for(m, kind, &params) < 0) return -1;
  const Py_ssize_t np = params ? PyList_GET_SIZE(params) : 0;
  const Py_ssize_t need = nargs > np ? nargs : np; /* a keyword lands among the parameters */
  PyObject** o = space;
  if (need > cap && !(o = PyMem_Malloc((size_t)need * sizeof *o))) {
    PyErr_NoMemory();
    return -1;
  }
  if (nargs) memcpy(o, args, (size_t)nargs * sizeof *o);
  Py_ssize_t n = nargs, next = 0;
  const Py_ssize_t nkw = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
  for (Py_ssize_t k = 0;; ++k) {
    PyObject *name, *value;
    if (kwnames) {
      if (k >= nkw) break;
      name = PyTuple_GET_ITEM(kwnames, k);
      value = args[nargs + k];
    } else if (!kwargs || !PyDict_Next(kwargs, &next, &name, &value)) {
      break;
    }
    Py_ssize_t i = position(m, kind, params, name);
    if (i < 0 || i < nargs) {
      if (i == -2 || i >= 0) named_error(i < 0 ? "Named argument not found: " : "Argument given twice: ", name, m);
      if (o != space) PyMem_Free(o);
      return -1;
    }
    while (n <= i) o[n++] = ext_state()->missing;
    o[i] = value;
  }
  *out = o;
  return n;
}
