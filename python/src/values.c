#include "values.h"

#include <string.h>

#include "object.h"

static const uint16_t no_units[1] = {0}; /* the data of an empty string: never null */

void keep_init(Keep* k) {
  k->used = 0;
  k->blocks = NULL;
  k->nblocks = 0;
  k->lent = NULL;
  k->nlent = 0;
  k->refs = NULL;
  k->nrefs = 0;
}

void keep_done(Keep* k) {
  if (k->nlent || k->nrefs) {
    /* Giving a handle or a reference back may run Python code (an object the host implements
     * being destroyed): never with an exception pending. */
    PyObject *type, *error, *trace;
    PyErr_Fetch(&type, &error, &trace);
    const desk_api* api = ext_state()->api;
    for (Py_ssize_t i = 0; i < k->nlent; ++i) api->release(k->lent[i]);
    for (Py_ssize_t i = 0; i < k->nrefs; ++i) Py_DECREF(k->refs[i]);
    PyErr_Restore(type, error, trace);
  }
  for (Py_ssize_t i = 0; i < k->nblocks; ++i) PyMem_Free(k->blocks[i]);
  PyMem_Free(k->lent);
  PyMem_Free(k->refs);
  PyMem_Free(k->blocks);
  keep_init(k);
}

/* Appends `item` to a growing array of pointers. */
static int push(void*** array, Py_ssize_t* n, void* item) {
  void** grown = PyMem_Realloc(*array, (size_t)(*n + 1) * sizeof(void*));
  if (!grown) {
    PyErr_NoMemory();
    return -1;
  }
  grown[(*n)++] = item;
  *array = grown;
  return 0;
}

void* keep_alloc(Keep* k, size_t bytes) {
  bytes = (bytes + 15) & ~(size_t)15;
  if (bytes <= KEEP_SPACE - k->used) {
    void* p = k->space + k->used;
    k->used += bytes;
    return p;
  }
  void* p = PyMem_Malloc(bytes ? bytes : 1);
  if (!p) {
    PyErr_NoMemory();
    return NULL;
  }
  if (push(&k->blocks, &k->nblocks, p) < 0) {
    PyMem_Free(p);
    return NULL;
  }
  return p;
}

/* A str as UTF-16 for one call. Text of two-byte code points is lent in place: CPython keeps
 * each code unit as it is, lone surrogates included, which is what surrogatepass encodes. */
static int str_to_c(PyObject* s, desk_value* v, Keep* keep) {
#if PY_VERSION_HEX < 0x030C0000
  if (PyUnicode_READY(s) < 0) return -1; /* a string of the old API, made ready once */
#endif
  const Py_ssize_t n = PyUnicode_GET_LENGTH(s);
  const int kind = PyUnicode_KIND(s);
  Py_ssize_t units = n; /* a code point above the first plane takes two */
  if (kind == PyUnicode_4BYTE_KIND) {
    const Py_UCS4* c = PyUnicode_4BYTE_DATA(s);
    for (Py_ssize_t i = 0; i < n; ++i) units += c[i] > 0xFFFF;
  }
  if (units > INT32_MAX) {
    ext_raise_text(DESK_E_OVERFLOW, NULL);
    return -1;
  }
  const uint16_t* data = no_units;
  if (kind == PyUnicode_2BYTE_KIND) {
    data = (const uint16_t*)PyUnicode_2BYTE_DATA(s);
  } else if (n > 0) {
    uint16_t* out = keep_alloc(keep, (size_t)units * sizeof(uint16_t));
    if (!out) return -1;
    if (kind == PyUnicode_1BYTE_KIND) {
      const Py_UCS1* c = PyUnicode_1BYTE_DATA(s);
      for (Py_ssize_t i = 0; i < n; ++i) out[i] = c[i];
    } else {
      const Py_UCS4* c = PyUnicode_4BYTE_DATA(s);
      Py_ssize_t j = 0;
      for (Py_ssize_t i = 0; i < n; ++i) {
        Py_UCS4 u = c[i];
        if (u > 0xFFFF) {
          u -= 0x10000;
          out[j++] = (uint16_t)(0xD800 | (u >> 10));
          out[j++] = (uint16_t)(0xDC00 | (u & 0x3FF));
        } else {
          out[j++] = (uint16_t)u;
        }
      }
    }
    data = out;
  }
  v->kind = DESK_STRING;
  v->u.string.data = data;
  v->u.string.length = (int32_t)units;
  return 0;
}

/* An int: a Long when it fits in 32 bits, else a Double. */
static int int_to_c(PyObject* x, desk_value* v) {
  int overflow = 0;
  long long n = PyLong_AsLongLongAndOverflow(x, &overflow);
  if (n == -1 && PyErr_Occurred()) return -1;
  if (!overflow && n >= INT32_MIN && n <= INT32_MAX) {
    v->kind = DESK_LONG;
    v->u.long_ = (int32_t)n;
    return 0;
  }
  double d = PyLong_AsDouble(x);
  if (d == -1.0 && PyErr_Occurred()) {
    if (!PyErr_ExceptionMatches(PyExc_OverflowError)) return -1;
    PyErr_Clear();
    ext_raise_text(DESK_E_OVERFLOW, NULL);
    return -1;
  }
  v->kind = DESK_DOUBLE;
  v->u.double_ = d;
  return 0;
}

static int integer_to_c(PyObject* x, desk_value* v) {
  int overflow = 0;
  long n = PyLong_AsLongAndOverflow(x, &overflow);
  if (n == -1 && PyErr_Occurred()) return -1;
  if (overflow || n < -32768 || n > 32767) {
    ext_raise_text(DESK_E_OVERFLOW, NULL);
    return -1;
  }
  v->kind = DESK_INTEGER;
  v->u.integer = (int16_t)n;
  return 0;
}

static int hold(Keep* keep, PyObject* x) {
  if (push((void***)&keep->refs, &keep->nrefs, x) < 0) {
    Py_DECREF(x);
    return -1;
  }
  return 0;
}

/* A HostObject: a handle lent for the call (_desk_lend), given back by keep_done. */
static int host_to_c(PyObject* x, desk_value* v, Keep* keep) {
  PyObject* r = PyObject_CallMethod(x, "_desk_lend", NULL);
  if (!r) return -1;
  desk_object* h = PyLong_AsVoidPtr(r);
  Py_DECREF(r);
  if (!h && PyErr_Occurred()) return -1;
  if (push((void***)&keep->lent, &keep->nlent, h) < 0) {
    ext_state()->api->release(h);
    return -1;
  }
  v->kind = DESK_OBJECT;
  v->u.object = h;
  return 0;
}

/* A ByRef: its value in a target of its own, which the call may overwrite. */
static int byref_to_c(PyObject* x, desk_value* v, Keep* keep) {
  PyObject* value = PyObject_GetAttr(x, ext_state()->value_name);
  if (!value || hold(keep, value) < 0) return -1; /* held: its text may be lent in place */
  desk_value* target = keep_alloc(keep, sizeof(desk_value));
  if (!target) return -1;
  memset(target, 0, sizeof *target);
  if (values_to_c(value, target, keep) < 0) return -1;
  v->kind = DESK_BYREF;
  v->u.ref = target;
  return 0;
}

static int mismatch(PyObject* x) {
  PyObject* name = PyObject_GetAttrString((PyObject*)Py_TYPE(x), "__name__");
  if (!name) return -1;
  PyObject* base = ext_text(DESK_E_TYPE_MISMATCH);
  PyObject* text = base ? PyUnicode_FromFormat("%U: a %U cannot be passed", base, name) : NULL;
  Py_DECREF(name);
  if (!text) return -1;
  ext_raise_error(DESK_E_TYPE_MISMATCH, text, NULL);
  Py_DECREF(text);
  return -1;
}

int values_to_c(PyObject* x, desk_value* v, Keep* keep) {
  const ExtState* st = ext_state();
  memset(v, 0, sizeof *v);
  /* The common kinds first, by exact type or identity; then in the order _convert tests
   * them, which decides for subclasses (bool before Integer before int, Single before float). */
  if (PyUnicode_CheckExact(x)) return str_to_c(x, v, keep);
  if (PyLong_CheckExact(x)) return int_to_c(x, v);
  if (x == Py_None) {
    v->kind = DESK_OBJECT;
    v->u.object = NULL;
    return 0;
  }
  if (x == st->missing) { /* the gaps that keywords leave */
    v->kind = DESK_MISSING;
    return 0;
  }
  if (x == st->empty) {
    v->kind = DESK_EMPTY;
    return 0;
  }
  if (PyUnicode_Check(x)) return str_to_c(x, v, keep);
  if (PyBool_Check(x)) {
    v->kind = DESK_BOOLEAN;
    v->u.boolean = x == Py_True ? -1 : 0;
    return 0;
  }
  int is = PyObject_IsInstance(x, st->integer);
  if (is) return is < 0 ? -1 : integer_to_c(x, v);
  if (PyLong_Check(x)) return int_to_c(x, v);
  if ((is = PyObject_IsInstance(x, st->single))) {
    if (is < 0) return -1;
    v->kind = DESK_SINGLE;
    v->u.single = (float)PyFloat_AsDouble(x);
    return PyErr_Occurred() ? -1 : 0;
  }
  if (PyFloat_Check(x)) {
    v->kind = DESK_DOUBLE;
    v->u.double_ = PyFloat_AS_DOUBLE(x);
    return 0;
  }
  if (PyObject_TypeCheck(x, &ObjectBaseType)) {
    desk_object* h = ((DeskObject*)x)->h;
    if (!h) {
      ext_raise_not_set();
      return -1;
    }
    v->kind = DESK_OBJECT;
    v->u.object = h;
    return 0;
  }
  if ((is = PyObject_IsInstance(x, st->host_object))) return is < 0 ? -1 : host_to_c(x, v, keep);
  if ((is = PyObject_IsInstance(x, st->byref))) return is < 0 ? -1 : byref_to_c(x, v, keep);
  return mismatch(x);
}

PyObject* values_str(const uint16_t* p, int32_t n) {
  if (n <= 0) return PyUnicode_New(0, 0);
  /* Only a surrogate needs the codec: a pair makes one code point, a lone one stays. */
  for (int32_t i = 0; i < n; ++i) {
    if ((p[i] & 0xF800) == 0xD800) {
      int order = PY_BIG_ENDIAN ? 1 : -1; /* the machine's order, which the library writes in */
      return PyUnicode_DecodeUTF16((const char*)p, 2 * (Py_ssize_t)n, "surrogatepass", &order);
    }
  }
  return PyUnicode_FromKindAndData(PyUnicode_2BYTE_KIND, p, n);
}

PyObject* values_object(desk_object* h, int owned) {
  const ExtState* st = ext_state();
  if (PyDict_GET_SIZE(st->host_by_handle) > 0) {
    /* Perhaps an object the host implements: the package gives back the host's own object. */
    PyObject* key = PyLong_FromVoidPtr(h);
    if (!key) goto failed;
    int found = PyDict_Contains(st->host_by_handle, key);
    if (found > 0) {
      PyObject* r = PyObject_CallFunction(st->object_from, "Oi", key, owned);
      Py_DECREF(key);
      return r;
    }
    Py_DECREF(key);
    if (found < 0) goto failed;
  }
  if (!owned) {
    if (st->api->addref(h, NULL) != 0)
      return ext_raise_not_set();
    owned = 1; /* the reference just taken is the result's */
  }
  PyObject* o = object_wrap(h);
  if (o) return o;
failed:
  if (owned) st->api->release(h);
  return NULL;
}

PyObject* values_peek(const desk_value* v) {
  switch (v->kind) {
    case DESK_LONG: return PyLong_FromLong(v->u.long_);
    case DESK_STRING: return values_str(v->u.string.data, v->u.string.length);
    case DESK_OBJECT:
      if (!v->u.object) Py_RETURN_NONE;
      return values_object(v->u.object, 0);
    case DESK_BOOLEAN: return PyBool_FromLong(v->u.boolean != 0);
    case DESK_INTEGER: return PyLong_FromLong(v->u.integer);
    case DESK_SINGLE: return PyFloat_FromDouble(v->u.single);
    case DESK_DOUBLE: return PyFloat_FromDouble(v->u.double_);
    case DESK_EMPTY: Py_RETURN_NONE;
    case DESK_MISSING: return Py_NewRef(ext_state()->missing);
    case DESK_BYREF: return values_peek(v->u.ref);
    default: {
      PyObject* text = PyUnicode_FromFormat("Unknown kind of value %d", (int)v->kind);
      if (text) {
        ext_raise_error(DESK_E_TYPE_MISMATCH, text, NULL);
        Py_DECREF(text);
      }
      return NULL;
    }
  }
}

PyObject* values_take(desk_value* v) {
  switch (v->kind) {
    case DESK_OBJECT: {
      desk_object* h = v->u.object;
      v->kind = DESK_EMPTY;
      v->u.object = NULL;
      if (!h) Py_RETURN_NONE;
      return values_object(h, 1);
    }
    case DESK_STRING: {
      PyObject* s = values_str(v->u.string.data, v->u.string.length);
      ext_state()->api->value_clear(v);
      return s;
    }
    default: return values_peek(v); /* nothing else that a result holds is owned */
  }
}
