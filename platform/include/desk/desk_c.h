/* The controls' automation interface for any language: plain C, C99 and C++.
 *
 * A host that knows no C++ loads a control library by name and reaches everything through
 * this header:
 *
 *   void* lib = dlopen("libVarbelTreeview.so", RTLD_NOW);
 *   desk_get_api_fn get = (desk_get_api_fn)dlsym(lib, "VarbelTreeview_DeskApi");
 *   desk_error err;
 *   const desk_api* api = get(DESK_C_VERSION, &err);          (NULL on a version mismatch)
 *   desk_create_fn create = (desk_create_fn)dlsym(lib, "VarbelTreeview_DeskCreate");
 *   desk_object* tree;
 *   if (create("{D5CA163D-6878-4BD8-A144-A5E85A414594}", &tree, &err)) ... err.number, err.text
 *   desk_value v;
 *   api->get(tree, 0x68030024, &v, &err);                     (Indentation)
 *   api->release(tree);
 *
 * Every function is also exported by name from libDeskRuntime.so, for hosts that link it.
 *
 * OWNERSHIP, the same for every call:
 *  - Handles. A desk_object* that the interface gives out (create, a result, a by-reference
 *    argument written back, desk_host_new, desk_bag_new/load) carries one reference owned by
 *    the receiver, who gives it back with desk_release. Handles passed in are borrowed; a
 *    callee that keeps one takes its own reference. Handles given to a host's callback are
 *    borrowed for the callback's duration (desk_addref to keep one).
 *  - Values. A desk_value the interface fills in (result, by-reference targets after a call,
 *    desk_string_utf8) owns its string and object: free it with desk_value_clear. A value of
 *    any other kind owns nothing: clearing it is allowed, never needed. Values passed
 *    in are borrowed for the call and never freed by the callee. After desk_invoke returns,
 *    every by-reference target holds a value written by the interface (owned: clear it): its
 *    value after the call, or Empty when the call failed before reading it; what the target
 *    held before is overwritten without being freed (it was the caller's).
 *  - Inside a host callback, the result and by-reference arguments are the library's storage:
 *    write them only with desk_value_set, which copies its source. What a callback wrote into
 *    a by-reference argument stands even when it then returns an error.
 *  - Type information (desk_interface_info and what it points to) lives as long as the
 *    library is loaded; never free it.
 * ERRORS are never thrown: a function returns 0 or the error number, and fills the caller's
 * desk_error (when not NULL) with the number, the platform's text and the source (the
 * interface whose member failed, or "desk"). A handle that was released (or never issued) is
 * refused with 91 where it can be detected. Memory running out answers 7; when it runs out
 * only as the result is handed back, the member has run and what it did stands.
 * THREADS: the objects live on one thread, the UI thread: the first thread that calls in
 * (normally the one that chooses the platform or creates the first object), for the life of
 * the process; on the Qt platform it is the application object's thread. A call from any
 * other thread is refused with DESK_E_WRONG_THREAD and does nothing, with these exceptions,
 * which any thread may call: desk_version, desk_check_version, desk_get_api (and each
 * library's <Lib>_DeskApi and <Lib>_DeskTypeLib), desk_handle_count, desk_ui_thread and
 * desk_post; desk_release, whose release is queued to the UI thread (an object dropped by a
 * garbage collector running on another thread); and desk_value_clear, which empties the value
 * at once and gives back what it held on the UI thread. Work for the UI thread is handed to it
 * with desk_post. Host callbacks (invoke, destroy, posted calls) run on the UI thread.
 */
#ifndef DESK_C_H
#define DESK_C_H

#include <stddef.h>
#include <stdint.h>

#include "desk/export.h"

#define DESK_C_API DESK_EXPORT

#ifdef __cplusplus
extern "C" {
#endif

/* The interface version: major in the high 16 bits. A host passes the version it was written
 * for; it is served when the majors are equal and its minor is not newer than the library's. */
#define DESK_C_VERSION_MAJOR 1
#define DESK_C_VERSION_MINOR 2
#define DESK_C_VERSION ((uint32_t)((DESK_C_VERSION_MAJOR << 16) | DESK_C_VERSION_MINOR))

/* Member ids of the automation conventions. */
#define DESK_ID_VALUE 0        /* the default member (Item of a collection) */
#define DESK_ID_NEWENUM (-4)   /* the enumerator: Next(ByRef Item) As Boolean, id 1 */
#define DESK_ID_ENUM_NEXT 1
/* A host property bag answers these two methods (see desk_read_properties). */
#define DESK_ID_READPROPERTY 1  /* ReadProperty(Name, DefaultValue) -> value */
#define DESK_ID_WRITEPROPERTY 2 /* WriteProperty(Name, Value, DefaultValue) */

/* Error numbers (desk_error.number) that a host may test for; each comes with its text. The
 * interface's own answers: */
#define DESK_E_INVALID_CALL 5      /* a call that cannot be made as asked (a NULL out pointer, ...) */
#define DESK_E_OVERFLOW 6          /* a number out of the range of the kind it must become */
#define DESK_E_OUT_OF_MEMORY 7
#define DESK_E_TYPE_MISMATCH 13    /* a value of a kind the member cannot take */
#define DESK_E_OBJECT_NOT_SET 91   /* a NULL handle where an object is needed, or one released */
#define DESK_E_CANT_CREATE 429     /* an unknown class, or a platform that cannot be loaded */
#define DESK_E_NOT_SUPPORTED 438   /* no member of that name or id, or of that invoke kind */
/* The answer to a call from a thread other than the UI thread (see THREADS), 0x8001010E as a
 * signed 32-bit number, with the text "The object was called from a thread other than the one
 * that created it". */
#define DESK_E_WRONG_THREAD (-2147417842)
/* And two that hosts answer with: a host callback that failed in the host's own code, and a
 * binding's call by named arguments that names no parameter of the member. */
#define DESK_E_AUTOMATION 440
#define DESK_E_NAMED_ARGUMENT 448

typedef struct desk_object desk_object; /* opaque */

/* The platform's kinds of value. */
typedef enum desk_kind {
  DESK_EMPTY = 0,
  DESK_MISSING = 1, /* an omitted optional argument */
  DESK_INTEGER = 2, /* 16-bit */
  DESK_LONG = 3,    /* 32-bit */
  DESK_SINGLE = 4,
  DESK_DOUBLE = 5,
  DESK_BOOLEAN = 6, /* 16-bit: True is -1 */
  DESK_STRING = 7,  /* UTF-16 with a length; unpaired surrogates are kept as they are */
  DESK_OBJECT = 8,  /* a handle, or NULL for Nothing */
  DESK_BYREF = 9,   /* u.ref points at the caller's desk_value */
  DESK_ANY = 10     /* only in type information: a parameter that takes any kind */
} desk_kind;

/* How a member is invoked: a property read is GET, a value write LET, an object write SET. */
typedef enum desk_invoke_kind { DESK_GET = 1, DESK_LET = 2, DESK_SET = 4, DESK_METHOD = 8 } desk_invoke_kind;

typedef struct desk_value {
  int32_t kind; /* desk_kind */
  union {
    int16_t integer;
    int32_t long_;
    float single;
    double double_;
    int16_t boolean;
    struct {
      const uint16_t* data;
      int32_t length; /* code units */
    } string;
    desk_object* object;
    struct desk_value* ref;
  } u;
} desk_value;

typedef struct desk_error {
  int32_t number;  /* 0: no error */
  char text[1024]; /* UTF-8, cut at a character boundary */
  char source[128];
} desk_error;

/* Type information, from the library's own tables. */
typedef struct desk_param_info {
  const char* name;
  int32_t kind; /* desk_kind; DESK_ANY for a Variant */
  int32_t by_ref;
  int32_t optional;
  const char* object_type; /* the class an object parameter takes, or NULL */
} desk_param_info;

typedef struct desk_member_info {
  const char* name;
  int32_t id;
  int32_t invoke_kind; /* desk_invoke_kind */
  int32_t result_kind; /* desk_kind; DESK_EMPTY: none */
  int32_t param_count; /* for LET/SET the new value is not listed */
  const desk_param_info* params;
  const char* help; /* event help text, or NULL */
  int32_t hidden;
  const char* object_type; /* the class of an object result, or NULL */
} desk_member_info;

typedef struct desk_interface_info {
  const char* name;
  const char* iid; /* braces form */
  int32_t member_count;
  const desk_member_info* members; /* in the interface's published order */
} desk_interface_info;

typedef struct desk_class_info {
  const char* name;
  const char* clsid;
  int32_t creatable;
  const desk_interface_info* dispatch;
  const desk_interface_info* events; /* NULL: none */
} desk_class_info;

typedef struct desk_typelib_info {
  const char* name;
  const char* libid;
  int32_t class_count;
  const desk_class_info* classes;
  int32_t interface_count;
  const desk_interface_info* const* interfaces;
} desk_typelib_info;

/* An object the host implements. `invoke` answers a member call: it returns 0, or an error
 * number and fills `err`. `args` are borrowed (a by-reference argument is DESK_BYREF whose
 * target the host may overwrite with desk_value_set); `result` is written with desk_value_set.
 * `destroy` runs when the last reference goes. `size` is sizeof(desk_host_vtbl). */
typedef struct desk_host_vtbl {
  uint32_t size;
  int32_t (*invoke)(void* self, int32_t id, int32_t invoke_kind, desk_value* args, int32_t argc,
                    desk_value* result, desk_error* err);
  void (*destroy)(void* self); /* may be NULL */
} desk_host_vtbl;

/* A call queued for the UI thread (desk_post). */
typedef void (*desk_post_fn)(void* data);

/* One member of a host object, so that late-bound callers find it by name. */
typedef struct desk_host_member {
  const char* name;
  int32_t id;
  int32_t invoke_kind;
} desk_host_member;

/* ---- the functions ---- */

/* 0 when a host written for `version` is served; otherwise 429 naming both versions. */
DESK_C_API int32_t desk_check_version(uint32_t version, desk_error* err);
/* The version this library provides. */
DESK_C_API uint32_t desk_version(void);

DESK_C_API int32_t desk_addref(desk_object* obj, desk_error* err);
/* From another thread than the UI thread the release is queued (see desk_post): it answers 0
 * and the handle is given back when the UI thread runs the queued calls. */
DESK_C_API int32_t desk_release(desk_object* obj);
/* References held by hosts through handles, over all objects: 0 when a host gave back all.
 * Any thread (what the UI thread had given back when it was asked). */
DESK_C_API int64_t desk_handle_count(void);

/* The object's dispatch interface, or NULL (err filled). */
DESK_C_API const desk_interface_info* desk_object_interface(desk_object* obj, desk_error* err);
/* The event interface of a control; NULL when the object raises no events. */
DESK_C_API const desk_interface_info* desk_event_interface(desk_object* obj, desk_error* err);
/* The member id for a name (UTF-8, letter case ignored); 438 when there is none. */
DESK_C_API int32_t desk_id_of_name(desk_object* obj, const char* name, int32_t* id, desk_error* err);

/* Calls a member. `args` in declared order (a LET/SET passes the new value last); `result`
 * may be NULL. */
DESK_C_API int32_t desk_invoke(desk_object* obj, int32_t id, int32_t invoke_kind, const desk_value* args,
                               int32_t argc, desk_value* result, desk_error* err);
/* A property read: desk_invoke(obj, id, DESK_GET, NULL, 0, result, err). */
DESK_C_API int32_t desk_get(desk_object* obj, int32_t id, desk_value* result, desk_error* err);

/* Values. */
/* Any thread: from another thread than the UI thread what the value held is given back on the
 * UI thread (a handle as desk_release does; a string is freed at once or queued). */
DESK_C_API void desk_value_clear(desk_value* v);
/* Copies src into dst (strings copied, objects referenced), freeing what dst owned. */
DESK_C_API int32_t desk_value_set(desk_value* dst, const desk_value* src, desk_error* err);
/* A string value from UTF-8 (owned: clear it); 5 for text that is not UTF-8. */
DESK_C_API int32_t desk_string_utf8(const char* utf8, desk_value* out, desk_error* err);
/* The value as text, UTF-8, in `buf` (always terminated); the platform's conversion rules.
 * Returns 0, or the error number when the value does not convert. */
DESK_C_API int32_t desk_value_text(const desk_value* v, char* buf, size_t size, desk_error* err);
/* The value as a 32-bit number, by the platform's coercion rules. */
DESK_C_API int32_t desk_value_long(const desk_value* v, int32_t* out, desk_error* err);

/* Objects the host implements; `members` may be NULL. The new handle has one reference. */
DESK_C_API int32_t desk_host_new(const desk_host_vtbl* vtbl, void* self, const desk_host_member* members,
                                 int32_t member_count, desk_object** out, desk_error* err);

/* A new handle to the live host object made from this `vtbl` and `self` (the library may hold
 * it after the host gave back its own handles); 91 when it is gone. */
DESK_C_API int32_t desk_host_find(const desk_host_vtbl* vtbl, void* self, desk_object** out, desk_error* err);

/* Controls: event sinks and persistence. A sink is any object (a host object whose invoke
 * receives each event as DESK_METHOD with the event's id). A bag is one made by desk_bag_new
 * or desk_bag_load, or a host object answering DESK_ID_READPROPERTY / DESK_ID_WRITEPROPERTY. */
DESK_C_API int32_t desk_advise(desk_object* control, desk_object* sink, int32_t* cookie, desk_error* err);
DESK_C_API int32_t desk_unadvise(desk_object* control, int32_t cookie, desk_error* err);
DESK_C_API int32_t desk_init_properties(desk_object* control, desk_error* err);
DESK_C_API int32_t desk_read_properties(desk_object* control, desk_object* bag, desk_error* err);
DESK_C_API int32_t desk_write_properties(desk_object* control, desk_object* bag, desk_error* err);

/* The run-time's property bag, kept in a file (UTF-8 JSON). */
DESK_C_API int32_t desk_bag_new(desk_object** out, desk_error* err);
DESK_C_API int32_t desk_bag_save(desk_object* bag, const char* path, desk_error* err);
DESK_C_API int32_t desk_bag_load(const char* path, desk_object** out, desk_error* err);

/* The platform. "headless" (the default: no window system) or "qt" (libDeskQt.so, loaded on
 * demand; creates the application object when there is none). Chosen before any object is
 * created: 5 while the host holds a handle. */
DESK_C_API int32_t desk_use_platform(const char* name, desk_error* err);
/* Qt: shows a control in a top-level window of `width` x `height` pixels. */
DESK_C_API int32_t desk_show(desk_object* control, const char* title, int32_t width, int32_t height,
                             desk_error* err);
/* Qt: runs the event loop until desk_quit or the last window closes. desk_quit ends the loop
 * that runs (or the next one to start, when called before desk_run). */
DESK_C_API int32_t desk_run(desk_error* err);
DESK_C_API int32_t desk_quit(desk_error* err);
/* Lets the platform dispatch what is pending, for a host that runs a loop of its own, and runs
 * the calls posted so far. */
DESK_C_API int32_t desk_do_events(desk_error* err);

/* Qt: the control's widget (a QWidget*, a QtSurfaceWidget from desk/qt_platform.h), for a host
 * that puts it in a window of its own: in a layout, a splitter, as a central widget. The
 * control owns it: releasing the control deletes it (it leaves the host's layout), and a host
 * window destroyed first deletes it with the window (the control then has no window, and works
 * on without one). A widget the host never placed is deleted with the control. 5 when the Qt
 * platform is not in use, 438 for an object that is not a control. */
DESK_C_API int32_t desk_widget(desk_object* control, void** widget, desk_error* err);

/* Queues fn(data) to run on the UI thread; any thread may call it. The calls run in the order
 * they were posted: through the event loop on the Qt platform (desk_run or the host's own,
 * such as app.exec()), at the next desk_do_events on either platform. 5 for a null fn; 7 when
 * memory runs out. */
DESK_C_API int32_t desk_post(desk_post_fn fn, void* data, desk_error* err);

/* 0 when the calling thread is the UI thread (the first thread to call in becomes it);
 * DESK_E_WRONG_THREAD otherwise. Any thread. */
DESK_C_API int32_t desk_ui_thread(desk_error* err);

/* The bound in bytes of the cache that keeps the decoded pixels of image list pictures for
 * drawing (64 MiB unless set). A lower bound lets pictures go at once; they are decoded again
 * when next drawn. Version 1.2. */
DESK_C_API int32_t desk_set_picture_cache_bytes(size_t bytes, desk_error* err);

/* The headless platform, as a test or an unattended host drives it: the size of a control's
 * surface (twips), the element that every popup menu shown from now on clicks (its index in
 * the control's menu array: PopUpMenus items are 1, 2, ... in the order added; -1 dismisses),
 * and a mouse click (down and up) with `button` (1 left, 2 right) on a control's tree at
 * (x, y) twips, raising the events a user's click raises. */
DESK_C_API int32_t desk_headless_resize(desk_object* control, float width, float height, desk_error* err);
DESK_C_API int32_t desk_headless_popup_choice(int32_t index, desk_error* err);
DESK_C_API int32_t desk_headless_click(desk_object* control, int32_t button, int32_t shift, float x, float y,
                                       desk_error* err);

/* The same functions as a table, for hosts that load the libraries with dlopen. */
typedef struct desk_api {
  uint32_t version;
  int32_t (*addref)(desk_object*, desk_error*);
  int32_t (*release)(desk_object*);
  int64_t (*handle_count)(void);
  const desk_interface_info* (*object_interface)(desk_object*, desk_error*);
  const desk_interface_info* (*event_interface)(desk_object*, desk_error*);
  int32_t (*id_of_name)(desk_object*, const char*, int32_t*, desk_error*);
  int32_t (*invoke)(desk_object*, int32_t, int32_t, const desk_value*, int32_t, desk_value*, desk_error*);
  int32_t (*get)(desk_object*, int32_t, desk_value*, desk_error*);
  void (*value_clear)(desk_value*);
  int32_t (*value_set)(desk_value*, const desk_value*, desk_error*);
  int32_t (*string_utf8)(const char*, desk_value*, desk_error*);
  int32_t (*value_text)(const desk_value*, char*, size_t, desk_error*);
  int32_t (*value_long)(const desk_value*, int32_t*, desk_error*);
  int32_t (*host_new)(const desk_host_vtbl*, void*, const desk_host_member*, int32_t, desk_object**, desk_error*);
  int32_t (*advise)(desk_object*, desk_object*, int32_t*, desk_error*);
  int32_t (*unadvise)(desk_object*, int32_t, desk_error*);
  int32_t (*init_properties)(desk_object*, desk_error*);
  int32_t (*read_properties)(desk_object*, desk_object*, desk_error*);
  int32_t (*write_properties)(desk_object*, desk_object*, desk_error*);
  int32_t (*bag_new)(desk_object**, desk_error*);
  int32_t (*bag_save)(desk_object*, const char*, desk_error*);
  int32_t (*bag_load)(const char*, desk_object**, desk_error*);
  int32_t (*use_platform)(const char*, desk_error*);
  int32_t (*show)(desk_object*, const char*, int32_t, int32_t, desk_error*);
  int32_t (*run)(desk_error*);
  int32_t (*quit)(desk_error*);
  int32_t (*headless_resize)(desk_object*, float, float, desk_error*);
  int32_t (*headless_popup_choice)(int32_t, desk_error*);
  int32_t (*headless_click)(desk_object*, int32_t, int32_t, float, float, desk_error*);
  int32_t (*host_find)(const desk_host_vtbl*, void*, desk_object**, desk_error*);
  int32_t (*do_events)(desk_error*);
  /* Version 1.1 */
  int32_t (*widget)(desk_object*, void**, desk_error*);
  int32_t (*post)(desk_post_fn, void*, desk_error*);
  int32_t (*ui_thread)(desk_error*);
  /* Version 1.2 */
  int32_t (*set_picture_cache_bytes)(size_t, desk_error*);
} desk_api;

/* The table for a host written for `version`; NULL with err filled on a mismatch. */
DESK_C_API const desk_api* desk_get_api(uint32_t version, desk_error* err);

/* Each control library exports, named after it (VarbelTreeview_..., Quorvane_...):
 *   const desk_api* <Lib>_DeskApi(uint32_t version, desk_error* err);       as desk_get_api
 *   int32_t <Lib>_DeskCreate(const char* clsid, desk_object** out, desk_error* err);
 *       a creatable class by identifier (braces form, any letter case): 0 and a handle with
 *       one reference, or 429 for an unknown class or one hosts may not create
 *   const desk_typelib_info* <Lib>_DeskTypeLib(void);                          its type library */
typedef const desk_api* (*desk_get_api_fn)(uint32_t version, desk_error* err);
typedef int32_t (*desk_create_fn)(const char* clsid, desk_object** out, desk_error* err);
typedef const desk_typelib_info* (*desk_typelib_fn)(void);

#ifdef __cplusplus
}
#endif

#endif /* DESK_C_H */
