#include "call.h"

#include "values.h"

/* A method may wait (a Fill for its downloads, a modal menu, a message box) on work that other
 * Python threads do, such as a picture server the host runs in a thread: the GIL is let go for
 * it, as the ctypes path does. Property reads and writes keep it, which is what makes them
 * fast; a call made meanwhile from another thread is refused by the interface. */
static int32_t invoke_member(desk_object* h, int32_t id, int32_t kind, desk_value* a, int32_t n, desk_value* result,
                             desk_error* err) {
  const desk_api* api = ext_state()->api;
  if (!(kind & DESK_METHOD)) return api->invoke(h, id, kind, a, n, result, err);
  int32_t rc;
  Py_BEGIN_ALLOW_THREADS
  rc = api->invoke(h, id, kind, a, n, result, err);
  Py_END_ALLOW_THREADS
  return rc;
}

PyObject* call_invoke(desk_object* h, int32_t id, int32_t kind, PyObject* const* args, Py_ssize_t n) {
  desk_value result;
  desk_error err;
  ext_error_init(&err);
  if (n == 0) {
    if (invoke_member(h, id, kind, NULL, 0, &result, &err)) return ext_fail(&err);
    return values_take(&result);
  }
  if (n > INT32_MAX) return PyErr_NoMemory();
  Keep keep;
  keep_init(&keep);
  desk_value* a = keep_alloc(&keep, (size_t)n * sizeof(desk_value));
  Py_ssize_t converted = 0;
  if (a) {
    while (converted < n && values_to_c(args[converted], &a[converted], &keep) == 0) ++converted;
  }
  if (converted < n) {
    /* Nothing was called: the targets converted so far own nothing. */
    keep_done(&keep);
    return NULL;
  }
  const int32_t rc = invoke_member(h, id, kind, a, (int32_t)n, &result, &err);
  /* Every by-reference target now holds a value written by the library: each is taken back
   * (and so given back). After a failure the rest are only given back, the failure held. */
  PyObject *type = NULL, *error = NULL, *trace = NULL;
  for (Py_ssize_t i = 0; i < n; ++i) {
    if (a[i].kind != DESK_BYREF) continue;
    if (type) {
      ext_state()->api->value_clear(a[i].u.ref);
      continue;
    }
    PyObject* v = values_take(a[i].u.ref);
    if (!v || PyObject_SetAttr(args[i], ext_state()->value_name, v) < 0) PyErr_Fetch(&type, &error, &trace);
    Py_XDECREF(v);
  }
  PyObject* r = NULL;
  if (type) {
    ext_state()->api->value_clear(&result);
    PyErr_Restore(type, error, trace);
  } else if (rc) {
    ext_fail(&err);
  } else {
    r = values_take(&result);
  }
  keep_done(&keep); /* lent host handles given back once the result is the caller's */
  return r;
}

PyObject* call_member(DeskObject* self, Member* m, int32_t id, int32_t kind, PyObject* const* args,
                      Py_ssize_t nargs, PyObject* kwnames, PyObject* kwargs) {
  const int keywords = kwnames ? PyTuple_GET_SIZE(kwnames) > 0 : kwargs && PyDict_GET_SIZE(kwargs) > 0;
  if (!keywords) return call_invoke(self->h, id, kind, args, nargs);
  if (!m) {
    PyErr_SetString(PyExc_TypeError, "keyword arguments need the member they are placed by");
    return NULL;
  }
  PyObject* space[16];
  PyObject** placed;
  Py_ssize_t n = member_place(m, kind, args, nargs, kwnames, kwargs, space, 16, &placed);
  if (n < 0) return NULL;
  /* The placed values are borrowed from the caller's arguments, which outlive the call. */
  PyObject* r = call_invoke(self->h, id, kind, placed, n);
  if (placed != space) PyMem_Free(placed);
  return r;
}
