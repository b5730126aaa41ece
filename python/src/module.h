/* desk._ext: the compiled fast path of the desk package, over desk/desk_c.h alone.
 *
 * When the package's libraries load, its loader hands the extension the C interface's table
 * (setup in module.c), and the extension takes the package's classes and hooks from their
 * modules by name. Everything it holds is one state, reached through ext_state(). Late binding
 * stays the package's: type information is read once per interface by _objects._Type (whose
 * members are this extension's Member objects) and indexed here by the interface it describes. Nothing of
 * one call is kept here: every call keeps its values and its error record on its own stack.
 * The GIL is held through property reads and writes and let go while a method runs (call.c);
 * a control's calls run on the UI thread alone.
 */
#ifndef DESK_EXT_MODULE_H
#define DESK_EXT_MODULE_H

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "desk/desk_c.h"

/* One interface's type record: the package's _Type and what the hot paths read of it. */
typedef struct TypeRecord {
  const desk_interface_info* info;
  PyObject* type;    /* _objects._Type */
  PyObject* members; /* its dict: name (exact, and in lower case) -> Member */
  PyObject* value;   /* its default member, or NULL */
  PyObject* name;    /* the interface's name: the source of its errors */
} TypeRecord;

typedef struct ExtState {
  const desk_api* api;
  /* Taken from the package by name (module.c's table of imports). */
  PyObject* object_class;     /* desk.Object: what a handle becomes (a type) */
  PyObject* type_for;         /* interface address -> _Type */
  PyObject* error_for;        /* (number, text, source) -> DeskError, its cause chained */
  PyObject* desk_error;       /* DeskError */
  PyObject* attribute_error;  /* the DeskError that is an AttributeError too (unknown names) */
  PyObject* texts;            /* dict: number -> the run-time's text, for the errors raised here */
  PyObject* host_by_handle;   /* dict: handle -> key of an object the host implements */
  PyObject* object_from;      /* (handle, owned) -> the host's own object for such a handle */
  PyObject* host_object;      /* HostObject */
  PyObject* byref;            /* ByRef */
  PyObject* integer;          /* Integer */
  PyObject* single;           /* Single */
  PyObject* missing;          /* Missing */
  PyObject* empty;            /* Empty */
  /* The package's thread rule: a function that raises its error on any thread but the UI
   * thread, asked once on that thread and then only on another one (the UI thread is fixed for
   * the life of the process). set_thread_check replaces it. */
  PyObject* thread_check;
  PyObject* value_name; /* "value", interned */
  unsigned long ui_thread;
  int ui_thread_known;
} ExtState;

/* The extension's one state (the module is loaded once per process), reached only through
 * ext_state(). Inline, for the hot paths: the storage is defined in module.c. */
extern ExtState ext_state_storage;
static inline ExtState* ext_state(void) { return &ext_state_storage; }

int ext_check_thread_slow(void);

/* 0 when called on the UI thread; otherwise -1 with the package's error set. Every entry point
 * that reaches the C interface or the type records asks this first. */
static inline int ext_check_thread(void) {
  const ExtState* st = ext_state();
  if (st->ui_thread_known && PyThread_get_thread_ident() == st->ui_thread) return 0;
  return ext_check_thread_slow();
}

/* The error record of a failed call as the package's DeskError (NULL returned). */
PyObject* ext_fail(const desk_error* err);

/* A DeskError the extension raises itself; `cls` is DeskError or the attribute error; `source`
 * NULL for "desk". */
PyObject* ext_raise(PyObject* cls, int number, PyObject* text, PyObject* source);
/* The same as a DeskError. */
PyObject* ext_raise_error(int number, PyObject* text, PyObject* source);
/* The same with the run-time's text of the number (the package's _errors.TEXTS). */
PyObject* ext_raise_text(int number, PyObject* source);
/* That text (a borrowed str), for a number the extension raises: 6, 13, 91 or 438; NULL with an
 * exception set when the package's table lost it. */
PyObject* ext_text(int number);
/* 91, for a handle that is gone or an object that is Nothing (NULL returned). */
static inline PyObject* ext_raise_not_set(void) {
  return ext_raise_text(DESK_E_OBJECT_NOT_SET, NULL);
}

/* An empty error record, without clearing all of its text buffers (a call's hot path). */
static inline void ext_error_init(desk_error* err) {
  err->number = 0;
  err->text[0] = err->source[0] = '\0';
}

/* The type record of an interface, made on first use (NULL with an exception). */
TypeRecord* ext_record(const desk_interface_info* info);

/* 0 when setup has run; otherwise -1 with an exception. */
int ext_ready(void);

#endif
