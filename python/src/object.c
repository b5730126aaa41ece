#include "object.h"

#include <stddef.h>

#include "bound.h"
#include "call.h"
#include "values.h"

PyObject* object_wrap(desk_object* h) {
  PyTypeObject* cls = (PyTypeObject*)ext_state()->object_class;
  DeskObject* o = (DeskObject*)cls->tp_alloc(cls, 0);
  if (o) o->h = h;
  return (PyObject*)o;
}

static PyObject* object_new(PyTypeObject* type, PyObject* args, PyObject* kwds) {
  PyObject* handle;
  static char* names[] = {"handle", NULL};
  if (!PyArg_ParseTupleAndKeywords(args, kwds, "O:Object", names, &handle)) return NULL;
  desk_object* h = NULL;
  if (handle != Py_None && !(h = PyLong_AsVoidPtr(handle)) && PyErr_Occurred()) return NULL;
  DeskObject* o = (DeskObject*)type->tp_alloc(type, 0);
  if (o) o->h = h;
  return (PyObject*)o;
}

static void object_dealloc(PyObject* o) {
  DeskObject* self = (DeskObject*)o;
  if (self->weakrefs) PyObject_ClearWeakRefs(o);
  desk_object* h = self->h;
  self->h = NULL;
  const desk_api* api = ext_state()->api;
  if (h && api) {
    /* Giving the handle back may call into Python (an object the host implements, destroyed). */
    PyObject *type, *error, *trace;
    PyErr_Fetch(&type, &error, &trace);
    api->release(h);
    PyErr_Restore(type, error, trace);
  }
  Py_TYPE(o)->tp_free(o);
}

TypeRecord* object_record(DeskObject* self) {
  if (self->rec) return self->rec;
  if (ext_ready() < 0) return NULL;
  if (!self->h) {
    ext_raise_not_set();
    return NULL;
  }
  desk_error err;
  ext_error_init(&err);
  const desk_interface_info* info = ext_state()->api->object_interface(self->h, &err);
  if (!info) {
    ext_fail(&err);
    return NULL;
  }
  return self->rec = ext_record(info);
}

Member* object_member(DeskObject* self, PyObject* name) {
  TypeRecord* rec = object_record(self);
  if (!rec) return NULL;
  PyObject* m = PyDict_GetItemWithError(rec->members, name);
  if (!m && !PyErr_Occurred() && PyUnicode_Check(name)) {
    PyObject* lower = PyObject_CallMethod(name, "lower", NULL);
    if (!lower) return NULL;
    m = PyDict_GetItemWithError(rec->members, lower);
    Py_DECREF(lower);
  }
  if (!m) {
    if (PyErr_Occurred()) return NULL;
    PyObject* base = ext_text(DESK_E_NOT_SUPPORTED);
    PyObject* text = base ? PyUnicode_FromFormat("%U: %S", base, name) : NULL;
    if (text) {
      ext_raise(ext_state()->attribute_error, DESK_E_NOT_SUPPORTED, text, rec->name);
      Py_DECREF(text);
    }
    return NULL;
  }
  if (!PyObject_TypeCheck(m, &MemberType)) {
    PyErr_Format(PyExc_TypeError, "the type record of %U holds %R, not a desk._ext.Member", rec->name, m);
    return NULL;
  }
  return (Member*)m;
}

/* A name of the object itself ("_h", "__class__", ...): never a member. */
static int private_name(PyObject* name) {
  return !PyUnicode_Check(name) || (PyUnicode_GET_LENGTH(name) > 0 && PyUnicode_READ_CHAR(name, 0) == '_');
}

static PyObject* object_getattro(PyObject* o, PyObject* name) {
  if (private_name(name)) {
    PyObject* r = PyObject_GenericGetAttr(o, name);
    if (!r && PyErr_ExceptionMatches(PyExc_AttributeError)) {
      PyErr_Clear();
      PyErr_SetObject(PyExc_AttributeError, name);
    }
    return r;
  }
  DeskObject* self = (DeskObject*)o;
  if (ext_check_thread() < 0) return NULL;
  Member* m = object_member(self, name);
  if (!m) return NULL;
  if (m->read) {
    /* The hot path of late binding: one call, its result converted in place. */
    desk_value v;
    desk_error err;
    ext_error_init(&err);
    if (ext_state()->api->get(self->h, m->id, &v, &err)) return ext_fail(&err);
    return values_take(&v);
  }
  return bound_new(self, m, (m->kinds & DESK_METHOD) ? DESK_METHOD : DESK_GET);
}

static int object_setattro(PyObject* o, PyObject* name, PyObject* value) {
  if (private_name(name)) {
    PyErr_Format(PyExc_AttributeError, "%S is not a member", name);
    return -1;
  }
  if (!value) return PyObject_GenericSetAttr(o, name, NULL); /* del: no member is deleted */
  DeskObject* self = (DeskObject*)o;
  if (ext_check_thread() < 0) return -1;
  Member* m = object_member(self, name);
  if (!m) return -1;
  /* An object (or Nothing) is written by SET where the member has it, any other value by LET. */
  int by_object = value == Py_None || PyObject_TypeCheck(value, &ObjectBaseType);
  if (!by_object && !PyUnicode_CheckExact(value) && !PyLong_CheckExact(value)) {
    by_object = PyObject_IsInstance(value, ext_state()->host_object);
    if (by_object < 0) return -1;
  }
  int kind = by_object && (m->kinds & DESK_SET) ? DESK_SET : DESK_LET;
  if (!(m->kinds & kind)) kind = (m->kinds & DESK_SET) ? DESK_SET : DESK_LET;
  PyObject* r = call_invoke(self->h, m->id, kind, &value, 1);
  Py_XDECREF(r);
  return r ? 0 : -1;
}

/* The default member with these arguments: Nodes("key"). */
static PyObject* call_default(DeskObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwargs) {
  if (ext_check_thread() < 0) return NULL;
  TypeRecord* rec = object_record(self);
  if (!rec) return NULL;
  if (!rec->value) return ext_raise_text(DESK_E_NOT_SUPPORTED, rec->name);
  Member* m = (Member*)rec->value;
  const int kind = (m->kinds & DESK_GET) ? DESK_GET : DESK_METHOD;
  return call_member(self, m, DESK_ID_VALUE, kind, args, nargs, NULL, kwargs);
}

static PyObject* object_call(PyObject* o, PyObject* args, PyObject* kwargs) {
  return call_default((DeskObject*)o, &PyTuple_GET_ITEM(args, 0), PyTuple_GET_SIZE(args), kwargs);
}

static PyObject* object_subscript(PyObject* o, PyObject* key) {
  if (PyTuple_Check(key)) return call_default((DeskObject*)o, &PyTuple_GET_ITEM(key, 0), PyTuple_GET_SIZE(key), NULL);
  return call_default((DeskObject*)o, &key, 1, NULL);
}

static PyObject* object_type_method(PyObject* o, PyObject* unused) {
  (void)unused;
  if (ext_check_thread() < 0) return NULL;
  TypeRecord* rec = object_record((DeskObject*)o);
  return rec ? Py_NewRef(rec->type) : NULL;
}

static PyObject* object_member_method(PyObject* o, PyObject* name) {
  if (ext_check_thread() < 0) return NULL;
  Member* m = object_member((DeskObject*)o, name);
  return m ? Py_NewRef((PyObject*)m) : NULL;
}

/* _invoke(id, kind, args, kwargs=None, member=None), as on the ctypes path. */
static PyObject* object_invoke_method(PyObject* o, PyObject* args, PyObject* kwds) {
  int id, kind;
  PyObject *pargs, *kwargs = Py_None, *member = Py_None;
  static char* names[] = {"id", "kind", "args", "kwargs", "member", NULL};
  if (!PyArg_ParseTupleAndKeywords(args, kwds, "iiO|OO:_invoke", names, &id, &kind, &pargs, &kwargs, &member))
    return NULL;
  if (ext_check_thread() < 0 || ext_ready() < 0) return NULL;
  if (member != Py_None && !PyObject_TypeCheck(member, &MemberType)) {
    PyErr_SetString(PyExc_TypeError, "member must be a desk._ext.Member");
    return NULL;
  }
  if (kwargs != Py_None && !PyDict_Check(kwargs)) {
    PyErr_SetString(PyExc_TypeError, "kwargs must be a dict");
    return NULL;
  }
  PyObject* seq = PySequence_Fast(pargs, "args must be a sequence");
  if (!seq) return NULL;
  PyObject* r = call_member((DeskObject*)o, member == Py_None ? NULL : (Member*)member, id, kind,
                            PySequence_Fast_ITEMS(seq), PySequence_Fast_GET_SIZE(seq), NULL,
                            kwargs == Py_None ? NULL : kwargs);
  Py_DECREF(seq);
  return r;
}

static PyObject* object_get_h(PyObject* o, void* unused) {
  (void)unused;
  desk_object* h = ((DeskObject*)o)->h;
  if (!h) Py_RETURN_NONE;
  return PyLong_FromVoidPtr(h);
}

static PyObject* object_get_t(PyObject* o, void* unused) {
  (void)unused;
  TypeRecord* rec = ((DeskObject*)o)->rec;
  return Py_NewRef(rec ? rec->type : Py_None);
}

static PyGetSetDef object_getset[] = {
    {"_h", object_get_h, NULL, "the handle (an int), or None", NULL},
    {"_t", object_get_t, NULL, "the type record, once read", NULL},
    {NULL, NULL, NULL, NULL, NULL},
};

static PyMethodDef object_methods[] = {
    {"_type", object_type_method, METH_NOARGS, "The type record of the object's interface."},
    {"_member", object_member_method, METH_O, "The member of that name; 438 when there is none."},
    {"_invoke", (PyCFunction)(void (*)(void))object_invoke_method, METH_VARARGS | METH_KEYWORDS,
     "_invoke(id, kind, args, kwargs=None, member=None): a member call by id."},
    {NULL, NULL, 0, NULL},
};

static PyMappingMethods object_mapping = {.mp_subscript = object_subscript};

PyTypeObject ObjectBaseType = {
    PyVarObject_HEAD_INIT(NULL, 0)
    .tp_name = "desk._ext.Object",
    .tp_basicsize = sizeof(DeskObject),
    .tp_new = object_new,
    .tp_dealloc = object_dealloc,
    .tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE,
    .tp_doc = "An object of a control library, reached late-bound by member name.",
    .tp_getattro = object_getattro,
    .tp_setattro = object_setattro,
    .tp_call = object_call,
    .tp_as_mapping = &object_mapping,
    .tp_weaklistoffset = offsetof(DeskObject, weakrefs),
    .tp_methods = object_methods,
    .tp_getset = object_getset,
};
