#include "module.h"

#include <stddef.h>
#include <string.h>

#include "bound.h"
#include "member.h"
#include "object.h"

ExtState ext_state_storage;

int ext_ready(void) {
  if (ext_state()->api) return 0;
  PyErr_SetString(PyExc_RuntimeError, "desk._ext is not set up: the desk package sets it up when its libraries load");
  return -1;
}

int ext_check_thread_slow(void) {
  ExtState* st = ext_state();
  if (!st->thread_check) return 0;
  PyObject* r = PyObject_CallNoArgs(st->thread_check);
  if (!r) return -1;
  Py_DECREF(r);
  st->ui_thread = PyThread_get_thread_ident();
  st->ui_thread_known = 1;
  return 0;
}

PyObject* ext_raise(PyObject* cls, int number, PyObject* text, PyObject* source) {
  PyObject* e = source ? PyObject_CallFunction(cls, "iOO", number, text, source)
                       : PyObject_CallFunction(cls, "iOs", number, text, "desk");
  if (e) {
    PyErr_SetObject((PyObject*)Py_TYPE(e), e);
    Py_DECREF(e);
  }
  return NULL;
}

PyObject* ext_raise_error(int number, PyObject* text, PyObject* source) {
  return ext_raise(ext_state()->desk_error, number, text, source);
}

/* The numbers the extension raises with their text alone; setup checks the package has each. */
static const int text_numbers[] = {DESK_E_OVERFLOW, DESK_E_TYPE_MISMATCH, DESK_E_OBJECT_NOT_SET, DESK_E_NOT_SUPPORTED};

PyObject* ext_text(int number) {
  PyObject* key = PyLong_FromLong(number);
  PyObject* text = key ? PyDict_GetItem(ext_state()->texts, key) : NULL;
  Py_XDECREF(key);
  if (!text && !PyErr_Occurred()) PyErr_Format(PyExc_RuntimeError, "desk._errors.TEXTS has no text for %d", number);
  return text;
}

PyObject* ext_raise_text(int number, PyObject* source) {
  PyObject* text = ext_text(number);
  return text ? ext_raise_error(number, text, source) : NULL;
}

static int has_texts(PyObject* texts) {
  if (!PyDict_Check(texts)) return 0;
  for (size_t i = 0; i < sizeof text_numbers / sizeof text_numbers[0]; ++i) {
    PyObject* key = PyLong_FromLong(text_numbers[i]);
    PyObject* text = key ? PyDict_GetItem(texts, key) : NULL;
    Py_XDECREF(key);
    if (!text || !PyUnicode_Check(text)) return 0;
  }
  return 1;
}

PyObject* ext_fail(const desk_error* err) {
  /* The package makes the exception, so that a Python failure inside a callback that caused
   * this one becomes its cause, as on the ctypes path. */
  PyObject* e = PyObject_CallFunction(ext_state()->error_for, "iyy", (int)err->number, err->text, err->source);
  if (e) {
    PyErr_SetObject((PyObject*)Py_TYPE(e), e);
    Py_DECREF(e);
  }
  return NULL;
}

/* The records, one per interface met: a few dozen at most, found by a scan. Never freed: type
 * information lives as long as the libraries. */
static TypeRecord** records;
static Py_ssize_t nrecords;

static PyObject* attr_or_null(PyObject* o, const char* name) {
  PyObject* v = PyObject_GetAttrString(o, name);
  if (v == Py_None) Py_CLEAR(v);
  return v;
}

TypeRecord* ext_record(const desk_interface_info* info) {
  for (Py_ssize_t i = 0; i < nrecords; ++i)
    if (records[i]->info == info) return records[i];
  PyObject* address = PyLong_FromVoidPtr((void*)info);
  if (!address) return NULL;
  PyObject* type = PyObject_CallOneArg(ext_state()->type_for, address);
  Py_DECREF(address);
  if (!type) return NULL;
  TypeRecord* r = PyMem_Calloc(1, sizeof *r);
  TypeRecord** grown = r ? PyMem_Realloc(records, (size_t)(nrecords + 1) * sizeof *records) : NULL;
  if (!grown) {
    PyMem_Free(r);
    Py_DECREF(type);
    PyErr_NoMemory();
    return NULL;
  }
  records = grown;
  r->info = info;
  r->type = type;
  r->members = PyObject_GetAttrString(type, "members");
  r->name = PyObject_GetAttrString(type, "name");
  r->value = r->members && r->name ? attr_or_null(type, "value") : NULL;
  if (!r->members || !r->name || PyErr_Occurred() || !PyDict_Check(r->members) ||
      (r->value && !PyObject_TypeCheck(r->value, &MemberType))) {
    if (!PyErr_Occurred()) PyErr_SetString(PyExc_TypeError, "a type record needs a dict of desk._ext.Member");
    Py_XDECREF(r->members);
    Py_XDECREF(r->name);
    Py_XDECREF(r->value);
    Py_DECREF(type);
    PyMem_Free(r);
    return NULL;
  }
  records[nrecords++] = r;
  return r;
}

/* What the extension takes from the package, by module and name, when setup runs: its
 * libraries are loaded then, so every module below is whole (or imported here, downward). */
static const struct Import {
  const char* module;
  const char* name;
  size_t field; /* offset of the PyObject* in ExtState */
} imports[] = {
    {"desk._objects", "Object", offsetof(ExtState, object_class)},
    {"desk._objects", "_type_at", offsetof(ExtState, type_for)},
    {"desk._objects", "_error_for", offsetof(ExtState, error_for)},
    {"desk._errors", "DeskError", offsetof(ExtState, desk_error)},
    {"desk._errors", "_DeskAttributeError", offsetof(ExtState, attribute_error)},
    {"desk._errors", "TEXTS", offsetof(ExtState, texts)},
    {"desk._handles", "host_by_handle", offsetof(ExtState, host_by_handle)},
    {"desk._convert", "_object_from", offsetof(ExtState, object_from)},
    {"desk._host", "HostObject", offsetof(ExtState, host_object)},
    {"desk._values", "ByRef", offsetof(ExtState, byref)},
    {"desk._values", "Integer", offsetof(ExtState, integer)},
    {"desk._values", "Single", offsetof(ExtState, single)},
    {"desk._values", "Missing", offsetof(ExtState, missing)},
    {"desk._values", "Empty", offsetof(ExtState, empty)},
    {"desk._thread", "records", offsetof(ExtState, thread_check)},
};

static PyObject** field_of(ExtState* s, size_t offset) { return (PyObject**)((char*)s + offset); }

static PyObject* setup(PyObject* module, PyObject* arg) {
  (void)module;
  const desk_api* api = PyLong_AsVoidPtr(arg);
  if (!api && PyErr_Occurred()) return NULL;
  if (!api || (api->version >> 16) != DESK_C_VERSION_MAJOR || (int)(api->version & 0xFFFF) < DESK_C_VERSION_MINOR) {
    PyErr_Format(PyExc_ImportError, "desk._ext was built for interface version %d.%d; the library provides %u.%u",
                 DESK_C_VERSION_MAJOR, DESK_C_VERSION_MINOR, api ? api->version >> 16 : 0u,
                 api ? api->version & 0xFFFF : 0u);
    return NULL;
  }
  ExtState s;
  memset(&s, 0, sizeof s);
  const size_t n = sizeof imports / sizeof imports[0];
  size_t got = 0;
  for (; got < n; ++got) {
    PyObject* m = PyImport_ImportModule(imports[got].module);
    PyObject* v = m ? PyObject_GetAttrString(m, imports[got].name) : NULL;
    Py_XDECREF(m);
    if (!v) break;
    *field_of(&s, imports[got].field) = v;
  }
  const char* wrong = NULL;
  if (got == n && !(PyType_Check(s.object_class) && PyType_IsSubtype((PyTypeObject*)s.object_class, &ObjectBaseType)))
    wrong = "desk._objects.Object must derive from desk._ext.Object";
  else if (got == n && !PyDict_Check(s.host_by_handle))
    wrong = "desk._handles.host_by_handle must be a dict";
  else if (got == n && !has_texts(s.texts))
    wrong = "desk._errors.TEXTS must give a text for each number the extension raises";
  if (wrong) PyErr_SetString(PyExc_TypeError, wrong);
  if (got < n || wrong) {
    for (size_t i = 0; i < got; ++i) Py_DECREF(*field_of(&s, imports[i].field));
    return NULL;
  }
  /* What a second setup replaces stays referenced: objects made before may still use it. */
  ExtState* st = ext_state();
  s.value_name = st->value_name;
  s.api = api;
  *st = s;
  Py_RETURN_NONE;
}

static PyObject* set_thread_check(PyObject* module, PyObject* check) {
  (void)module;
  if (check != Py_None && !PyCallable_Check(check)) {
    PyErr_SetString(PyExc_TypeError, "set_thread_check takes a function or None");
    return NULL;
  }
  ExtState* st = ext_state();
  Py_XSETREF(st->thread_check, check == Py_None ? NULL : Py_NewRef(check));
  st->ui_thread_known = 0;
  Py_RETURN_NONE;
}

static PyMethodDef module_methods[] = {
    {"setup", setup, METH_O,
     "setup(api): the address of the C interface's table, handed over by the package's loader once its "
     "libraries load; the extension then takes what it needs from the package's modules by name."},
    {"set_thread_check", set_thread_check, METH_O,
     "set_thread_check(check): check() raises the package's error on a thread other than the UI thread; "
     "the extension asks it before it touches anything (None: no check)."},
    {NULL, NULL, 0, NULL},
};

static struct PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    .m_name = "desk._ext",
    .m_doc = "The compiled fast path of the desk package over desk/desk_c.h: its objects' property reads and "
             "writes, method calls and value conversions.",
    .m_size = -1,
    .m_methods = module_methods,
};

PyMODINIT_FUNC PyInit__ext(void) {
  PyTypeObject* types[] = {&MemberType, &ObjectBaseType, &BoundType};
  for (size_t i = 0; i < sizeof types / sizeof types[0]; ++i)
    if (PyType_Ready(types[i]) < 0) return NULL;
  ExtState* st = ext_state();
  if (!st->value_name && !(st->value_name = PyUnicode_InternFromString("value"))) return NULL;
  PyObject* m = PyModule_Create(&module_def);
  if (!m) return NULL;
  if (PyModule_AddObjectRef(m, "Object", (PyObject*)&ObjectBaseType) < 0 ||
      PyModule_AddObjectRef(m, "Member", (PyObject*)&MemberType) < 0 ||
      PyModule_AddObjectRef(m, "Bound", (PyObject*)&BoundType) < 0 ||
      PyModule_AddIntConstant(m, "VERSION", (long)DESK_C_VERSION) < 0) {
    Py_DECREF(m);
    return NULL;
  }
  return m;
}
